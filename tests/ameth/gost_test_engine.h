// Test support for the GOST key methods: an engine of the tests' own that
// offers them to OpenSSL, and keys made through it.
#ifndef GOST_TEST_ENGINE_H
#define GOST_TEST_ENGINE_H

#include <vector>

#include <openssl/evp.h>

#include "gost_test_keys.h"
#include "pkcs11_core_eng.h"

// An engine registered for the GOST key algorithms and the MAC key: our ASN.1
// methods, and bare public-key methods beside them (OpenSSL decodes a
// certificate key through an engine only when the engine also has a public-key
// method for it). Its context at ex_data index 0 is gost_test_ctx().
ENGINE *gost_test_engine();
P11_ENGINE_CTX *gost_test_ctx();

// gost_key_from_values, with this engine registered first.
PkeyPtr make_gost_key(int alg_nid, int param_nid, const std::vector<unsigned char> &pub);

#endif
