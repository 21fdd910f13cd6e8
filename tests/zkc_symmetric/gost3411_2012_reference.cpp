// The reference GOST R 34.11-2012: the former lookup-table compression,
// verbatim, and a plain whole-message driver.
#include "gost3411_2012_reference.h"

#include <cstring>

#include "hash_low/gost_r3411_2012_tables.h"

namespace reference2012 {

namespace {

using zkc::streebog::kIter;
using zkc::streebog::kLps;

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

ALWAYS_INLINE Words lpsx(const uint64_t *a, const uint64_t *b)
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
Words compress_impl(const Words &h, const Words &m, const Words &n)
{
    Words k = lpsx(h.w, n.w);
    Words s = m;
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
    Words r;
    for (int i = 0; i < 8; ++i)
        r.w[i] = s.w[i] ^ k.w[i] ^ h.w[i] ^ m.w[i];
    return r;
}

Words load(const uint8_t *p)
{
    Words v;
    std::memcpy(v.w, p, 64);  // the tests run on little-endian hosts
    return v;
}

void add(Words &acc, const Words &x)
{
    unsigned carry = 0;
    for (int i = 0; i < 8; ++i) {
        const unsigned __int128 s = (unsigned __int128)acc.w[i] + x.w[i] + carry;
        acc.w[i] = uint64_t(s);
        carry = unsigned(s >> 64);
    }
}

}  // namespace

Words compress(const Words &h, const Words &m, const Words &n)
{
    return compress_impl(h, m, n);
}

std::vector<uint8_t> digest(int bits, const std::vector<uint8_t> &message)
{
    Words h{}, n{}, sigma{};
    if (bits == 256)
        std::memset(h.w, 0x01, sizeof h.w);
    size_t pos = 0;
    for (; message.size() - pos >= 64; pos += 64) {
        const Words m = load(message.data() + pos);
        h = compress(h, m, n);
        add(n, Words{{512, 0, 0, 0, 0, 0, 0, 0}});
        add(sigma, m);
    }
    uint8_t last[64] = {};
    const size_t rest = message.size() - pos;
    if (rest != 0)
        std::memcpy(last, message.data() + pos, rest);
    last[rest] = 0x01;
    const Words m = load(last);
    h = compress(h, m, n);
    add(n, Words{{uint64_t(8 * rest), 0, 0, 0, 0, 0, 0, 0}});
    add(sigma, m);
    const Words zero{};
    h = compress(h, n, zero);
    h = compress(h, sigma, zero);
    uint8_t out[64];
    std::memcpy(out, h.w, 64);
    return bits == 256 ? std::vector<uint8_t>(out + 32, out + 64) : std::vector<uint8_t>(out, out + 64);
}

}  // namespace reference2012
