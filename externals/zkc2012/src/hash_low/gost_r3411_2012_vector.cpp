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

// LPS(x) for a transposed x; the result is transposed too.
ZKC_VECTOR_TARGET inline __attribute__((always_inline)) __m512i lps(const Constants &k, __m512i x)
{
    const __m512i low = _mm512_permutex2var_epi8(k.pi0, x, k.pi1);
    const __m512i high = _mm512_permutex2var_epi8(k.pi2, x, k.pi3);
    const __m512i s = _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), low, high);
#define ZKC_PRODUCT(j) \
    _mm512_gf2p8affine_epi64_epi8(gather(k.gather[j], s), load(kVector.affine[j]), 0)
    const __m512i g0 = ZKC_PRODUCT(0), g1 = ZKC_PRODUCT(1), g2 = ZKC_PRODUCT(2);
    const __m512i g3 = ZKC_PRODUCT(3), g4 = ZKC_PRODUCT(4), g5 = ZKC_PRODUCT(5);
    const __m512i g6 = ZKC_PRODUCT(6), g7 = ZKC_PRODUCT(7);
#undef ZKC_PRODUCT
    const __m512i a = _mm512_ternarylogic_epi64(g0, g1, g2, 0x96);
    const __m512i b = _mm512_ternarylogic_epi64(g3, g4, g5, 0x96);
    const __m512i c = _mm512_ternarylogic_epi64(g6, g7, a, 0x96);
    return _mm512_xor_si512(b, c);
}

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

    // The key schedule and the state are two independent chains, round by
    // round, so the processor overlaps them.
    __m512i key = lps(k, _mm512_xor_si512(ht, nt));
    __m512i s = mt;
#if defined(__clang__)
#pragma clang loop unroll(full)
#else
#pragma GCC unroll 12
#endif
    for (int i = 0; i < 12; ++i) {
        s = lps(k, _mm512_xor_si512(s, key));
        key = lps(k, _mm512_xor_si512(key, load(kVector.c[i])));
    }
    const __m512i r = _mm512_ternarylogic_epi64(_mm512_xor_si512(s, key), ht, mt, 0x96);
    V512 out;
    _mm512_storeu_si512(out.w, gather(transpose, r));
    return out;
}

#else

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
