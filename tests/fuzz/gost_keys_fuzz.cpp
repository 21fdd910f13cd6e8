// libFuzzer target over the GOST key decoders OpenSSL reaches through our
// engine: the input's first byte picks a SubjectPublicKeyInfo (0), a PKCS#8
// PrivateKeyInfo (1) or a certificate (2) for the rest. Run it with
//   scripts/fuzz.sh keys [build dir] [executions]
// (built with clang and -DTOKENCERT_FUZZ=ON; see tests/fuzz/CMakeLists.txt).
#define OPENSSL_SUPPRESS_DEPRECATED
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include "pkcs11_core_eng.h"

namespace {

BIO *g_sink;  // what the printers write

// A key that decoded, printed and encoded again as a SubjectPublicKeyInfo:
// what we write must decode to an equal key that encodes to the same bytes.
void check_public(EVP_PKEY *key)
{
    EVP_PKEY_print_public(g_sink, key, 0, nullptr);
    EVP_PKEY_print_params(g_sink, key, 0, nullptr);
    unsigned char *der = nullptr;
    const int len = i2d_PUBKEY(key, &der);
    if (len <= 0)
        return;  // a key without a public value is not written
    const unsigned char *p = der;
    EVP_PKEY *again = d2i_PUBKEY(nullptr, &p, len);
    if (again == nullptr || p != der + len)
        std::abort();
    unsigned char *der2 = nullptr;
    const int len2 = i2d_PUBKEY(again, &der2);
    if (len2 != len || std::memcmp(der, der2, static_cast<std::size_t>(len)) != 0)
        std::abort();
    if (EVP_PKEY_eq(key, again) != 1)
        std::abort();
    OPENSSL_free(der2);
    EVP_PKEY_free(again);
    OPENSSL_free(der);
}

// The same for a private key written back as PKCS#8.
void check_private(EVP_PKEY *key)
{
    EVP_PKEY_print_private(g_sink, key, 0, nullptr);
    PKCS8_PRIV_KEY_INFO *info = EVP_PKEY2PKCS8(key);
    if (info == nullptr)
        return;
    unsigned char *der = nullptr;
    const int len = i2d_PKCS8_PRIV_KEY_INFO(info, &der);
    PKCS8_PRIV_KEY_INFO_free(info);
    if (len <= 0)
        std::abort();
    const unsigned char *p = der;
    info = d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, len);
    EVP_PKEY *again = info ? EVP_PKCS82PKEY(info) : nullptr;
    if (again == nullptr)
        std::abort();
    PKCS8_PRIV_KEY_INFO *info2 = EVP_PKEY2PKCS8(again);
    unsigned char *der2 = nullptr;
    const int len2 = info2 ? i2d_PKCS8_PRIV_KEY_INFO(info2, &der2) : 0;
    if (len2 != len || std::memcmp(der, der2, static_cast<std::size_t>(len)) != 0)
        std::abort();
    check_public(key);
    OPENSSL_free(der2);
    PKCS8_PRIV_KEY_INFO_free(info2);
    EVP_PKEY_free(again);
    PKCS8_PRIV_KEY_INFO_free(info);
    OPENSSL_free(der);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    ENGINE_load_zk_p11_core();
    g_sink = BIO_new(BIO_s_null());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const unsigned char *p = data + 1;
    const long len = static_cast<long>(size - 1);
    switch (data[0] % 3) {
    case 0:
        if (EVP_PKEY *key = d2i_PUBKEY(nullptr, &p, len)) {
            check_public(key);
            EVP_PKEY_free(key);
        }
        break;
    case 1:
        if (PKCS8_PRIV_KEY_INFO *info = d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, len)) {
            if (EVP_PKEY *key = EVP_PKCS82PKEY(info)) {
                check_private(key);
                EVP_PKEY_free(key);
            }
            PKCS8_PRIV_KEY_INFO_free(info);
        }
        break;
    default:
        if (X509 *cert = d2i_X509(nullptr, &p, len)) {
            X509_print(g_sink, cert);
            if (EVP_PKEY *key = X509_get0_pubkey(cert))
                check_public(key);
            X509_free(cert);
        }
        break;
    }
    ERR_clear_error();
    return 0;
}
