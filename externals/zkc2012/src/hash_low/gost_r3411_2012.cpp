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

// LPS(a ^ b), column by column: the eight bytes of input word j index table
// j, and lookup k lands in output word k. Unrolled, with eight scalar
// accumulators.
// The shift barrier keeps the compiler from turning the running shifts into
// independent ones, so that every two bytes cost one shift and two byte moves.
#if defined(__GNUC__)
#define SHIFT_BARRIER(x) __asm__("" : "+r"(x))
#else
#define SHIFT_BARRIER(x) ((void)0)
#endif
#define LPS_COLUMN(j)                                  \
    do {                                               \
        const uint64_t *t = kLps.t[j];                 \
        uint64_t x = a[j] ^ b[j];                  \
        r0 ^= t[x & 0xFF];                             \
        r1 ^= t[(x >> 8) & 0xFF];                      \
        x >>= 16;                                      \
        SHIFT_BARRIER(x);                              \
        r2 ^= t[x & 0xFF];                             \
        r3 ^= t[(x >> 8) & 0xFF];                      \
        x >>= 16;                                      \
        SHIFT_BARRIER(x);                              \
        r4 ^= t[x & 0xFF];                             \
        r5 ^= t[(x >> 8) & 0xFF];                      \
        x >>= 16;                                      \
        SHIFT_BARRIER(x);                              \
        r6 ^= t[x & 0xFF];                             \
        r7 ^= t[x >> 8];                               \
    } while (0)

#if defined(__GNUC__)
#define ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define ALWAYS_INLINE inline
#endif

ALWAYS_INLINE V512 lpsx(const uint64_t *a, const uint64_t *b)
{
    uint64_t r0 = 0, r1 = 0, r2 = 0, r3 = 0, r4 = 0, r5 = 0, r6 = 0, r7 = 0;
    LPS_COLUMN(0);
    LPS_COLUMN(1);
    LPS_COLUMN(2);
    LPS_COLUMN(3);
    LPS_COLUMN(4);
    LPS_COLUMN(5);
    LPS_COLUMN(6);
    LPS_COLUMN(7);
    return {{r0, r1, r2, r3, r4, r5, r6, r7}};
}
#undef LPS_COLUMN
#undef SHIFT_BARRIER

// g_N(h, m) = E(LPS(h ^ N), m) ^ h ^ m, where E runs twelve rounds
// s := LPS(s ^ K), K := LPS(K ^ C_i), and a last X[K13].
#if defined(__GNUC__)
__attribute__((noinline))
#endif
V512 compress(const V512 &h, const V512 &m, const V512 &n)
{
    V512 k = lpsx(h.w, n.w);
    V512 s = m;
    // The twelve rounds, unrolled.
#define ROUND(i)                          \
    do {                                  \
        s = lpsx(s.w, k.w);               \
        k = lpsx(k.w, kIter.c[i]);        \
    } while (0)
    ROUND(0);
    ROUND(1);
    ROUND(2);
    ROUND(3);
    ROUND(4);
    ROUND(5);
    ROUND(6);
    ROUND(7);
    ROUND(8);
    ROUND(9);
    ROUND(10);
    ROUND(11);
#undef ROUND
    V512 r;
    for (int i = 0; i < 8; ++i)
        r.w[i] = s.w[i] ^ k.w[i] ^ h.w[i] ^ m.w[i];
    return r;
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
    st.h = compress(st.h, m, st.n);
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
        mpConvFromOctets(ctx->m, GOSTR3411_2012_DIGITS, ctx->buffer, 64);
        State st = load_state(ctx);
        process_block(st, from_digits(ctx->m), 512);
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
    mpConvFromOctets(ctx->m, GOSTR3411_2012_DIGITS, ctx->buffer, 64);
    State st = load_state(ctx);
    process_block(st, from_digits(ctx->m), uint64_t(8 * ctx->count));
    const V512 zero = {};
    st.h = compress(st.h, st.n, zero);
    st.h = compress(st.h, st.sigma, zero);
    save_state(ctx, st);

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
