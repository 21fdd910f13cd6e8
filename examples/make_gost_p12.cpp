// Makes a GOST key pair in software and delivers it the way a certification
// authority would: with a certificate, in a password-protected PKCS#12
// container whose protection is GOST as well (PBES2 with GOST 28147-89 and
// PBKDF2 over HMAC-GOST R 34.11-94, a MAC with GOST R 34.11-2012-512, 2000
// iterations each). The certificate is issued by a throwaway EC P-256 key:
// this program only makes something to import.
//
//   make_gost_p12 <out.p12> <password> <2001|2012-256|2012-512> [common name]
//
// The token engine does the GOST work: the key's public value is computed by
// its curve core when the private value is read in, and the ciphers, digests
// and MAC are its own.
#define OPENSSL_SUPPRESS_DEPRECATED  // ENGINE
#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs12.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pkcs11_core_eng.h"  // ENGINE_load_zk_p11_core

namespace {

struct Algorithm {
    const char *name;
    const char *key_oid;     // GOST R 34.10 key algorithm
    const char *curve_oid;   // its parameter set
    const char *digest_oid;  // its digest parameter set
    int length;              // private value bytes
};
const Algorithm kAlgorithms[] = {
    {"2001", "1.2.643.2.2.19", "1.2.643.2.2.35.1", "1.2.643.2.2.30.1", 32},
    {"2012-256", "1.2.643.7.1.1.1.1", "1.2.643.2.2.35.1", "1.2.643.7.1.1.2.2", 32},
    {"2012-512", "1.2.643.7.1.1.1.2", "1.2.643.7.1.2.1.2.1", "1.2.643.7.1.1.2.3", 64},
};

int fail(const char *what)
{
    std::fprintf(stderr, "make_gost_p12: %s\n", what);
    ERR_print_errors_fp(stderr);
    return 1;
}

// DER of one OID element.
std::vector<unsigned char> oid_element(const char *dotted)
{
    ASN1_OBJECT *obj = OBJ_txt2obj(dotted, 1);
    std::vector<unsigned char> der(obj ? i2d_ASN1_OBJECT(obj, nullptr) : 0);
    unsigned char *p = der.data();
    if (obj)
        i2d_ASN1_OBJECT(obj, &p);
    ASN1_OBJECT_free(obj);
    return der;
}

// A key pair from a fresh random private value, read in as PKCS#8.
EVP_PKEY *new_key_pair(const Algorithm &alg)
{
    std::vector<unsigned char> params = oid_element(alg.curve_oid), digest = oid_element(alg.digest_oid);
    params.insert(params.end(), digest.begin(), digest.end());
    params.insert(params.begin(), {0x30, static_cast<unsigned char>(params.size())});
    ASN1_STRING *seq = ASN1_STRING_type_new(V_ASN1_SEQUENCE);
    ASN1_STRING_set(seq, params.data(), static_cast<int>(params.size()));

    // OCTET STRING of the little-endian value, below 2^(bits-2): under the
    // order of every curve of the size, and never zero.
    const int n = alg.length;
    unsigned char *value = static_cast<unsigned char *>(OPENSSL_malloc(n + 2));
    value[0] = 0x04;
    value[1] = static_cast<unsigned char>(n);
    RAND_priv_bytes(value + 2, n);
    value[2] |= 1;
    value[n + 1] &= 0x3F;

    PKCS8_PRIV_KEY_INFO *p8 = PKCS8_PRIV_KEY_INFO_new();
    EVP_PKEY *key = nullptr;
    if (PKCS8_pkey_set0(p8, OBJ_txt2obj(alg.key_oid, 1), 0, V_ASN1_SEQUENCE, seq, value, n + 2))
        key = EVP_PKCS82PKEY(p8);
    else {
        ASN1_STRING_free(seq);
        OPENSSL_clear_free(value, n + 2);
    }
    PKCS8_PRIV_KEY_INFO_free(p8);  // wipes the private value
    return key;
}

X509 *issue_certificate(EVP_PKEY *key, const char *common_name)
{
    EVP_PKEY *ca = EVP_EC_gen("P-256");
    X509 *cert = X509_new();
    X509_NAME *subject = X509_NAME_new(), *issuer = X509_NAME_new();
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char *>(common_name),
                               -1, -1, 0);
    X509_NAME_add_entry_by_txt(issuer, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char *>("tokencert demo CA"), -1, -1, 0);
    bool ok = ca && cert && X509_set_version(cert, 2) && ASN1_INTEGER_set(X509_get_serialNumber(cert), 1) &&
              X509_gmtime_adj(X509_getm_notBefore(cert), 0) &&
              X509_gmtime_adj(X509_getm_notAfter(cert), 365L * 24 * 3600) &&
              X509_set_subject_name(cert, subject) && X509_set_issuer_name(cert, issuer) &&
              X509_set_pubkey(cert, key) && X509_sign(cert, ca, EVP_sha256()) > 0;
    X509_NAME_free(subject);
    X509_NAME_free(issuer);
    EVP_PKEY_free(ca);
    if (!ok) {
        X509_free(cert);
        return nullptr;
    }
    return cert;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: %s <out.p12> <password> <2001|2012-256|2012-512> [common name]\n", argv[0]);
        return 2;
    }
    const Algorithm *alg = nullptr;
    for (const Algorithm &a : kAlgorithms)
        if (std::strcmp(a.name, argv[3]) == 0)
            alg = &a;
    if (!alg)
        return fail("the key algorithm is 2001, 2012-256 or 2012-512");
    ENGINE_load_zk_p11_core();  // GOST keys, ciphers, digests and MAC for OpenSSL

    EVP_PKEY *key = new_key_pair(*alg);
    if (!key)
        return fail("no key pair");
    X509 *cert = issue_certificate(key, argc == 5 ? argv[4] : "GOST key holder");
    if (!cert)
        return fail("no certificate");
    const int gost89 = OBJ_sn2nid("gost89");
    PKCS12 *p12 = PKCS12_create(argv[2], "GOST key", key, cert, nullptr, gost89, gost89, 2000, -1, 0);
    if (!p12 || !PKCS12_set_mac(p12, argv[2], -1, nullptr, 0, 2000, EVP_get_digestbyname("md_gost12_512")))
        return fail("PKCS12_create failed");
    FILE *out = std::fopen(argv[1], "wb");
    if (!out || !i2d_PKCS12_fp(out, p12) || std::fclose(out) != 0)
        return fail("cannot write the container");
    PKCS12_free(p12);
    X509_free(cert);
    EVP_PKEY_free(key);
    return 0;
}
