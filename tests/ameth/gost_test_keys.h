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

struct PkeyFree {
    void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;

struct X509Free {
    void operator()(X509 *x) const { X509_free(x); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

// A key of algorithm alg_nid on parameter set param_nid with the given public
// value (empty: none) and CKA_ID computed from it.
PkeyPtr gost_key_from_values(int alg_nid, int param_nid, const std::vector<unsigned char> &pub);

// A certificate for key (subject and issuer "CN=GOST key", signed with an
// EC P-256 key: any signature will do here), as DER; empty on failure.
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
