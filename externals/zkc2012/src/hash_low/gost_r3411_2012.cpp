// GOST R 34.11-2012: buffering, the compression function g_N and the
// finalisation. The context keeps its 512-bit values as digit arrays of the
// multiple-precision layer; the compression works on them as eight 64-bit
// words (gost_r3411_2012_compress.h).
#include "gost_r3411_2012.h"

#include <cstring>

#include "gost_r3411_2012_compress.h"
#include "zkc_bignum.h"
#include "zkc_diag.h"

using zkc::streebog::V512;

namespace {

const char kSourceName[] = "hash_low/gost_r3411_2012";

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

// The buffer read as the block's value: message byte k sits at 63 - k, so
// word i is the big-endian reading of buffer bytes 56 - 8i to 63 - 8i.
inline V512 buffer_value(const uint8_t *buffer)
{
    V512 v;
    for (int i = 0; i < 8; ++i) {
        const uint8_t *p = buffer + 56 - 8 * i;
        v.w[i] = uint64_t(p[0]) << 56 | uint64_t(p[1]) << 48 | uint64_t(p[2]) << 40 |
                 uint64_t(p[3]) << 32 | uint64_t(p[4]) << 24 | uint64_t(p[5]) << 16 |
                 uint64_t(p[6]) << 8 | uint64_t(p[7]);
    }
    return v;
}

// acc := acc + x mod 2^512.
inline void add512(V512 &acc, const V512 &x)
{
    uint64_t carry = 0;
    for (int i = 0; i < 8; ++i) {
        const uint64_t s = acc.w[i] + x.w[i];
        const uint64_t c = s < x.w[i] ? 1 : 0;
        acc.w[i] = s + carry;
        carry = c | (acc.w[i] < carry ? 1 : 0);
    }
}

// h, N and Sigma in 64-bit words while a run of blocks is processed.
struct State {
    V512 h, n, sigma;
};

State load_state(const GOSTR3411_2012_CTX *ctx)
{
    return {from_digits(ctx->h), from_digits(ctx->N), from_digits(ctx->Sigma)};
}

void save_state(GOSTR3411_2012_CTX *ctx, const State &st)
{
    to_digits(ctx->h, st.h);
    to_digits(ctx->N, st.n);
    to_digits(ctx->Sigma, st.sigma);
}

// One block m: h := g_N(h, m), N := N + bits, Sigma := Sigma + m.
inline void process_block(State &st, const V512 &m, uint64_t bits)
{
    st.h = zkc::streebog::compress_block(st.h, m, st.n);
    add512(st.n, V512{{bits, 0, 0, 0, 0, 0, 0, 0}});
    add512(st.sigma, m);
}

inline V512 load_block(const uint8_t *p)
{
    V512 v;
    for (int i = 0; i < 8; ++i, p += 8)
        v.w[i] = uint64_t(p[0]) | uint64_t(p[1]) << 8 | uint64_t(p[2]) << 16 |
                 uint64_t(p[3]) << 24 | uint64_t(p[4]) << 32 | uint64_t(p[5]) << 40 |
                 uint64_t(p[6]) << 48 | uint64_t(p[7]) << 56;
    return v;
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
    if (ctx->count < 0 || ctx->count > 63)
        return GOSTR3411_2012_ERR_PARAM;  // not a context of this hash
    if (length < size_t(64 - ctx->count)) {
        buffer_bytes(ctx, data, length);
        return 0;
    }
    if (ctx->count > 0) {
        const size_t take = size_t(64 - ctx->count);
        buffer_bytes(ctx, data, take);
        data += take;
        length -= take;
        const V512 m = buffer_value(ctx->buffer);
        to_digits(ctx->m, m);
        State st = load_state(ctx);
        process_block(st, m, 512);
        save_state(ctx, st);
        std::memset(ctx->buffer, 0, sizeof ctx->buffer);
        ctx->count = 0;
    }
    // Whole blocks are read from the input directly: the same number the
    // buffer would give.
    if (length >= 64) {
        State st = load_state(ctx);
        while (length >= 64) {
            process_block(st, load_block(data), 512);
            data += 64;
            length -= 64;
        }
        block_to_digits(ctx->m, data - 64);
        save_state(ctx, st);
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
    if (ctx->count < 0 || ctx->count > 63)
        return GOSTR3411_2012_ERR_PARAM;  // not a context of this hash
    // Padding: 0x01 right behind the message bytes, zeros above it.
    ctx->buffer[63 - ctx->count] = 0x01;
    const V512 m = buffer_value(ctx->buffer);
    to_digits(ctx->m, m);
    State st = load_state(ctx);
    process_block(st, m, uint64_t(8 * ctx->count));
    const V512 zero = {};
    st.h = zkc::streebog::compress_block(st.h, st.n, zero);
    st.h = zkc::streebog::compress_block(st.h, st.sigma, zero);
    save_state(ctx, st);

    // h as 64 big-endian octets, the first (digest size) of them reversed:
    // the little-endian bytes of h, or of its upper half for 256 bits.
    const int first = ctx->digest_size == 32 ? 4 : 0;
    for (int i = first; i < 8; ++i)
        for (int b = 0; b < 8; ++b)
            *digest++ = uint8_t(st.h.w[i] >> (8 * b));
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
