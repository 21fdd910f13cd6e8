// Test support for the GOST key methods that needs no particular engine:
// keys made from chosen values, certificates for them, printed texts and
// small byte helpers. Whichever engine offers the methods must be registered
// before these are used.
#ifndef GOST_TEST_KEYS_H
#define GOST_TEST_KEYS_H

#include <memory>
#include <string>
#include <vector>

#include <openssl/evp.h>
#include <openssl/x509.h>

#include "gost_key.h"
#include "gost_objects.h"

struct PkeyFree {
    void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;

struct X509Free {
    void operator()(X509 *x) const { X509_free(x); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

// The NID OpenSSL gives a GOST object in this process.
inline int nid(GostObj o) { return gost_nid(o); }
// A GOST key's own record.
inline p11_gost2012_key *record(const EVP_PKEY *k) { return static_cast<p11_gost2012_key *>(EVP_PKEY_get0(k)); }

// A key of algorithm alg_nid on parameter set param_nid with the given public
// value (empty: none) and CKA_ID computed from it.
PkeyPtr gost_key_from_values(int alg_nid, int param_nid, const std::vector<unsigned char> &pub);

// ---- key pairs with private values, PKCS#8 and PKCS#12 ----

// The elements a private value (given little-endian) takes in PKCS#8: an
// OCTET STRING of the little-endian bytes, or a DER INTEGER (big-endian,
// minimal, with a zero byte in front of a set top bit).
std::vector<unsigned char> octet_string_element(const std::vector<unsigned char> &priv_le);
std::vector<unsigned char> integer_element(const std::vector<unsigned char> &priv_le);
// DER of a PrivateKeyInfo for a GOST key: version 0, algorithm alg_nid with
// its parameters (param_nid and the algorithm's digest set), privateKey
// holding `element` as given (any bytes, so malformed values can be made).
std::vector<unsigned char> gost_pkcs8_der(int alg_nid, int param_nid, const std::vector<unsigned char> &element);
// A key decoded from PrivateKeyInfo DER by OpenSSL (d2i_PKCS8_PRIV_KEY_INFO,
// EVP_PKCS82PKEY); nullptr when refused.
PkeyPtr key_from_pkcs8(const std::vector<unsigned char> &der);
// The PrivateKeyInfo DER OpenSSL writes for a key (EVP_PKEY2PKCS8); empty
// when refused.
std::vector<unsigned char> pkcs8_of(const EVP_PKEY *key);

// A GOST key pair from a little-endian private value, decoded from its
// PKCS#8 form: it holds the private value, the public value the curve core
// computes and the CKA_ID of that; nullptr when refused.
PkeyPtr gost_key_pair(int alg_nid, int param_nid, const std::vector<unsigned char> &priv_le);
// A fresh random private value of the key's size, below every curve order
// of that size, little-endian.
std::vector<unsigned char> random_private_value(int alg_nid);
// gost_key_pair with a random_private_value.
PkeyPtr generate_gost_key_pair(int alg_nid, int param_nid);

// A PKCS#12 file (DER) holding a key and its certificate under a friendly
// name, protected the way OpenSSL does by default without GOST algorithms:
// PBES2 with AES-256-CBC and PBKDF2, and an HMAC with SHA-256. Empty on
// failure.
std::vector<unsigned char> pkcs12_der(EVP_PKEY *key, X509 *cert, const char *password, const char *name);
// The same protected with GOST algorithms, as OpenSSL's PKCS#12 code makes it
// through the engine: the key shrouded with PBES2 (GOST 28147-89, PBKDF2 with
// the PRF prf_nid), the certificate in a bag encrypted the same way, and a
// MAC with the digest mac_md; `iterations` for both. Empty on failure.
std::vector<unsigned char> gost_pkcs12_der(EVP_PKEY *key, X509 *cert, const char *password, const char *name,
                                           int prf_nid, const EVP_MD *mac_md, int iterations = 2048);

// A certificate for key (subject and issuer "CN=GOST key", signed with an
// EC P-256 key: any signature will do here), as DER; empty on failure.
// With a key pair from gost_key_pair it is the self-issued certificate of
// that pair (X509_check_private_key holds).
std::vector<unsigned char> certificate_der(EVP_PKEY *key);
X509Ptr parse_certificate(const std::vector<unsigned char> &der);
// Text X509_print gives for a certificate.
std::string printed_certificate(X509 *x);

std::vector<unsigned char> hex(const std::string &s);
std::vector<unsigned char> pattern_bytes(std::size_t n, unsigned seed);
std::vector<unsigned char> sha1(const std::vector<unsigned char> &data);
std::vector<unsigned char> concat(std::vector<unsigned char> a, const std::vector<unsigned char> &b);

// Text OpenSSL prints for a key (public, private or parameters).
std::string print_public(const EVP_PKEY *k, int indent);
std::string print_private(const EVP_PKEY *k, int indent);
std::string print_params(const EVP_PKEY *k, int indent);

#endif
