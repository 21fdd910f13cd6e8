// Support of the EVP tests: the token engine as the tool loads it, the
// crypto core's own results to compare with, the registered GOST 28147-89
// parameter sets with their OpenSSL NIDs, and random cuts of a message.
#ifndef EVP_TEST_SUPPORT_H
#define EVP_TEST_SUPPORT_H

#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "gost28147_89.h"
#include "hex_bytes.h"

using Bytes = std::vector<unsigned char>;

// The engine after ENGINE_load_zk_p11_core, kept for the whole run.
ENGINE *token_engine();

struct MdCtxFree {
    void operator()(EVP_MD_CTX *c) const { EVP_MD_CTX_free(c); }
};
struct CipherCtxFree {
    void operator()(EVP_CIPHER_CTX *c) const { EVP_CIPHER_CTX_free(c); }
};
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

// A registered parameter set of the core and OpenSSL's NID for its OID
// (created for the test when OpenSSL lacks it).
struct ParamSet {
    const GOST28147_89_PARAM *param;
    int nid;
    std::string name() const { return param->name; }
};
// All eleven, in registration order.
const std::vector<ParamSet> &registered_sets();
// The set with this dotted OID.
const ParamSet &set_by_oid(const char *oid);
const ParamSet &set_z();

// The core's result over the whole message in one call: cipher output in the
// given core mode, or the 4-byte MAC (iv may be null).
Bytes core_cipher(const GOST28147_89_PARAM *set, int mode, bool encrypt, const Bytes &key, const Bytes &iv,
                  const Bytes &data);
Bytes core_mac(const GOST28147_89_PARAM *set, const Bytes &key, const unsigned char *iv, const Bytes &data);

// The message cut into random pieces (empty ones included) that add up to it.
std::vector<size_t> random_cuts(size_t length, std::mt19937 &gen);

// Deterministic pseudo-random bytes.
Bytes test_bytes(size_t length, uint32_t seed);
std::string hex_of(const Bytes &b);

// Message lengths around the block, the 64-byte hash block and the 1024-byte
// key-meshing interval.
extern const size_t kLengths[];
extern const size_t kLengthCount;

#endif
