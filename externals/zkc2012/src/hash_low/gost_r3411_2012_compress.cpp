// The portable compression of GOST R 34.11-2012 on the combined S-P-L lookup
// tables, and the choice between it and the vector form.
#include "gost_r3411_2012_compress.h"

#include "gost_r3411_2012_tables.h"

namespace zkc {
namespace streebog {

namespace {

// LPS(a ^ b), column by column: the eight bytes of input word j index table
// j, and lookup k lands in output word k. Unrolled, with eight scalar
// accumulators.
// The shift barrier keeps the compiler from turning the running shifts into
// independent ones, so that every two bytes cost one shift and two byte moves.
#if defined(__GNUC__)
#define SHIFT_BARRIER(x) __asm__("" : "+r"(x))
#define ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define SHIFT_BARRIER(x) ((void)0)
#define ALWAYS_INLINE inline
#endif
#define LPS_COLUMN(j)                                  \
    do {                                               \
        const uint64_t *t = kLps.t[j];                 \
        uint64_t x = a[j] ^ b[j];                      \
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

}  // namespace

// E runs twelve rounds s := LPS(s ^ K), K := LPS(K ^ C_i), and a last X[K13].
V512 compress_portable(const V512 &h, const V512 &m, const V512 &n)
{
    V512 k = lpsx(h.w, n.w);
    V512 s = m;
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

V512 compress_keyed_portable(const V512 &h, const V512 &m, const RoundKeys &keys)
{
    V512 s = m;
    for (int i = 0; i < 12; ++i)
        s = lpsx(s.w, keys.k[i].w);
    V512 r;
    for (int i = 0; i < 8; ++i)
        r.w[i] = s.w[i] ^ keys.k[12].w[i] ^ h.w[i] ^ m.w[i];
    return r;
}

namespace {

RoundKeys make_round_keys(uint64_t start_word)
{
    RoundKeys r{};
    for (uint64_t &w : r.start.w)
        w = start_word;
    const V512 zero{};
    r.k[0] = lpsx(r.start.w, zero.w);
    for (int i = 1; i < 13; ++i)
        r.k[i] = lpsx(r.k[i - 1].w, kIter.c[i - 1]);
    for (int n = 0; n < 13; ++n)
        for (int i = 0; i < 8; ++i)
            for (int w = 0; w < 8; ++w)
                r.transposed[n][8 * i + w] = uint8_t(r.k[n].w[w] >> (8 * i));
    return r;
}

bool equal_xor(const V512 &h, const V512 &n, const V512 &v)
{
    uint64_t d = 0;
    for (int i = 0; i < 8; ++i)
        d |= h.w[i] ^ n.w[i] ^ v.w[i];
    return d == 0;
}

}  // namespace

const RoundKeys *known_round_keys(const V512 &h, const V512 &n)
{
    // The initial values of the 512- and 256-bit hashes.
    static const RoundKeys keys[2] = {make_round_keys(0), make_round_keys(0x0101010101010101ull)};
    for (const RoundKeys &k : keys)
        if (equal_xor(h, n, k.start))
            return &k;
    return nullptr;
}

CompressFunction compress_function()
{
    return compress_vector_supported() ? compress_vector : compress_portable;
}

KeyedFunction compress_keyed_function()
{
    return compress_vector_supported() ? compress_keyed_vector : compress_keyed_portable;
}

}  // namespace streebog
}  // namespace zkc
