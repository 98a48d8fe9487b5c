// The publisher's P-256 private key, which signs manifests for an updater built with its public key.
#pragma once

#include <filesystem>
#include <memory>
#include <string_view>

#include "manifest/manifest_signature.hpp"

struct evp_pkey_st;

class SigningKey {
 public:
  // A new key from the system's random source.
  static SigningKey Generate();
  // An unencrypted PEM private key (PKCS#8, as Save writes it) on P-256. Throws PublishError.
  static SigningKey Load(const std::filesystem::path& pemFile);

  // Writes the key as unencrypted PKCS#8 PEM to a new file, readable by its owner only; never over
  // an existing file. Throws PublishError.
  void SaveNew(const std::filesystem::path& pemFile) const;

  PublicKey Public() const;
  // ECDSA over SHA-256 of `message`, r and s left-padded to 32 bytes each.
  Signature Sign(std::string_view message) const;

 private:
  struct Free {
    void operator()(evp_pkey_st* key) const;
  };
  explicit SigningKey(evp_pkey_st* key) : key_(key) {}

  std::unique_ptr<evp_pkey_st, Free> key_;
};
