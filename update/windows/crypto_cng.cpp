#include "crypto.hpp"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include <vector>

namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

class Algorithm {
 public:
  explicit Algorithm(const wchar_t* name) {
    if (!Succeeded(::BCryptOpenAlgorithmProvider(&handle_, name, nullptr, 0))) handle_ = nullptr;
  }
  ~Algorithm() {
    if (handle_) ::BCryptCloseAlgorithmProvider(handle_, 0);
  }
  Algorithm(const Algorithm&) = delete;
  Algorithm& operator=(const Algorithm&) = delete;
  BCRYPT_ALG_HANDLE get() const { return handle_; }

 private:
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

class Key {
 public:
  Key() = default;
  ~Key() {
    if (handle_) ::BCryptDestroyKey(handle_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  BCRYPT_KEY_HANDLE* out() { return &handle_; }
  BCRYPT_KEY_HANDLE get() const { return handle_; }

 private:
  BCRYPT_KEY_HANDLE handle_ = nullptr;
};

}  // namespace

struct Sha256::State {
  Algorithm algorithm{BCRYPT_SHA256_ALGORITHM};
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool failed = false;

  State() {
    // Without a buffer of ours, CNG keeps the hash object itself (Windows 7 and later).
    failed = !algorithm.get() || !Succeeded(::BCryptCreateHash(algorithm.get(), &hash, nullptr, 0, nullptr, 0, 0));
  }
  ~State() {
    if (hash) ::BCryptDestroyHash(hash);
  }
  State(const State&) = delete;
  State& operator=(const State&) = delete;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}
Sha256::~Sha256() = default;

void Sha256::Add(const void* data, std::size_t size) {
  auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));  // CNG does not write through it
  while (!state_->failed && size > 0) {
    const ULONG chunk = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
    state_->failed = !Succeeded(::BCryptHashData(state_->hash, bytes, chunk, 0));
    bytes += chunk;
    size -= chunk;
  }
}

std::optional<Sha256Digest> Sha256::Finish() {
  Sha256Digest digest{};
  if (state_->failed || !Succeeded(::BCryptFinishHash(state_->hash, digest.data(), digest.size(), 0)))
    return std::nullopt;
  state_->failed = true;  // a finished hash takes no more data
  return digest;
}

bool VerifyP256Signature(std::string_view message, const Signature& signature, const PublicKey& key) {
  auto digest = Sha256Of(message);  // CNG takes the hash through a pointer to non-const
  if (!digest) return false;

  Algorithm ecdsa(BCRYPT_ECDSA_P256_ALGORITHM);
  if (!ecdsa.get()) return false;
  std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + key.size());
  const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, static_cast<ULONG>(key.size() / 2)};
  std::memcpy(blob.data(), &header, sizeof header);
  std::memcpy(blob.data() + sizeof header, key.data(), key.size());
  Key imported;
  if (!Succeeded(::BCryptImportKeyPair(ecdsa.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, imported.out(), blob.data(),
                                       static_cast<ULONG>(blob.size()), 0)))
    return false;
  Signature copy = signature;
  return ::BCryptVerifySignature(imported.get(), nullptr, digest->data(), static_cast<ULONG>(digest->size()),
                                 copy.data(), static_cast<ULONG>(copy.size()), 0) == 0;
}
