// The platform's cryptography: SHA-256 and ECDSA P-256 verification. Windows CNG (bcrypt.dll)
// in the updater, OpenSSL's libcrypto in the host build.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>

#include "file_digest.hpp"
#include "manifest/manifest_signature.hpp"

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Add(const void* data, std::size_t size);
  // The digest of everything added; nothing when the platform could not compute it.
  std::optional<Sha256Digest> Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// SHA-256 of `bytes`, through Sha256.
std::optional<Sha256Digest> Sha256Of(std::string_view bytes);

// Whether `signature` is the key's ECDSA P-256 signature over SHA-256 of `message`. A key that is
// no point of the curve verifies nothing.
bool VerifyP256Signature(std::string_view message, const Signature& signature, const PublicKey& key);
