// GOST R 34.11-2012: buffering, the compression function g_N and the
// finalisation. The context keeps its 512-bit values as digit arrays of the
// multiple-precision layer; the compression works on them as eight 64-bit
// words with the combined S-P-L lookup tables.
#include "gost_r3411_2012.h"

#include <cstring>

#include "gost_r3411_2012_tables.h"
#include "zkc_bignum.h"
#include "zkc_diag.h"

using zkc::streebog::kIter;
using zkc::streebog::kLps;

namespace {

const char kSourceName[] = "hash_low/gost_r3411_2012";

struct V512 {
    uint64_t w[8];
};

inline V512 from_digits(const DIGIT_T *d)
{
    V512 v;
    for (int i = 0; i < 8; ++i)
        v.w[i] = uint64_t(d[2 * i]) | uint64_t(d[2 * i + 1]) << 32;
    return v;
}

inline void to_digits(DIGIT_T *d, const V512 &v)
{
    for (int i = 0; i < 8; ++i) {
        d[2 * i] = DIGIT_T(v.w[i]);
        d[2 * i + 1] = DIGIT_T(v.w[i] >> 32);
    }
}

// Reads a 64-byte block as its little-endian value, digit by digit.
inline void block_to_digits(DIGIT_T *d, const uint8_t *p)
{
    for (int i = 0; i < 16; ++i, p += 4)
        d[i] = DIGIT_T(p[0]) | DIGIT_T(p[1]) << 8 | DIGIT_T(p[2]) << 16 | DIGIT_T(p[3]) << 24;
}

#define LPS_WORD(x, i)                                                                    \
    (kLps.t[0][uint8_t((x).w[0] >> (8 * (i)))] ^ kLps.t[1][uint8_t((x).w[1] >> (8 * (i)))] ^ \
     kLps.t[2][uint8_t((x).w[2] >> (8 * (i)))] ^ kLps.t[3][uint8_t((x).w[3] >> (8 * (i)))] ^ \
     kLps.t[4][uint8_t((x).w[4] >> (8 * (i)))] ^ kLps.t[5][uint8_t((x).w[5] >> (8 * (i)))] ^ \
     kLps.t[6][uint8_t((x).w[6] >> (8 * (i)))] ^ kLps.t[7][uint8_t((x).w[7] >> (8 * (i)))])

// LPS(a ^ b).
inline V512 lpsx(const V512 &a, const V512 &b)
{
    V512 x;
    for (int i = 0; i < 8; ++i)
        x.w[i] = a.w[i] ^ b.w[i];
    V512 r;
    r.w[0] = LPS_WORD(x, 0);
    r.w[1] = LPS_WORD(x, 1);
    r.w[2] = LPS_WORD(x, 2);
    r.w[3] = LPS_WORD(x, 3);
    r.w[4] = LPS_WORD(x, 4);
    r.w[5] = LPS_WORD(x, 5);
    r.w[6] = LPS_WORD(x, 6);
    r.w[7] = LPS_WORD(x, 7);
    return r;
}
#undef LPS_WORD

// g_N(h, m) = E(LPS(h ^ N), m) ^ h ^ m, where E runs twelve rounds
// s := LPS(s ^ K), K := LPS(K ^ C_i), and a last X[K13].
V512 compress(const V512 &h, const V512 &m, const V512 &n)
{
    V512 k = lpsx(h, n);
    V512 s = m;
    for (int i = 0; i < 12; ++i) {
        s = lpsx(s, k);
        V512 c;
        std::memcpy(c.w, kIter.c[i], sizeof c.w);
        k = lpsx(k, c);
    }
    V512 r;
    for (int i = 0; i < 8; ++i)
        r.w[i] = s.w[i] ^ k.w[i] ^ h.w[i] ^ m.w[i];
    return r;
}

// One block in ctx->m: h := g_N(h, m), N := N + bits, Sigma := Sigma + m.
void process_block(GOSTR3411_2012_CTX *ctx, DIGIT_T bits)
{
    const V512 h = compress(from_digits(ctx->h), from_digits(ctx->m), from_digits(ctx->N));
    to_digits(ctx->h, h);
    mpShortAdd(ctx->N, ctx->N, bits, GOSTR3411_2012_DIGITS);
    mpAdd(ctx->Sigma, ctx->Sigma, ctx->m, GOSTR3411_2012_DIGITS);
}

// Stores message bytes behind the buffered ones, byte-reversed.
void buffer_bytes(GOSTR3411_2012_CTX *ctx, const uint8_t *data, size_t length)
{
    for (size_t i = 0; i < length; ++i)
        ctx->buffer[63 - (ctx->count + int(i))] = data[i];
    ctx->count += int(length);
}

int init(GOSTR3411_2012_CTX *ctx, int size)
{
    if (ctx == nullptr) {
        zkc_diag_printf("%s:%d %s. NULL context pointer\n", kSourceName, __LINE__,
                        "GOSTR3411_2012_Init");
        return GOSTR3411_2012_ERR_CONTEXT;
    }
    std::memset(ctx, 0, sizeof *ctx);
    ctx->digest_size = size;
    if (size == 32)
        std::memset(ctx->h, 0x01, sizeof ctx->h);
    return 0;
}

// The size check of the 256- and 512-bit entry points.
int check_size(const GOSTR3411_2012_CTX *ctx, int size, const char *function, int line)
{
    if (ctx == nullptr) {
        zkc_diag_printf("%s:%d %s. NULL context pointer\n", kSourceName, line, function);
        return GOSTR3411_2012_ERR_CONTEXT;
    }
    if (ctx->digest_size != size) {
        zkc_diag_printf("%s:%d %s. Illegal digest size in context: %d\n", kSourceName, line,
                        function, ctx->digest_size);
        return GOSTR3411_2012_ERR_PARAM;
    }
    return 0;
}

}  // namespace

extern "C" int GOSTR3411_2012_256_Init(GOSTR3411_2012_CTX *ctx)
{
    return init(ctx, 32);
}

extern "C" int GOSTR3411_2012_512_Init(GOSTR3411_2012_CTX *ctx)
{
    return init(ctx, 64);
}

extern "C" int GOSTR3411_2012_Update(GOSTR3411_2012_CTX *ctx, const uint8_t *data, size_t length)
{
    if (ctx == nullptr) {
        zkc_diag_printf("%s:%d %s. NULL context pointer\n", kSourceName, __LINE__,
                        "GOSTR3411_2012_Update");
        return GOSTR3411_2012_ERR_CONTEXT;
    }
    if (length == 0)
        return 0;
    if (data == nullptr) {
        zkc_diag_printf("%s:%d %s. NULL data pointer for data_len > 0\n", kSourceName, __LINE__,
                        "GOSTR3411_2012_Update");
        return GOSTR3411_2012_ERR_PARAM;
    }
    if (size_t(ctx->count) + length < 64) {
        buffer_bytes(ctx, data, length);
        return 0;
    }
    if (ctx->count > 0) {
        const size_t take = size_t(64 - ctx->count);
        buffer_bytes(ctx, data, take);
        data += take;
        length -= take;
        mpConvFromOctets(ctx->m, GOSTR3411_2012_DIGITS, ctx->buffer, 64);
        process_block(ctx, 512);
        std::memset(ctx->buffer, 0, sizeof ctx->buffer);
        ctx->count = 0;
    }
    // Whole blocks are read from the input directly: the same number the
    // buffer would give.
    while (length >= 64) {
        block_to_digits(ctx->m, data);
        process_block(ctx, 512);
        data += 64;
        length -= 64;
    }
    buffer_bytes(ctx, data, length);
    return 0;
}

extern "C" int GOSTR3411_2012_Final(GOSTR3411_2012_CTX *ctx, uint8_t *digest)
{
    if (ctx == nullptr) {
        zkc_diag_printf("%s:%d %s. NULL context pointer\n", kSourceName, __LINE__,
                        "GOSTR3411_2012_Final");
        return GOSTR3411_2012_ERR_CONTEXT;
    }
    if (digest == nullptr) {
        zkc_diag_printf("%s:%d %s. NULL digest pointer\n", kSourceName, __LINE__,
                        "GOSTR3411_2012_Final");
        return GOSTR3411_2012_ERR_PARAM;
    }
    // Padding: 0x01 right behind the message bytes, zeros above it.
    ctx->buffer[63 - ctx->count] = 0x01;
    mpConvFromOctets(ctx->m, GOSTR3411_2012_DIGITS, ctx->buffer, 64);
    process_block(ctx, DIGIT_T(8 * ctx->count));

    const V512 zero = {};
    V512 h = from_digits(ctx->h);
    h = compress(h, from_digits(ctx->N), zero);
    h = compress(h, from_digits(ctx->Sigma), zero);
    to_digits(ctx->h, h);

    uint8_t octets[64];
    mpConvToOctets(ctx->h, GOSTR3411_2012_DIGITS, octets, sizeof octets);
    const int size = ctx->digest_size == 32 ? 32 : 64;
    for (int i = 0; i < size; ++i)
        digest[i] = octets[size - 1 - i];
    std::memset(ctx->buffer, 0, sizeof ctx->buffer);
    ctx->count = 0;
    return 0;
}

extern "C" int GOSTR3411_2012_256_Update(GOSTR3411_2012_CTX *ctx, const uint8_t *data,
                                         size_t length)
{
    const int rc = check_size(ctx, 32, "GOSTR3411_2012_256_Update", __LINE__);
    return rc != 0 ? rc : GOSTR3411_2012_Update(ctx, data, length);
}

extern "C" int GOSTR3411_2012_512_Update(GOSTR3411_2012_CTX *ctx, const uint8_t *data,
                                         size_t length)
{
    const int rc = check_size(ctx, 64, "GOSTR3411_2012_512_Update", __LINE__);
    return rc != 0 ? rc : GOSTR3411_2012_Update(ctx, data, length);
}

extern "C" int GOSTR3411_2012_256_Final(GOSTR3411_2012_CTX *ctx, uint8_t *digest)
{
    const int rc = check_size(ctx, 32, "GOSTR3411_2012_256_Final", __LINE__);
    return rc != 0 ? rc : GOSTR3411_2012_Final(ctx, digest);
}

extern "C" int GOSTR3411_2012_512_Final(GOSTR3411_2012_CTX *ctx, uint8_t *digest)
{
    const int rc = check_size(ctx, 64, "GOSTR3411_2012_512_Final", __LINE__);
    return rc != 0 ? rc : GOSTR3411_2012_Final(ctx, digest);
}
