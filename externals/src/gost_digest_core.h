// The crypto core's three GOST hash functions behind one shape, for the EVP
// shells of the engine and of the provider: the context type, the sizes and
// the core's init, update and final calls (each returns the core's code).
#ifndef GOST_DIGEST_CORE_H
#define GOST_DIGEST_CORE_H

#include <cstddef>
#include <cstdint>

#include "gost_r3411_94.h"
#include "hash_low/gost_r3411_2012.h"

struct GostDigestCore94 {
    using Ctx = GOSTR3411_94_CTX;
    static constexpr int size = GOSTR3411_94_DIGEST_SIZE;
    static constexpr int block = GOSTR3411_94_BLOCK_SIZE;
    // The CryptoPro parameter set, chosen by its DER OID.
    static int init(Ctx *c) {
        const GOSTR3411_94_PARAM *set = GOSTR3411_94_DefaultParam();
        return GOSTR3411_94_Init_more_par(c, set->der, set->der_len, nullptr, 0);
    }
    static int update(Ctx *c, const uint8_t *data, std::size_t n) { return GOSTR3411_94_Update(c, data, n); }
    static int final(Ctx *c, uint8_t *out) { return GOSTR3411_94_Final(c, out); }
};

struct GostDigestCore256 {
    using Ctx = GOSTR3411_2012_CTX;
    static constexpr int size = 32;
    static constexpr int block = GOSTR3411_2012_BLOCK_SIZE;
    static int init(Ctx *c) { return GOSTR3411_2012_256_Init(c); }
    static int update(Ctx *c, const uint8_t *data, std::size_t n) { return GOSTR3411_2012_256_Update(c, data, n); }
    static int final(Ctx *c, uint8_t *out) { return GOSTR3411_2012_256_Final(c, out); }
};

struct GostDigestCore512 {
    using Ctx = GOSTR3411_2012_CTX;
    static constexpr int size = 64;
    static constexpr int block = GOSTR3411_2012_BLOCK_SIZE;
    static int init(Ctx *c) { return GOSTR3411_2012_512_Init(c); }
    static int update(Ctx *c, const uint8_t *data, std::size_t n) { return GOSTR3411_2012_512_Update(c, data, n); }
    static int final(Ctx *c, uint8_t *out) { return GOSTR3411_2012_512_Final(c, out); }
};

#endif
