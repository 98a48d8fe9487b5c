#include "signing_key.hpp"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "host/openssl_owned.hpp"
#include "release.hpp"

namespace {

using openssl::Bignum;
using openssl::Bio;
using openssl::DigestContext;
using openssl::EcdsaSig;
using openssl::PkeyContext;

constexpr std::size_t kCoordinate = 32;

// Writes `value` as exactly 32 big-endian bytes, zeros in front.
bool PadTo32(const BIGNUM* value, std::uint8_t* out) {
  return value && BN_bn2binpad(value, out, static_cast<int>(kCoordinate)) == static_cast<int>(kCoordinate);
}

// A key file that asks for a password is refused, never prompted for.
int NoPassword(char*, int, int, void*) { return -1; }

std::string Shown(const std::filesystem::path& path) { return path.string(); }

}  // namespace

void SigningKey::Free::operator()(evp_pkey_st* key) const { EVP_PKEY_free(key); }

SigningKey SigningKey::Generate() {
  PkeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY* key = nullptr;
  if (!context || EVP_PKEY_keygen_init(context.get()) != 1 ||
      EVP_PKEY_CTX_set_group_name(context.get(), "prime256v1") != 1 || EVP_PKEY_generate(context.get(), &key) != 1)
    throw PublishError("no P-256 key could be generated");
  return SigningKey(key);
}

SigningKey SigningKey::Load(const std::filesystem::path& pemFile) {
  Bio in(BIO_new_file(pemFile.c_str(), "rb"));
  if (!in) throw PublishError(Shown(pemFile) + ": cannot be read");
  SigningKey loaded(PEM_read_bio_PrivateKey(in.get(), nullptr, NoPassword, nullptr));
  if (!loaded.key_) throw PublishError(Shown(pemFile) + ": not an unencrypted PEM private key");
  char group[32] = {};
  if (!EVP_PKEY_is_a(loaded.key_.get(), "EC") ||
      EVP_PKEY_get_utf8_string_param(loaded.key_.get(), OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, nullptr) !=
          1 ||
      std::strcmp(group, "prime256v1") != 0)
    throw PublishError(Shown(pemFile) + ": not a P-256 (prime256v1) key");
  return loaded;
}

void SigningKey::SaveNew(const std::filesystem::path& pemFile) const {
  Bio pem(BIO_new(BIO_s_mem()));
  char* bytes = nullptr;
  if (!pem || PEM_write_bio_PKCS8PrivateKey(pem.get(), key_.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
    throw PublishError("the key could not be written as PEM");
  const long size = BIO_get_mem_data(pem.get(), &bytes);

  const int fd = ::open(pemFile.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) {
    const int error = errno;
    OPENSSL_cleanse(bytes, static_cast<std::size_t>(size));
    if (error == EEXIST) throw PublishError(Shown(pemFile) + ": already exists; keygen never writes over a file");
    throw PublishError(Shown(pemFile) + ": cannot be created: " + std::strerror(error));
  }
  bool written = true;
  for (long done = 0; written && done < size;) {
    const ssize_t n = ::write(fd, bytes + done, static_cast<std::size_t>(size - done));
    if (n < 0 && errno == EINTR) continue;
    written = n > 0;
    if (written) done += n;
  }
  written = ::close(fd) == 0 && written;
  OPENSSL_cleanse(bytes, static_cast<std::size_t>(size));
  if (!written) {
    // Half a key is worse than none: the file is ours, made just now.
    ::unlink(pemFile.c_str());
    throw PublishError(Shown(pemFile) + ": cannot be written");
  }
}

PublicKey SigningKey::Public() const {
  BIGNUM* x = nullptr;
  BIGNUM* y = nullptr;
  EVP_PKEY_get_bn_param(key_.get(), OSSL_PKEY_PARAM_EC_PUB_X, &x);
  const Bignum ownedX(x);
  EVP_PKEY_get_bn_param(key_.get(), OSSL_PKEY_PARAM_EC_PUB_Y, &y);
  const Bignum ownedY(y);
  PublicKey key{};
  if (!PadTo32(x, key.data()) || !PadTo32(y, key.data() + kCoordinate))
    throw PublishError("the public key could not be taken from the private key");
  return key;
}

Signature SigningKey::Sign(std::string_view message) const {
  DigestContext context(EVP_MD_CTX_new());
  const auto* data = reinterpret_cast<const unsigned char*>(message.data());
  std::size_t length = 0;
  if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key_.get()) != 1 ||
      EVP_DigestSign(context.get(), nullptr, &length, data, message.size()) != 1)
    throw PublishError("the manifest could not be signed");
  std::vector<unsigned char> der(length);
  if (EVP_DigestSign(context.get(), der.data(), &length, data, message.size()) != 1)
    throw PublishError("the manifest could not be signed");
  const unsigned char* in = der.data();
  const EcdsaSig sig(d2i_ECDSA_SIG(nullptr, &in, static_cast<long>(length)));
  Signature signature{};
  if (!sig || !PadTo32(ECDSA_SIG_get0_r(sig.get()), signature.data()) ||
      !PadTo32(ECDSA_SIG_get0_s(sig.get()), signature.data() + kCoordinate))
    throw PublishError("the manifest could not be signed");
  return signature;
}
