// Test support for the GOST key methods: an engine that offers them to
// OpenSSL, keys made from chosen values, and small byte helpers.
#ifndef GOST_TEST_ENGINE_H
#define GOST_TEST_ENGINE_H

#include <memory>
#include <string>
#include <vector>

#include <openssl/evp.h>

#include "pkcs11_core_eng.h"

// An engine registered for the GOST key algorithms and the MAC key: our ASN.1
// methods, and bare public-key methods beside them (OpenSSL decodes a
// certificate key through an engine only when the engine also has a public-key
// method for it). Its context at ex_data index 0 is gost_test_ctx().
ENGINE *gost_test_engine();
P11_ENGINE_CTX *gost_test_ctx();

struct PkeyFree {
    void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;

// A key of algorithm alg_nid on parameter set param_nid with the given public
// value (empty: none) and CKA_ID computed from it.
PkeyPtr make_gost_key(int alg_nid, int param_nid, const std::vector<unsigned char> &pub);

std::vector<unsigned char> hex(const std::string &s);
std::vector<unsigned char> pattern_bytes(std::size_t n, unsigned seed);
std::vector<unsigned char> sha1(const std::vector<unsigned char> &data);
std::vector<unsigned char> concat(std::vector<unsigned char> a, const std::vector<unsigned char> &b);

// Text OpenSSL prints for a key (public, private or parameters).
std::string print_public(const EVP_PKEY *k, int indent);
std::string print_private(const EVP_PKEY *k, int indent);
std::string print_params(const EVP_PKEY *k, int indent);

#endif
