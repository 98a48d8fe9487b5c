#include "crypto.hpp"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include <vector>

#include "win_handle.hpp"

namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

void CloseAlgorithm(BCRYPT_ALG_HANDLE handle) { ::BCryptCloseAlgorithmProvider(handle, 0); }
void DestroyKey(BCRYPT_KEY_HANDLE handle) { ::BCryptDestroyKey(handle); }
void DestroyHash(BCRYPT_HASH_HANDLE handle) { ::BCryptDestroyHash(handle); }

using AlgorithmHandle = UniqueHandle<BCRYPT_ALG_HANDLE, nullptr, CloseAlgorithm>;
using KeyHandle = UniqueHandle<BCRYPT_KEY_HANDLE, nullptr, DestroyKey>;
using HashHandle = UniqueHandle<BCRYPT_HASH_HANDLE, nullptr, DestroyHash>;

AlgorithmHandle OpenAlgorithm(const wchar_t* name) {
  BCRYPT_ALG_HANDLE handle = nullptr;
  if (!Succeeded(::BCryptOpenAlgorithmProvider(&handle, name, nullptr, 0))) return {};
  return AlgorithmHandle(handle);
}

}  // namespace

struct Sha256::State {
  AlgorithmHandle algorithm = OpenAlgorithm(BCRYPT_SHA256_ALGORITHM);
  HashHandle hash;  // closed before the algorithm
  bool failed = false;

  State() {
    // Without a buffer of ours, CNG keeps the hash object itself (Windows 7 and later).
    BCRYPT_HASH_HANDLE created = nullptr;
    failed = !algorithm || !Succeeded(::BCryptCreateHash(algorithm.get(), &created, nullptr, 0, nullptr, 0, 0));
    if (!failed) hash.Reset(created);
  }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}
Sha256::~Sha256() = default;

void Sha256::Add(const void* data, std::size_t size) {
  auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));  // CNG does not write through it
  while (!state_->failed && size > 0) {
    const ULONG chunk = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
    state_->failed = !Succeeded(::BCryptHashData(state_->hash.get(), bytes, chunk, 0));
    bytes += chunk;
    size -= chunk;
  }
}

std::optional<Sha256Digest> Sha256::Finish() {
  Sha256Digest digest{};
  if (state_->failed || !Succeeded(::BCryptFinishHash(state_->hash.get(), digest.data(), digest.size(), 0)))
    return std::nullopt;
  state_->failed = true;  // a finished hash takes no more data
  return digest;
}

bool VerifyP256Signature(std::string_view message, const Signature& signature, const PublicKey& key) {
  auto digest = Sha256Of(message);  // CNG takes the hash through a pointer to non-const
  if (!digest) return false;

  const AlgorithmHandle ecdsa = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
  if (!ecdsa) return false;
  std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + key.size());
  const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, static_cast<ULONG>(key.size() / 2)};
  std::memcpy(blob.data(), &header, sizeof header);
  std::memcpy(blob.data() + sizeof header, key.data(), key.size());
  BCRYPT_KEY_HANDLE created = nullptr;
  if (!Succeeded(::BCryptImportKeyPair(ecdsa.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &created, blob.data(),
                                       static_cast<ULONG>(blob.size()), 0)))
    return false;
  const KeyHandle imported(created);
  Signature copy = signature;
  return ::BCryptVerifySignature(imported.get(), nullptr, digest->data(), static_cast<ULONG>(digest->size()),
                                 copy.data(), static_cast<ULONG>(copy.size()), 0) == 0;
}
