// Fixed-base multiplication k G without doublings: one row of the table per
// signed 4-bit digit of k, the row's eight affine multiples taken by a masked
// scan, negated by mask, and added by the mixed formulas.
#include "gostr3410_2012_ct.h"

namespace zkc::ec {

template <std::size_t N> void CurveCtx<N>::build_base_table()
{
    // Row w: j 16^w G for j = 1..8, then the odd multiples of G; projective
    // first, then affine through a single inversion of the product of all Z
    // (the values are public).
    const std::size_t rows = kRowPoints * kBaseRows<N>, count = rows + kGOddPoints;
    std::vector<Proj<L>> points(count);
    Proj<L> T = G;
    for (std::size_t w = 0; w < kBaseRows<N>; ++w) {
        Proj<L> *row = &points[kRowPoints * w];
        row[0] = T;
        for (std::size_t j = 1; j < kRowPoints; ++j)
            add(row[j], row[j - 1], T);
        dbl(T, row[kRowPoints - 1]);
    }
    Proj<L> twice;
    dbl(twice, G);
    points[rows] = G;
    for (std::size_t i = rows + 1; i < count; ++i)
        add(points[i], points[i - 1], twice);
    std::vector<Fe<L>> prefix(count);
    Fe<L> acc = fp.one;
    for (std::size_t i = 0; i < count; ++i) {
        prefix[i] = acc;
        fp.mul(acc, acc, points[i].Z);
    }
    Fe<L> inv;
    fp.inv(inv, acc);
    std::vector<Aff<L>> affine(count);
    for (std::size_t i = count; i-- > 0;) {
        Fe<L> zinv;
        fp.mul(zinv, inv, prefix[i]);
        fp.mul(inv, inv, points[i].Z);
        fp.mul(affine[i].X, points[i].X, zinv);
        fp.mul(affine[i].Y, points[i].Y, zinv);
    }
    base.assign(affine.begin(), affine.begin() + rows);
    g_odd.assign(affine.begin() + rows, affine.end());
    g_split = split_table(G, kGNafWidth);
}

template <std::size_t N> void CurveCtx<N>::reduce_scalar(Fe<L> &r, const DIGIT_T *k) const
{
    // k = lo + hi 2^(64 L): in Montgomery form lo R and (hi R) R, summed.
    Fe<L> lo, hi{};
    hi.v[0] = k[N - 1];
    fq.to_mont(lo, fe_from_digits<L>(k));
    fq.to_mont(hi, hi);
    fq.to_mont(hi, hi);
    fq.add(lo, lo, hi);
    fq.from_mont(r, lo);
    mp_wipe(&lo, sizeof lo);
    mp_wipe(&hi, sizeof hi);
}

template <std::size_t N> void CurveCtx<N>::base_mult(Proj<L> &R, const DIGIT_T *k) const
{
    if (base.empty()) {
        mult(R, G, k);
        return;
    }
    Wiped<Fe<L>> r;
    reduce_scalar(r.v, k);
    base_mult(R, r.v);
}

template <std::size_t N> void CurveCtx<N>::base_mult(Proj<L> &R, const Fe<L> &k) const
{
    struct Work {
        Proj<L> acc, sum;
        Aff<L> pick;
        Fe<L> minus_y;
        SignedDigit<L> digit;
        u64 carry;
    };
    Wiped<Work> w;
    infinity(w.v.acc);
    for (std::size_t i = 0; i < kBaseRows<N>; ++i) {
        w.v.digit = SignedDigit<L>::next(k, i, w.v.carry);
        const Aff<L> *row = &base[kRowPoints * i];
        w.v.pick = row[0];
        for (std::size_t j = 1; j < kRowPoints; ++j) {
            const u64 hit = mask_if_zero((u64)(j + 1) ^ w.v.digit.mag);
            fe_cmov(w.v.pick.X, row[j].X, hit);
            fe_cmov(w.v.pick.Y, row[j].Y, hit);
        }
        fp.neg(w.v.minus_y, w.v.pick.Y);
        fe_cmov(w.v.pick.Y, w.v.minus_y, w.v.digit.neg);
        add_mixed(w.v.sum, w.v.acc, w.v.pick);
        proj_cmov(w.v.acc, w.v.sum, ~mask_if_zero(w.v.digit.mag));
    }
    R = w.v.acc;
}

#define ZKC_BASE_MEMBERS(N)                                                        \
    template void CurveCtx<N>::build_base_table();                                  \
    template void CurveCtx<N>::reduce_scalar(Fe<kLimbs<N>> &, const DIGIT_T *) const; \
    template void CurveCtx<N>::base_mult(Proj<kLimbs<N>> &, const DIGIT_T *) const;   \
    template void CurveCtx<N>::base_mult(Proj<kLimbs<N>> &, const Fe<kLimbs<N>> &) const;
ZKC_BASE_MEMBERS(GOSTR3410_2012_256_DIGITS)
ZKC_BASE_MEMBERS(GOSTR3410_2012_512_DIGITS)

}  // namespace zkc::ec
