// Scalar multiplication on public values only (verification, checks of peer
// points), in variable time: k G by the rows of the fixed-base table, adding
// only the nonzero digits; k P by a width-5 non-adjacent form, in Jacobian
// coordinates.
#include "gostr3410_2012_jacobian.h"
#include "zkc_diag.h"

#include <algorithm>

namespace zkc::ec {

template <std::size_t N> void CurveCtx<N>::public_base_mult(Proj<L> &R, const Fe<L> &k) const
{
    if (base.empty()) {
        public_mult(R, G, k);
        return;
    }
    const JacobianArith<N> J{*this};
    Jac<L> acc{};
    u64 carry = 0;
    for (std::size_t i = 0; i < kBaseRows<N>; ++i) {
        const SignedDigit<L> digit = SignedDigit<L>::next(k, i, carry);
        if (digit.mag == 0)
            continue;
        Aff<L> pick = base[kRowPoints * i + digit.mag - 1];
        if (digit.neg)
            fp.neg(pick.Y, pick.Y);
        J.add(acc, acc, pick);
    }
    R = J.to_proj(acc);
}

template <std::size_t N> void CurveCtx<N>::public_mult(Proj<L> &R, const Proj<L> &P, const Fe<L> &k) const
{
    public_mult2(R, nullptr, P, k);
}

template <std::size_t N>
void CurveCtx<N>::public_mult2(Proj<L> &R, const Fe<L> *kg, const Proj<L> &P, const Fe<L> &k) const
{
    if (kg && g_odd.empty()) {
        Proj<L> A;
        public_base_mult(A, *kg);
        public_mult2(R, nullptr, P, k);
        add(R, R, A);
        return;
    }
    const JacobianArith<N> J{*this};
    Jac<L> odd[kOddPoints], twice, acc{};
    odd[0] = J.from(P);
    J.dbl(twice, odd[0]);
    for (std::size_t i = 1; i < kOddPoints; ++i)
        J.add(odd[i], odd[i - 1], twice);
    signed char digits[64 * L + 1], gdigits[64 * L + 1];
    const std::size_t n = naf<L>(digits, k);
    const std::size_t gn = kg ? naf<L>(gdigits, *kg, kGNafWidth) : 0;
    for (std::size_t i = std::max(n, gn); i-- > 0;) {
        J.dbl(acc, acc);
        const int d = i < n ? digits[i] : 0, gd = i < gn ? gdigits[i] : 0;
        if (d != 0) {
            Jac<L> pick = odd[(d < 0 ? -d : d) / 2];
            if (d < 0)
                fp.neg(pick.Y, pick.Y);
            J.add(acc, acc, pick);
        }
        if (gd != 0) {
            Aff<L> pick = g_odd[(gd < 0 ? -gd : gd) / 2];
            if (gd < 0)
                fp.neg(pick.Y, pick.Y);
            J.add(acc, acc, pick);
        }
    }
    R = J.to_proj(acc);
}

template <std::size_t N> bool CurveCtx<N>::load_public(Proj<L> &P, const typename Curve<N>::Point &Q) const
{
    if (is_infinity<N>(Q))
        return false;
    load(P, Q);
    if (!on_curve(P))
        return false;
    if (cofactor == 1 || known_point(P))
        return true;
    Proj<L> T;
    public_mult(T, P, fq.m);
    return mask_is_zero(T.Z) != 0;
}

namespace {

template <std::size_t N>
int check_order(const char *name, const typename Curve<N>::Params *params, const typename Curve<N>::Point *Q)
{
    if (!params || !Q) {
        zkc_diag_printf("%s: bad params\n", name);
        return -2;
    }
    Proj<kLimbs<N>> P;
    return curve_ctx<N>(*params)->load_public(P, *Q) ? 0 : -1;
}

}  // namespace

#define ZKC_PUBLIC_MEMBERS(N)                                                                         \
    template void CurveCtx<N>::public_base_mult(Proj<kLimbs<N>> &, const Fe<kLimbs<N>> &) const;          \
    template void CurveCtx<N>::public_mult(Proj<kLimbs<N>> &, const Proj<kLimbs<N>> &, const Fe<kLimbs<N>> &) const; \
    template void CurveCtx<N>::public_mult2(Proj<kLimbs<N>> &, const Fe<kLimbs<N>> *, const Proj<kLimbs<N>> &,        \
                                            const Fe<kLimbs<N>> &) const;                                             \
    template bool CurveCtx<N>::load_public(Proj<kLimbs<N>> &, const typename Curve<N>::Point &) const;
ZKC_PUBLIC_MEMBERS(GOSTR3410_2012_256_DIGITS)
ZKC_PUBLIC_MEMBERS(GOSTR3410_2012_512_DIGITS)

}  // namespace zkc::ec

extern "C" int GOSTR3410_2012_256_CheckPublicKeyOrder(const GOSTR3410_2012_256_PARAMS *params,
                                                      const GOSTR3410_2012_256_POINT *Q)
{
    return zkc::ec::check_order<GOSTR3410_2012_256_DIGITS>("GOSTR3410_2012_256_CheckPublicKeyOrder", params, Q);
}

extern "C" int GOSTR3410_2012_512_CheckPublicKeyOrder(const GOSTR3410_2012_512_PARAMS *params,
                                                      const GOSTR3410_2012_512_POINT *Q)
{
    return zkc::ec::check_order<GOSTR3410_2012_512_DIGITS>("GOSTR3410_2012_512_CheckPublicKeyOrder", params, Q);
}
