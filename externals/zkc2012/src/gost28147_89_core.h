// The GOST 28147-89 block transformations behind every mode and the
// GOST R 34.11-94 step function: four pre-rotated lookups per round, rounds
// unrolled, round keys in locals. Internal to the crypto core.
#ifndef GOST28147_89_CORE_H
#define GOST28147_89_CORE_H

#include <cstddef>
#include <cstdint>

#include "gost28147_89.h"
#include "zkc_bignum_mem.h"

namespace zkc {
namespace g89 {

using Tables = const uint32_t (*)[256];

#if defined(__GNUC__)
#define ZKC_G89_INLINE inline __attribute__((always_inline))
#else
#define ZKC_G89_INLINE inline
#endif

inline uint32_t load_le32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void store_le32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

inline uint64_t load_le64(const uint8_t *p)
{
    return uint64_t(load_le32(p)) | uint64_t(load_le32(p + 4)) << 32;
}

inline void store_le64(uint8_t *p, uint64_t v)
{
    store_le32(p, uint32_t(v));
    store_le32(p + 4, uint32_t(v >> 32));
}

// The 32-bit round key words K0..K7 of a 32-byte key.
struct RoundKeys {
    uint32_t k[8];
};

inline void load_keys(RoundKeys &rk, const uint8_t *key)
{
    for (int i = 0; i < 8; ++i)
        rk.k[i] = load_le32(key + 4 * i);
}

// The round function over three lookups instead of four: the sum is cut into
// bits 0-11, 12-19 and 20-31, each slice indexing a table that already holds
// the rotated S-box outputs of its nibbles. One lookup and one XOR fewer per
// round take load work off the interleaved runs and shorten the MAC's chain;
// the modes say which runs use them. The tables are derived from the four
// pre-rotated ones at build time for the registered sets (33 KiB a set,
// within L1).
struct alignas(64) SplitTables {
    uint32_t lo[4096];   // bits 0-11
    uint32_t hi[4096];   // bits 20-31
    uint32_t mid[256];   // bits 12-19
};

#define ZKC_G89_F(T, x) \
    (((T)[0][(x) & 0xFF] ^ (T)[1][((x) >> 8) & 0xFF]) ^ ((T)[2][((x) >> 16) & 0xFF] ^ (T)[3][(x) >> 24]))

// The round function f(x) on either table layout.
ZKC_G89_INLINE uint32_t round_f(Tables T, uint32_t x)
{
    return ZKC_G89_F(T, x);
}

ZKC_G89_INLINE uint32_t round_f(const SplitTables *S, uint32_t x)
{
    return (S->lo[x & 0xFFF] ^ S->hi[x >> 20]) ^ S->mid[(x >> 12) & 0xFF];
}

// One round on the halves (a, b): b ^= f(a + k). Alternating the roles of the
// two halves takes the place of the swap.
#define ZKC_G89_R(T, a, b, k) \
    do { \
        const uint32_t t_ = (a) + (k); \
        (b) ^= round_f(T, t_); \
    } while (0)
#define ZKC_G89_UP8(T, a, b, K) \
    ZKC_G89_R(T, a, b, K[0]); ZKC_G89_R(T, b, a, K[1]); ZKC_G89_R(T, a, b, K[2]); \
    ZKC_G89_R(T, b, a, K[3]); ZKC_G89_R(T, a, b, K[4]); ZKC_G89_R(T, b, a, K[5]); \
    ZKC_G89_R(T, a, b, K[6]); ZKC_G89_R(T, b, a, K[7])
#define ZKC_G89_DOWN8(T, a, b, K) \
    ZKC_G89_R(T, a, b, K[7]); ZKC_G89_R(T, b, a, K[6]); ZKC_G89_R(T, a, b, K[5]); \
    ZKC_G89_R(T, b, a, K[4]); ZKC_G89_R(T, a, b, K[3]); ZKC_G89_R(T, b, a, K[2]); \
    ZKC_G89_R(T, a, b, K[1]); ZKC_G89_R(T, b, a, K[0])
// Two independent blocks (a1, b1) and (a2, b2) round by round, so that their
// lookups overlap.
#define ZKC_G89_R2(T, a1, b1, a2, b2, k) \
    do { \
        const uint32_t t1_ = (a1) + (k); \
        const uint32_t t2_ = (a2) + (k); \
        (b1) ^= round_f(T, t1_); \
        (b2) ^= round_f(T, t2_); \
    } while (0)
#define ZKC_G89_UP8_2(T, a1, b1, a2, b2, K) \
    ZKC_G89_R2(T, a1, b1, a2, b2, K[0]); ZKC_G89_R2(T, b1, a1, b2, a2, K[1]); \
    ZKC_G89_R2(T, a1, b1, a2, b2, K[2]); ZKC_G89_R2(T, b1, a1, b2, a2, K[3]); \
    ZKC_G89_R2(T, a1, b1, a2, b2, K[4]); ZKC_G89_R2(T, b1, a1, b2, a2, K[5]); \
    ZKC_G89_R2(T, a1, b1, a2, b2, K[6]); ZKC_G89_R2(T, b1, a1, b2, a2, K[7])
#define ZKC_G89_DOWN8_2(T, a1, b1, a2, b2, K) \
    ZKC_G89_R2(T, a1, b1, a2, b2, K[7]); ZKC_G89_R2(T, b1, a1, b2, a2, K[6]); \
    ZKC_G89_R2(T, a1, b1, a2, b2, K[5]); ZKC_G89_R2(T, b1, a1, b2, a2, K[4]); \
    ZKC_G89_R2(T, a1, b1, a2, b2, K[3]); ZKC_G89_R2(T, b1, a1, b2, a2, K[2]); \
    ZKC_G89_R2(T, a1, b1, a2, b2, K[1]); ZKC_G89_R2(T, b1, a1, b2, a2, K[0])

// Four independent blocks round by round.
#define ZKC_G89_R4(T, a1, b1, a2, b2, a3, b3, a4, b4, k) \
    do { \
        const uint32_t t1_ = (a1) + (k); \
        const uint32_t t2_ = (a2) + (k); \
        const uint32_t t3_ = (a3) + (k); \
        const uint32_t t4_ = (a4) + (k); \
        (b1) ^= round_f(T, t1_); \
        (b2) ^= round_f(T, t2_); \
        (b3) ^= round_f(T, t3_); \
        (b4) ^= round_f(T, t4_); \
    } while (0)
#define ZKC_G89_P4(T, K, i, j) \
    ZKC_G89_R4(T, a1, b1, a2, b2, a3, b3, a4, b4, K[i]); \
    ZKC_G89_R4(T, b1, a1, b2, a2, b3, a3, b4, a4, K[j])
#define ZKC_G89_UP8_4(T, K) \
    ZKC_G89_P4(T, K, 0, 1); ZKC_G89_P4(T, K, 2, 3); ZKC_G89_P4(T, K, 4, 5); ZKC_G89_P4(T, K, 6, 7)
#define ZKC_G89_DOWN8_4(T, K) \
    ZKC_G89_P4(T, K, 7, 6); ZKC_G89_P4(T, K, 5, 4); ZKC_G89_P4(T, K, 3, 2); ZKC_G89_P4(T, K, 1, 0)

// 32-round encryption of the block (n1, n2): K0..K7 three times, then K7..K0;
// the last round does not swap.
template <typename Tab>
ZKC_G89_INLINE void encrypt(Tab T, const uint32_t *K, uint32_t &n1, uint32_t &n2)
{
    uint32_t a = n1, b = n2;
    ZKC_G89_UP8(T, a, b, K);
    ZKC_G89_UP8(T, a, b, K);
    ZKC_G89_UP8(T, a, b, K);
    ZKC_G89_DOWN8(T, a, b, K);
    n1 = b;
    n2 = a;
}

// 32-round decryption: K0..K7 once, then K7..K0 three times.
template <typename Tab>
ZKC_G89_INLINE void decrypt(Tab T, const uint32_t *K, uint32_t &n1, uint32_t &n2)
{
    uint32_t a = n1, b = n2;
    ZKC_G89_UP8(T, a, b, K);
    ZKC_G89_DOWN8(T, a, b, K);
    ZKC_G89_DOWN8(T, a, b, K);
    ZKC_G89_DOWN8(T, a, b, K);
    n1 = b;
    n2 = a;
}

// Two blocks encrypted side by side.
template <typename Tab>
ZKC_G89_INLINE void encrypt2(Tab T, const uint32_t *K, uint32_t &x1, uint32_t &x2, uint32_t &y1,
                     uint32_t &y2)
{
    uint32_t a1 = x1, b1 = x2, a2 = y1, b2 = y2;
    ZKC_G89_UP8_2(T, a1, b1, a2, b2, K);
    ZKC_G89_UP8_2(T, a1, b1, a2, b2, K);
    ZKC_G89_UP8_2(T, a1, b1, a2, b2, K);
    ZKC_G89_DOWN8_2(T, a1, b1, a2, b2, K);
    x1 = b1;
    x2 = a1;
    y1 = b2;
    y2 = a2;
}

template <typename Tab>
ZKC_G89_INLINE void decrypt2(Tab T, const uint32_t *K, uint32_t &x1, uint32_t &x2, uint32_t &y1,
                     uint32_t &y2)
{
    uint32_t a1 = x1, b1 = x2, a2 = y1, b2 = y2;
    ZKC_G89_UP8_2(T, a1, b1, a2, b2, K);
    ZKC_G89_DOWN8_2(T, a1, b1, a2, b2, K);
    ZKC_G89_DOWN8_2(T, a1, b1, a2, b2, K);
    ZKC_G89_DOWN8_2(T, a1, b1, a2, b2, K);
    x1 = b1;
    x2 = a1;
    y1 = b2;
    y2 = a2;
}

// Four blocks x[0..3] (halves n1 = x[2i], n2 = x[2i + 1]) encrypted side by side.
template <typename Tab>
ZKC_G89_INLINE void encrypt4(Tab T, const uint32_t *K, uint32_t *x)
{
    uint32_t a1 = x[0], b1 = x[1], a2 = x[2], b2 = x[3];
    uint32_t a3 = x[4], b3 = x[5], a4 = x[6], b4 = x[7];
    ZKC_G89_UP8_4(T, K);
    ZKC_G89_UP8_4(T, K);
    ZKC_G89_UP8_4(T, K);
    ZKC_G89_DOWN8_4(T, K);
    x[0] = b1; x[1] = a1; x[2] = b2; x[3] = a2;
    x[4] = b3; x[5] = a3; x[6] = b4; x[7] = a4;
}

template <typename Tab>
ZKC_G89_INLINE void decrypt4(Tab T, const uint32_t *K, uint32_t *x)
{
    uint32_t a1 = x[0], b1 = x[1], a2 = x[2], b2 = x[3];
    uint32_t a3 = x[4], b3 = x[5], a4 = x[6], b4 = x[7];
    ZKC_G89_UP8_4(T, K);
    ZKC_G89_DOWN8_4(T, K);
    ZKC_G89_DOWN8_4(T, K);
    ZKC_G89_DOWN8_4(T, K);
    x[0] = b1; x[1] = a1; x[2] = b2; x[3] = a2;
    x[4] = b3; x[5] = a3; x[6] = b4; x[7] = a4;
}

// One round for a run whose blocks chain one into the next (the MAC), where
// only the round's latency counts: the other half is XORed with the middle
// slice, whose index takes one step longer to extract, while the outer two
// are XORed together; the barrier keeps the compiler from making one chain of
// the four XORs again.
ZKC_G89_INLINE void chained_round(const SplitTables *S, uint32_t a, uint32_t &b, uint32_t k)
{
    const uint32_t x = a + k;
    uint32_t outer = S->lo[x & 0xFFF] ^ S->hi[x >> 20];
    uint32_t inner = b ^ S->mid[(x >> 12) & 0xFF];
#if defined(__GNUC__)
    __asm__("" : "+r"(outer), "+r"(inner));
#endif
    b = outer ^ inner;
}

ZKC_G89_INLINE void chained_round(Tables T, uint32_t a, uint32_t &b, uint32_t k)
{
    ZKC_G89_R(T, a, b, k);
}

// The 16-round cycle of the MAC: K0..K7 twice.
template <typename Tab>
ZKC_G89_INLINE void mac16(Tab T, const uint32_t *K, uint32_t &n1, uint32_t &n2)
{
    uint32_t a = n1, b = n2;
    for (int r = 0; r < 2; ++r) {
        chained_round(T, a, b, K[0]);
        chained_round(T, b, a, K[1]);
        chained_round(T, a, b, K[2]);
        chained_round(T, b, a, K[3]);
        chained_round(T, a, b, K[4]);
        chained_round(T, b, a, K[5]);
        chained_round(T, a, b, K[6]);
        chained_round(T, b, a, K[7]);
    }
    n1 = a;
    n2 = b;
}


// Each byte lookup T[j][x] is the XOR of the rotated outputs of its two
// nibbles; T[j][n] ^ T[j][m << 4] ^ T[j][0] pairs the low nibble n with the
// high nibble m, which lets a slice take half of a byte.
constexpr void split_tables(const GOST28147_89_EXP_TABLE &t, SplitTables &s)
{
    for (uint32_t i = 0; i < 4096; ++i) {
        s.lo[i] = t.T[0][i & 0xFF] ^ t.T[1][i >> 8];
        s.hi[i] = t.T[2][(i & 15) << 4] ^ t.T[2][0] ^ t.T[3][i >> 4];
    }
    for (uint32_t i = 0; i < 256; ++i)
        s.mid[i] = t.T[1][(i & 15) << 4] ^ t.T[1][0] ^ t.T[2][i >> 4];
}

// The split tables of a registered set whose expanded table equals *t, or
// null for any other table (which then runs on the four lookups).
const SplitTables *find_split_tables(const GOST28147_89_EXP_TABLE *t);

template <typename Tab>
inline void encrypt_bytes(Tab T, const uint32_t *K, const uint8_t *in, uint8_t *out)
{
    uint32_t n1 = load_le32(in), n2 = load_le32(in + 4);
    encrypt(T, K, n1, n2);
    store_le32(out, n1);
    store_le32(out + 4, n2);
}

template <typename Tab>
inline void decrypt_bytes(Tab T, const uint32_t *K, const uint8_t *in, uint8_t *out)
{
    uint32_t n1 = load_le32(in), n2 = load_le32(in + 4);
    decrypt(T, K, n1, n2);
    store_le32(out, n1);
    store_le32(out + 4, n2);
}

// Overwrites n bytes with zeros in a way the compiler may not drop.
inline void wipe(void *p, std::size_t n)
{
    mp_wipe(p, n);
}

// Expands S-boxes packed as in the parameter-set OCTET STRINGs (byte 4r + j =
// S(2j+1)[r] << 4 | S(2j+2)[r]) into the four pre-rotated round tables.
constexpr GOST28147_89_EXP_TABLE expand_sboxes(const uint8_t (&packed)[64])
{
    GOST28147_89_EXP_TABLE t{};
    for (int j = 0; j < 4; ++j) {
        for (uint32_t x = 0; x < 256; ++x) {
            const uint32_t lo = packed[4 * (x & 15) + j] >> 4;  // S(2j+1)[x & 15]
            const uint32_t hi = packed[4 * (x >> 4) + j] & 15;  // S(2j+2)[x >> 4]
            const uint32_t v = ((hi << 4) | lo) << (8 * j);
            t.T[j][x] = (v << 11) | (v >> 21);
        }
    }
    t.ready = 1;
    return t;
}

}  // namespace g89
}  // namespace zkc

#endif  // GOST28147_89_CORE_H
