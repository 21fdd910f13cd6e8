// GOST R 34.11-2012 compression on AVX-512 (F, BW, VBMI) with GFNI: the whole
// 512-bit state in one register. S is a 256-entry byte lookup made of two
// 128-entry permutations; P and L together are eight byte gathers, each
// followed by a GF(2) affine step that multiplies every byte by an 8 x 8 bit
// block of the matrix A, and an XOR of the eight products.
//
// Inside the function the state is kept transposed: byte 8i + w of the
// register is byte i of word w. With that layout the gather for input byte
// position j is the same for every output lane, and the result of L comes out
// transposed again, so no step needs a separate transposition; only the
// inputs and the result are transposed, once per block.
#include "gost_r3411_2012_compress.h"

#include "gost_r3411_2012_tables.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ZKC_STREEBOG_VECTOR 1
#include <immintrin.h>
#endif

namespace zkc {
namespace streebog {

#if ZKC_STREEBOG_VECTOR

namespace {

// The 8 x 8 bit block of L that takes input byte j of a word to output byte
// i, in the layout of the affine step: byte 7 - r holds the input bits that
// feed output bit r.
constexpr uint64_t affine_block(int i, int j)
{
    uint64_t q = 0;
    for (int s = 0; s < 8; ++s) {
        const uint64_t row = kA[63 - (8 * j + s)];  // L of input bit 8j + s
        for (int r = 0; r < 8; ++r)
            if ((row >> (8 * i + r)) & 1)
                q |= uint64_t(1) << (8 * (7 - r) + s);
    }
    return q;
}

struct alignas(64) VectorTables {
    uint64_t affine[8][8];     // [j][i]: lane i of the step for input byte j
    uint8_t gather[8][64];     // [j]: lane i, byte w <- byte j of word w
    uint8_t transpose[64];     // byte 8i + w <- byte 8w + i
    uint8_t pi[256];           // the substitution
    uint8_t c[12][64];         // the iteration constants, transposed
};

constexpr VectorTables make_vector_tables()
{
    VectorTables t{};
    for (int j = 0; j < 8; ++j)
        for (int i = 0; i < 8; ++i)
            t.affine[j][i] = affine_block(i, j);
    for (int j = 0; j < 8; ++j)
        for (int i = 0; i < 8; ++i)
            for (int w = 0; w < 8; ++w)
                t.gather[j][8 * i + w] = uint8_t(8 * w + j);
    for (int i = 0; i < 8; ++i)
        for (int w = 0; w < 8; ++w)
            t.transpose[8 * i + w] = uint8_t(8 * w + i);
    for (int v = 0; v < 256; ++v)
        t.pi[v] = kPi[v];
    const IterationConstants c = make_iteration_constants();
    for (int k = 0; k < 12; ++k)
        for (int i = 0; i < 8; ++i)
            for (int w = 0; w < 8; ++w)
                t.c[k][8 * i + w] = uint8_t(c.c[k][w] >> (8 * i));
    return t;
}

constexpr VectorTables kVector = make_vector_tables();

#define ZKC_VECTOR_TARGET __attribute__((target("avx512f,avx512bw,avx512vbmi,gfni")))

struct Constants {
    __m512i pi0, pi1, pi2, pi3;
    __m512i gather[8];
};

ZKC_VECTOR_TARGET inline __m512i load(const void *p)
{
    return _mm512_loadu_si512(p);
}

// Byte gather: byte b of the result is byte index[b] of x. (The unmasked
// intrinsic draws a false uninitialised-value warning from GCC 12; with every
// mask bit set the compiler emits the plain instruction.)
ZKC_VECTOR_TARGET inline __attribute__((always_inline)) __m512i gather(__m512i index, __m512i x)
{
    return _mm512_maskz_permutexvar_epi8(~__mmask64(0), index, x);
}

// S(x), byte by byte: two 128-entry permutations, chosen by the top bit.
ZKC_VECTOR_TARGET inline __attribute__((always_inline)) __m512i substitute(const Constants &k,
                                                                           __m512i x)
{
    const __m512i low = _mm512_permutex2var_epi8(k.pi0, x, k.pi1);
    const __m512i high = _mm512_permutex2var_epi8(k.pi2, x, k.pi3);
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), low, high);
}

// One product of the L step: the gather for input byte position j, then the
// bit blocks of A for that position, lane by lane.
#define ZKC_PRODUCT(s, j) \
    _mm512_gf2p8affine_epi64_epi8(gather(k.gather[j], s), load(kVector.affine[j]), 0)

// LPS(x) ^ y and LPS(u) ^ v for transposed x, y, u, v; the results are
// transposed too. The two are independent, and their steps alternate so
// that the permutation port and the affine port always have work from one
// of them.
ZKC_VECTOR_TARGET inline __attribute__((always_inline)) void lps2(const Constants &k, __m512i x,
                                                                  __m512i y, __m512i u, __m512i v,
                                                                  __m512i &r1, __m512i &r2)
{
    const __m512i s = substitute(k, x);
    const __m512i t = substitute(k, u);
    const __m512i s0 = ZKC_PRODUCT(s, 0), t0 = ZKC_PRODUCT(t, 0);
    const __m512i s1 = ZKC_PRODUCT(s, 1), t1 = ZKC_PRODUCT(t, 1);
    const __m512i s2 = ZKC_PRODUCT(s, 2), t2 = ZKC_PRODUCT(t, 2);
    const __m512i sa = _mm512_ternarylogic_epi64(s0, s1, s2, 0x96);
    const __m512i ta = _mm512_ternarylogic_epi64(t0, t1, t2, 0x96);
    const __m512i s3 = ZKC_PRODUCT(s, 3), t3 = ZKC_PRODUCT(t, 3);
    const __m512i s4 = ZKC_PRODUCT(s, 4), t4 = ZKC_PRODUCT(t, 4);
    const __m512i sb = _mm512_ternarylogic_epi64(s3, s4, sa, 0x96);
    const __m512i tb = _mm512_ternarylogic_epi64(t3, t4, ta, 0x96);
    const __m512i s5 = ZKC_PRODUCT(s, 5), t5 = ZKC_PRODUCT(t, 5);
    const __m512i s6 = ZKC_PRODUCT(s, 6), t6 = ZKC_PRODUCT(t, 6);
    const __m512i sc = _mm512_ternarylogic_epi64(s5, s6, sb, 0x96);
    const __m512i tc = _mm512_ternarylogic_epi64(t5, t6, tb, 0x96);
    const __m512i s7 = ZKC_PRODUCT(s, 7), t7 = ZKC_PRODUCT(t, 7);
    r1 = _mm512_ternarylogic_epi64(s7, sc, y, 0x96);
    r2 = _mm512_ternarylogic_epi64(t7, tc, v, 0x96);
}

// LPS(x) ^ y alone.
ZKC_VECTOR_TARGET inline __attribute__((always_inline)) __m512i lps1(const Constants &k, __m512i x,
                                                                     __m512i y)
{
    const __m512i s = substitute(k, x);
    const __m512i a = _mm512_ternarylogic_epi64(ZKC_PRODUCT(s, 0), ZKC_PRODUCT(s, 1), ZKC_PRODUCT(s, 2), 0x96);
    const __m512i b = _mm512_ternarylogic_epi64(ZKC_PRODUCT(s, 3), ZKC_PRODUCT(s, 4), a, 0x96);
    const __m512i c = _mm512_ternarylogic_epi64(ZKC_PRODUCT(s, 5), ZKC_PRODUCT(s, 6), b, 0x96);
    return _mm512_ternarylogic_epi64(ZKC_PRODUCT(s, 7), c, y, 0x96);
}
#undef ZKC_PRODUCT

}  // namespace

bool compress_vector_supported()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("gfni");
}

ZKC_VECTOR_TARGET V512 compress_vector(const V512 &h, const V512 &m, const V512 &n)
{
    Constants k;
    k.pi0 = load(kVector.pi);
    k.pi1 = load(kVector.pi + 64);
    k.pi2 = load(kVector.pi + 128);
    k.pi3 = load(kVector.pi + 192);
    for (int j = 0; j < 8; ++j)
        k.gather[j] = load(kVector.gather[j]);
    const __m512i transpose = load(kVector.transpose);
    const __m512i ht = gather(transpose, load(h.w));
    const __m512i mt = gather(transpose, load(m.w));
    const __m512i nt = gather(transpose, load(n.w));

    // The key schedule and the state are two independent chains; each round
    // works on both at once. Each step also adds in what the next step
    // starts with: the state the next round key, the key its round constant
    // (taken off again where the key itself is needed).
    //   kc = K_i ^ C_i, x = s_{i-1} ^ K_i
    const __m512i zero = _mm512_setzero_si512();
    const __m512i k1 = lps1(k, _mm512_xor_si512(ht, nt), zero);
    __m512i kc = _mm512_xor_si512(k1, load(kVector.c[0]));
    __m512i x = _mm512_xor_si512(mt, k1);
    __m512i key = k1;
#if defined(__clang__)
#pragma clang loop unroll(full)
#else
#pragma GCC unroll 12
#endif
    for (int i = 0; i < 11; ++i) {
        // s_i ^ K_{i+1} = LPS(x) ^ K_{i+1}, with K_{i+1} = LPS(kc); the key
        // step runs first in program order, the state step takes its result.
        __m512i next_kc, s;
        lps2(k, kc, load(kVector.c[i + 1]), x, zero, next_kc, s);
        key = _mm512_xor_si512(next_kc, load(kVector.c[i + 1]));
        x = _mm512_xor_si512(s, key);
        kc = next_kc;
    }
    // The twelfth round: s_12 = LPS(x), K_13 = LPS(kc).
    __m512i s12, k13;
    lps2(k, kc, zero, x, zero, k13, s12);
    const __m512i r = _mm512_ternarylogic_epi64(_mm512_xor_si512(s12, k13), ht, mt, 0x96);
    V512 out;
    _mm512_storeu_si512(out.w, gather(transpose, r));
    return out;
}

ZKC_VECTOR_TARGET V512 compress_keyed_vector(const V512 &h, const V512 &m, const RoundKeys &keys)
{
    Constants k;
    k.pi0 = load(kVector.pi);
    k.pi1 = load(kVector.pi + 64);
    k.pi2 = load(kVector.pi + 128);
    k.pi3 = load(kVector.pi + 192);
    for (int j = 0; j < 8; ++j)
        k.gather[j] = load(kVector.gather[j]);
    const __m512i transpose = load(kVector.transpose);
    const __m512i ht = gather(transpose, load(h.w));
    const __m512i mt = gather(transpose, load(m.w));
    // One chain: x = s_{i-1} ^ K_i, each step adding in the next key.
    __m512i x = _mm512_xor_si512(mt, load(keys.transposed[0]));
#if defined(__clang__)
#pragma clang loop unroll(full)
#else
#pragma GCC unroll 12
#endif
    for (int i = 1; i < 13; ++i)
        x = lps1(k, x, load(keys.transposed[i]));
    const __m512i r = _mm512_ternarylogic_epi64(x, ht, mt, 0x96);
    V512 out;
    _mm512_storeu_si512(out.w, gather(transpose, r));
    return out;
}

#else

V512 compress_keyed_vector(const V512 &h, const V512 &m, const RoundKeys &keys)
{
    return compress_keyed_portable(h, m, keys);
}

bool compress_vector_supported()
{
    return false;
}

V512 compress_vector(const V512 &h, const V512 &m, const V512 &n)
{
    return compress_portable(h, m, n);
}

#endif

}  // namespace streebog
}  // namespace zkc
