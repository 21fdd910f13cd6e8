// Constant-time curve arithmetic of the GOST R 34.10 core: points in
// homogeneous projective coordinates (x = X/Z, y = Y/Z, infinity (0 : 1 : 0))
// added by the complete formulas of Renes, Costello and Batina (2016,
// algorithm 1, any a), which have no exceptional case on the subgroup of prime
// order, so no branch depends on a point. Scalars are read in 4-bit windows
// over their full width, and table points are taken by a masked scan of the
// whole table. Internal to the core.
#ifndef GOSTR3410_2012_CT_H
#define GOSTR3410_2012_CT_H

#include <cstddef>
#include <memory>
#include <vector>

#include "gostr3410_2012.h"
#include "gostr3410_2012_ec.h"
#include "gostr3410_2012_fp.h"

namespace zkc::ec {

template <std::size_t L> struct Proj {
    Fe<L> X, Y, Z;
};

// 64-bit limbs of a curve of N 32-bit digits (one spare digit not counted).
template <std::size_t N> constexpr std::size_t kLimbs = (N - 1) / 2;
// 4-bit windows of a scalar of N digits.
template <std::size_t N> constexpr std::size_t kWindows = N * MP_BITS_PER_DIGIT / 4;
// Those of a scalar below 2^(64 L) (reduced mod q): the spare digit skipped.
template <std::size_t N> constexpr std::size_t kReducedWindows = kLimbs<N> * 16;

// A curve prepared for the arithmetic: the field and scalar moduli, a and 3b
// in Montgomery form, the base point, and for the built-in curves the
// fixed-base table (entry 16 w + i is i 16^w G).
template <std::size_t N> struct CurveCtx {
    static constexpr std::size_t L = kLimbs<N>;
    Modulus<L> fp, fq;
    DIGIT_T p[N];
    Fe<L> a, b, b3;
    Proj<L> G;
    std::vector<Proj<L>> comb;
    bool a_is_minus_3 = false;  // doublings then take the cheaper formulas
    unsigned cofactor = 1;
    std::size_t q_bits = 0;

    explicit CurveCtx(const typename Curve<N>::Params &params);

    void add(Proj<L> &R, const Proj<L> &P, const Proj<L> &Q) const;
    void dbl(Proj<L> &R, const Proj<L> &P) const;
    void infinity(Proj<L> &R) const;
    // A public affine point (coordinates reduced mod p first).
    void load(Proj<L> &R, const typename Curve<N>::Point &P) const;
    // Affine form, infinity giving (0, 0).
    void unload(typename Curve<N>::Point &R, const Proj<L> &P) const;
    // Whether a public point satisfies the curve equation.
    bool on_curve(const Proj<L> &P) const;
    // R := k P for the unsigned scalar of N digits, of which the lowest
    // `windows` 4-bit windows are read (the others must be zero).
    void mult(Proj<L> &R, const Proj<L> &P, const DIGIT_T *k, std::size_t windows = kWindows<N>) const;
    // R := k G, through the fixed-base table when there is one.
    void base_mult(Proj<L> &R, const DIGIT_T *k, std::size_t windows = kWindows<N>) const;
};

// The prepared form of a curve record: built once for the built-in records
// (thread-safe), afresh for any other.
template <std::size_t N> std::shared_ptr<const CurveCtx<N>> curve_ctx(const typename Curve<N>::Params &params);

// d := |k| (top bit as sign) without a branch on k.
template <std::size_t N> void ct_abs(DIGIT_T *d, const DIGIT_T *k)
{
    const DIGIT_T sign = k[N - 1] >> 31;
    const DIGIT_T mask = (DIGIT_T)0 - sign;
    u64 carry = sign;
    for (std::size_t i = 0; i < N; ++i) {
        const u64 x = (u64)(k[i] ^ mask) + carry;
        d[i] = (DIGIT_T)x;
        carry = x >> 32;
    }
}

}  // namespace zkc::ec

#endif  // GOSTR3410_2012_CT_H
