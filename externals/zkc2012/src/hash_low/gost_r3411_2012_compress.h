// The compression function g_N(h, m) = E(LPS(h ^ N), m) ^ h ^ m of
// GOST R 34.11-2012 on eight 64-bit little-endian words, in two forms: the
// portable one on the combined S-P-L lookup tables, and one on AVX-512 byte
// permutations and GF(2) affine steps for processors that have them.
// compress() takes the best the running processor offers. Internal to the
// crypto core.
#ifndef GOST_R3411_2012_COMPRESS_H
#define GOST_R3411_2012_COMPRESS_H

#include <cstdint>

namespace zkc {
namespace streebog {

struct V512 {
    uint64_t w[8];
};

// Returns g_n(h, m).
V512 compress_portable(const V512 &h, const V512 &m, const V512 &n);

// Whether compress_vector runs here (AVX-512 F, BW, VBMI and GFNI with the
// operating system's support for their registers).
bool compress_vector_supported();

// Returns g_n(h, m); only where compress_vector_supported().
V512 compress_vector(const V512 &h, const V512 &m, const V512 &n);

using CompressFunction = V512 (*)(const V512 &h, const V512 &m, const V512 &n);

// The form chosen for this processor, picked once.
CompressFunction compress_function();

inline V512 compress(const V512 &h, const V512 &m, const V512 &n)
{
    static const CompressFunction f = compress_function();
    return f(h, m, n);
}

// The round keys K1..K13 of E depend on h ^ N alone. For the first block of a
// message h is the initial value and N is 0, so its keys are constants,
// computed once for each of the two initial values; that block then needs
// only the state's chain of twelve steps.
struct RoundKeys {
    V512 start;                         // the h ^ N they belong to
    V512 k[13];                         // K1..K13
    alignas(64) uint8_t transposed[13][64];  // the same, byte 8i + w = byte i of word w
};

// The keys for h ^ n, when h ^ n is one of the two initial values; else null.
const RoundKeys *known_round_keys(const V512 &h, const V512 &n);

// g_n(h, m) with the keys of h ^ n given.
V512 compress_keyed_portable(const V512 &h, const V512 &m, const RoundKeys &keys);
V512 compress_keyed_vector(const V512 &h, const V512 &m, const RoundKeys &keys);

using KeyedFunction = V512 (*)(const V512 &h, const V512 &m, const RoundKeys &keys);
KeyedFunction compress_keyed_function();

// g_n(h, m), from the constant keys where h ^ n allows.
inline V512 compress_block(const V512 &h, const V512 &m, const V512 &n)
{
    if (const RoundKeys *keys = known_round_keys(h, n)) {
        static const KeyedFunction f = compress_keyed_function();
        return f(h, m, *keys);
    }
    return compress(h, m, n);
}

}  // namespace streebog
}  // namespace zkc

#endif  // GOST_R3411_2012_COMPRESS_H
