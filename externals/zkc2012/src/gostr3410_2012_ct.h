// Constant-time curve arithmetic of the GOST R 34.10 core: points in
// homogeneous projective coordinates (x = X/Z, y = Y/Z, infinity (0 : 1 : 0))
// added by the complete formulas of Renes, Costello and Batina (2016,
// algorithm 1, any a), which have no exceptional case on the subgroup of prime
// order, so no branch depends on a point. Scalars are read in 4-bit windows
// over their full width, and table points are taken by a masked scan of the
// whole table. Verification, whose values are all public, has faster
// variable-time paths (gostr3410_2012_public.cpp). Internal to the core.
#ifndef GOSTR3410_2012_CT_H
#define GOSTR3410_2012_CT_H

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "gostr3410_2012.h"
#include "gostr3410_2012_ec.h"
#include "gostr3410_2012_fp.h"

namespace zkc::ec {

template <std::size_t L> struct Proj {
    Fe<L> X, Y, Z;
};

// An affine point (never infinity): the entries of the fixed-base table.
template <std::size_t L> struct Aff {
    Fe<L> X, Y;
};

// 64-bit limbs of a curve of N 32-bit digits (one spare digit not counted).
template <std::size_t N> constexpr std::size_t kLimbs = (N - 1) / 2;
// 4-bit windows of a scalar of N digits.
template <std::size_t N> constexpr std::size_t kWindows = N * MP_BITS_PER_DIGIT / 4;
// Those of a scalar below 2^(64 L) (reduced mod q): the spare digit skipped.
template <std::size_t N> constexpr std::size_t kReducedWindows = kLimbs<N> * 16;
// Signed 5-bit digits of a scalar below 2^(64 L): one more than its windows
// (the last takes the carry), each in -16..16, so a row of the fixed-base
// table holds the multiples 1..16.
constexpr std::size_t kBaseBits = 5;
template <std::size_t N> constexpr std::size_t kBaseRows = (kLimbs<N> * 64 + kBaseBits - 1) / kBaseBits + 1;
constexpr std::size_t kRowPoints = std::size_t(1) << (kBaseBits - 1);
// Odd multiples G, 3G, .., 63G for width-7 NAF digits of public scalars.
constexpr int kGNafWidth = 7;
constexpr std::size_t kGOddPoints = 1u << (kGNafWidth - 2);

// Public points met more than once (a key verified with again and again) get
// tables of their own: the odd multiples of 2^(i w) P for the kSplit parts of
// a scalar, w = 64 L / kSplit bits each, so that k P takes w doublings.
constexpr std::size_t kSplit = 4;
template <std::size_t L> struct PointTables {
    struct Entry {
        Aff<L> point;
        std::shared_ptr<const std::vector<Aff<L>>> odd;
    };
    static constexpr std::size_t kBuilt = 8, kSeen = 16;
    std::mutex lock;
    std::vector<Entry> built;  // most recently used last
    std::vector<Aff<L>> seen;  // met once, most recent last
};

// Signed digits of k, lowest first: with carry (0 or 1) from the digit below,
// window + carry = digit + 2^b carry', digit in -2^(b-1)..2^(b-1)-1 for b =
// kBaseBits. Branch-free; `neg` is all ones for a negative digit and `mag`
// its absolute value.
template <std::size_t L> struct SignedDigit {
    u64 mag, neg;
    static SignedDigit next(const Fe<L> &k, std::size_t i, u64 &carry)
    {
        const std::size_t pos = kBaseBits * i, limb = pos / 64, shift = pos % 64;
        u64 bits = limb < L ? k.v[limb] >> shift : 0;
        if (shift + kBaseBits > 64 && limb + 1 < L)
            bits |= k.v[limb + 1] << (64 - shift);
        const u64 v = (bits & ((1u << kBaseBits) - 1)) + carry;
        carry = (v + kRowPoints) >> kBaseBits;
        const u64 d = v - (carry << kBaseBits);
        const u64 neg = (u64)0 - (d >> 63);
        return {(d ^ neg) - neg, neg};
    }
};

// A curve prepared for the arithmetic: the field and scalar moduli, a and 3b
// in Montgomery form, the base point, and for the built-in curves the
// fixed-base table (entry 8 w + j - 1 is j 16^w G in affine form, j = 1..8).
template <std::size_t N> struct CurveCtx {
    static constexpr std::size_t L = kLimbs<N>;
    Modulus<L> fp, fq;
    DIGIT_T p[N];
    Fe<L> a, b, b3;
    Proj<L> G;
    std::vector<Aff<L>> base;
    std::vector<Aff<L>> g_odd;  // (2 i + 1) G, affine
    std::vector<Aff<L>> g_split;  // odd multiples of 2^(i w) G for the kSplit parts
    std::unique_ptr<PointTables<L>> tables = std::make_unique<PointTables<L>>();
    bool a_is_minus_3 = false;  // doublings then take the cheaper formulas
    unsigned cofactor = 1;
    std::size_t q_bits = 0;

    explicit CurveCtx(const typename Curve<N>::Params &params);

    void add(Proj<L> &R, const Proj<L> &P, const Proj<L> &Q) const;
    // R := P + Q for an affine Q (one product fewer).
    void add_mixed(Proj<L> &R, const Proj<L> &P, const Aff<L> &Q) const;
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
    // R := k G for the unsigned scalar of N digits, through the fixed-base
    // table (k reduced mod q first) when there is one.
    void base_mult(Proj<L> &R, const DIGIT_T *k) const;
    // R := k G through the table, for k below 2^(64 L).
    void base_mult(Proj<L> &R, const Fe<L> &k) const;
    // k mod q for a scalar of N digits, in constant time.
    void reduce_scalar(Fe<L> &r, const DIGIT_T *k) const;
    // Builds the fixed-base table (once per built-in curve).
    void build_base_table();

    // Public values only, in variable time: R := k G (through the table when
    // there is one) and R := k P, for k below 2^(64 L).
    void public_base_mult(Proj<L> &R, const Fe<L> &k) const;
    void public_mult(Proj<L> &R, const Proj<L> &P, const Fe<L> &k) const;
    // R := kg G + k P (kg may be null: then k P), one chain of doublings.
    void public_mult2(Proj<L> &R, const Fe<L> *kg, const Proj<L> &P, const Fe<L> &k) const;
    // R := kg G + k P for a verification: through P's own tables once P has
    // been met before (they are built at the second meeting), else as above.
    void public_verify_mult(Proj<L> &R, const Fe<L> &kg, const Proj<L> &P, const Fe<L> &k) const;
    // The odd multiples of 2^(i w) P (width-w non-adjacent digits) for the
    // parts of a scalar, affine.
    std::vector<Aff<L>> split_table(const Proj<L> &P, int width) const;
    // Whether P has tables of its own (it passed load_public before).
    bool known_point(const Proj<L> &P) const;
    // Loads a public point: false unless on the curve, not infinity, and of
    // order q on a curve with a cofactor.
    bool load_public(Proj<L> &P, const typename Curve<N>::Point &Q) const;

private:
    // r := a x (a few additions when a = -3).
    void mul_a(Fe<L> &r, const Fe<L> &x) const;
    // The common end of both additions, from X1 X2, Y1 Y2, Z1 Z2 and the
    // cross sums X1 Y2 + X2 Y1, X1 Z2 + X2 Z1, Y1 Z2 + Y2 Z1.
    void add_finish(Proj<L> &R, Fe<L> t0, Fe<L> t1, Fe<L> t2, const Fe<L> &t3, Fe<L> t4, const Fe<L> &t5) const;
};

// The prepared form of a curve record: built once for the built-in records
// (thread-safe), afresh for any other.
template <std::size_t N> std::shared_ptr<const CurveCtx<N>> curve_ctx(const typename Curve<N>::Params &params);

template <std::size_t L> void proj_cmov(Proj<L> &r, const Proj<L> &a, u64 mask)
{
    fe_cmov(r.X, a.X, mask);
    fe_cmov(r.Y, a.Y, mask);
    fe_cmov(r.Z, a.Z, mask);
}

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
