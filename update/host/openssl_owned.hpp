// Owners of OpenSSL objects (host builds): each frees its object once, on every path.
#pragma once

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <memory>

namespace openssl {

template <typename T, void (*Free)(T*)>
struct Freer {
  void operator()(T* p) const { Free(p); }
};
template <typename T, void (*Free)(T*)>
using Owned = std::unique_ptr<T, Freer<T, Free>>;

using Bio = Owned<BIO, BIO_free_all>;
using Bignum = Owned<BIGNUM, BN_free>;
using DigestContext = Owned<EVP_MD_CTX, EVP_MD_CTX_free>;
using EcdsaSig = Owned<ECDSA_SIG, ECDSA_SIG_free>;
using ParamBuilder = Owned<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>;
using Params = Owned<OSSL_PARAM, OSSL_PARAM_free>;
using Pkey = Owned<EVP_PKEY, EVP_PKEY_free>;
using PkeyContext = Owned<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;

}  // namespace openssl
