#include "crypto.hpp"

#include <openssl/core_names.h>

#include <vector>

#include "openssl_owned.hpp"

namespace {

using openssl::DigestContext;
using openssl::EcdsaSig;
using openssl::ParamBuilder;
using openssl::Params;
using openssl::Pkey;
using openssl::PkeyContext;

// An EC public key on P-256 from the uncompressed point 04‖X‖Y.
Pkey ImportPublicKey(const PublicKey& key) {
  std::vector<unsigned char> point{0x04};
  point.insert(point.end(), key.begin(), key.end());
  ParamBuilder builder(OSSL_PARAM_BLD_new());
  if (!builder || !OSSL_PARAM_BLD_push_utf8_string(builder.get(), OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0) ||
      !OSSL_PARAM_BLD_push_octet_string(builder.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size()))
    return nullptr;
  Params params(OSSL_PARAM_BLD_to_param(builder.get()));
  PkeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY* imported = nullptr;
  if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
      EVP_PKEY_fromdata(context.get(), &imported, EVP_PKEY_PUBLIC_KEY, params.get()) != 1)
    return nullptr;
  return Pkey(imported);
}

// r‖s as the DER structure OpenSSL verifies.
std::vector<unsigned char> DerSignature(const Signature& signature) {
  EcdsaSig sig(ECDSA_SIG_new());
  BIGNUM* r = BN_bin2bn(signature.data(), 32, nullptr);
  BIGNUM* s = BN_bin2bn(signature.data() + 32, 32, nullptr);
  if (!sig || !r || !s || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
    BN_free(r);
    BN_free(s);
    return {};
  }
  const int length = i2d_ECDSA_SIG(sig.get(), nullptr);
  if (length <= 0) return {};
  std::vector<unsigned char> der(static_cast<std::size_t>(length));
  unsigned char* out = der.data();
  i2d_ECDSA_SIG(sig.get(), &out);
  return der;
}

}  // namespace

struct Sha256::State {
  DigestContext context{EVP_MD_CTX_new()};
  bool failed = !context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}
Sha256::~Sha256() = default;

void Sha256::Add(const void* data, std::size_t size) {
  if (!state_->failed) state_->failed = EVP_DigestUpdate(state_->context.get(), data, size) != 1;
}

std::optional<Sha256Digest> Sha256::Finish() {
  Sha256Digest digest{};
  unsigned int length = 0;
  if (state_->failed || EVP_DigestFinal_ex(state_->context.get(), digest.data(), &length) != 1 ||
      length != digest.size())
    return std::nullopt;
  state_->failed = true;
  return digest;
}

bool VerifyP256Signature(std::string_view message, const Signature& signature, const PublicKey& key) {
  const Pkey pkey = ImportPublicKey(key);
  const std::vector<unsigned char> der = DerSignature(signature);
  DigestContext context(EVP_MD_CTX_new());
  if (!pkey || der.empty() || !context ||
      EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, pkey.get()) != 1)
    return false;
  return EVP_DigestVerify(context.get(), der.data(), der.size(), reinterpret_cast<const unsigned char*>(message.data()),
                          message.size()) == 1;
}
