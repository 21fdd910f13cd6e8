// Scalar multiplication on public values only (verification, checks of peer
// points), in variable time: k G by the rows of the fixed-base table, adding
// only the nonzero digits; k P by a width-5 non-adjacent form. Points are in
// Jacobian coordinates (x = X/Z^2, y = Y/Z^3, Z = 0 at infinity), whose
// doublings are cheaper, with the exceptional cases of the addition tested.
#include "gostr3410_2012_ct.h"
#include "zkc_diag.h"

#include <algorithm>

namespace zkc::ec {

namespace {

constexpr int kNafWidth = 5;
constexpr std::size_t kOddPoints = 1u << (kNafWidth - 2);  // P, 3P, .., 15P

// Digits of k in width-w NAF, lowest first: odd values below 2^(w-1) in
// absolute value or zero, nonzero ones at least w places apart. Returns the
// digit count (at most 64 L + 1).
template <std::size_t L> std::size_t naf(signed char *digits, const Fe<L> &k, int width = kNafWidth)
{
    u64 x[L + 1];
    for (std::size_t i = 0; i < L; ++i)
        x[i] = k.v[i];
    x[L] = 0;
    auto nonzero = [&] {
        u64 acc = 0;
        for (std::size_t i = 0; i <= L; ++i)
            acc |= x[i];
        return acc != 0;
    };
    std::size_t n = 0;
    while (nonzero()) {
        int d = 0;
        if (x[0] & 1u) {
            d = (int)(x[0] & ((1u << width) - 1));
            if (d >= 1 << (width - 1))
                d -= 1 << width;
            // x -= d: clears the low bits (a subtraction, or an addition
            // carried upward for a negative digit).
            if (d > 0) {
                x[0] -= (u64)d;
            } else {
                u64 carry = (u64)-d;
                for (std::size_t i = 0; i <= L && carry; ++i) {
                    x[i] += carry;
                    carry = x[i] < carry;
                }
            }
        }
        digits[n++] = (signed char)d;
        for (std::size_t i = 0; i < L; ++i)
            x[i] = (x[i] >> 1) | (x[i + 1] << 63);
        x[L] >>= 1;
    }
    return n;
}

template <std::size_t L> struct Jac {
    Fe<L> X, Y, Z;
};

template <std::size_t N> struct JacobianArith {
    static constexpr std::size_t L = kLimbs<N>;
    using F = Fe<L>;
    const CurveCtx<N> &c;
    const Modulus<L> &f = c.fp;

    static bool infinite(const Jac<L> &P) { return mask_is_zero(P.Z) != 0; }

    Jac<L> from(const Proj<L> &P) const
    {
        Jac<L> R;
        f.mul(R.X, P.X, P.Z);
        f.sqr(R.Y, P.Z);
        f.mul(R.Y, R.Y, P.Y);
        R.Z = P.Z;
        return R;
    }

    // (X Z, Y, Z^3) in homogeneous coordinates.
    Proj<L> to_proj(const Jac<L> &P) const
    {
        Proj<L> R;
        f.mul(R.X, P.X, P.Z);
        R.Y = P.Y;
        f.sqr(R.Z, P.Z);
        f.mul(R.Z, R.Z, P.Z);
        if (infinite(P))
            c.infinity(R);
        return R;
    }

    // dbl-2001-b (a = -3) and dbl-2007-bl (any a).
    void dbl(Jac<L> &R, const Jac<L> &P) const
    {
        F t, u, alpha, beta, gamma, delta, Z3;
        f.add(t, P.Y, P.Z);
        f.sqr(t, t);
        f.sqr(gamma, P.Y);
        f.sqr(delta, P.Z);
        f.sub(t, t, gamma);
        f.sub(Z3, t, delta);  // 2 Y Z
        if (c.a_is_minus_3) {
            f.mul(beta, P.X, gamma);
            f.sub(t, P.X, delta);
            f.add(u, P.X, delta);
            f.mul(t, t, u);
            f.add(alpha, t, t);
            f.add(alpha, alpha, t);       // M = 3 (X - Z^2)(X + Z^2)
            f.add(beta, beta, beta);
            f.add(beta, beta, beta);      // S = 4 X Y^2
            f.sqr(gamma, gamma);
            f.add(gamma, gamma, gamma);
            f.add(gamma, gamma, gamma);
            f.add(gamma, gamma, gamma);   // 8 Y^4
        } else {
            f.add(t, P.X, gamma);
            f.sqr(t, t);
            f.sqr(u, P.X);
            f.sub(t, t, u);
            f.sqr(gamma, gamma);  // Y^4
            f.sub(t, t, gamma);
            f.add(beta, t, t);    // S = 4 X Y^2
            f.add(alpha, u, u);
            f.add(alpha, alpha, u);
            f.sqr(delta, delta);
            f.mul(delta, delta, c.a);
            f.add(alpha, alpha, delta);  // M = 3 X^2 + a Z^4
            f.add(gamma, gamma, gamma);
            f.add(gamma, gamma, gamma);
            f.add(gamma, gamma, gamma);
        }
        // X3 = M^2 - 2 S, Y3 = M (S - X3) - 8 Y^4.
        f.sqr(t, alpha);
        f.sub(t, t, beta);
        f.sub(R.X, t, beta);
        f.sub(u, beta, R.X);
        f.mul(u, alpha, u);
        f.sub(R.Y, u, gamma);
        R.Z = Z3;
    }

    // The end of both additions (add-2007-bl, madd-2007-bl) from U1, S1, the
    // differences H = U2 - U1, r = 2 (S2 - S1) and Z3 / H.
    void add_finish(Jac<L> &R, const Jac<L> &P, const F &U1, const F &S1, const F &H, const F &r,
                    const F &zh) const
    {
        if (mask_is_zero(H)) {
            if (mask_is_zero(r))
                dbl(R, P);
            else
                R = Jac<L>{};
            return;
        }
        F I, J, V, t;
        f.add(I, H, H);
        f.sqr(I, I);
        f.mul(J, H, I);
        f.mul(V, U1, I);
        f.sqr(t, r);
        f.sub(t, t, J);
        f.sub(t, t, V);
        f.sub(R.X, t, V);
        f.sub(t, V, R.X);
        f.mul(t, r, t);
        f.mul(J, S1, J);
        f.add(J, J, J);
        f.sub(R.Y, t, J);
        f.mul(R.Z, zh, H);
    }

    void add(Jac<L> &R, const Jac<L> &P, const Jac<L> &Q) const
    {
        if (infinite(P) || infinite(Q)) {
            R = infinite(P) ? Q : P;
            return;
        }
        F z1z1, z2z2, U1, U2, S1, S2, H, r, zh;
        f.sqr(z1z1, P.Z);
        f.sqr(z2z2, Q.Z);
        f.mul(U1, P.X, z2z2);
        f.mul(U2, Q.X, z1z1);
        f.mul(S1, P.Y, Q.Z);
        f.mul(S1, S1, z2z2);
        f.mul(S2, Q.Y, P.Z);
        f.mul(S2, S2, z1z1);
        f.sub(H, U2, U1);
        f.sub(r, S2, S1);
        f.add(r, r, r);
        f.add(zh, P.Z, Q.Z);
        f.sqr(zh, zh);
        f.sub(zh, zh, z1z1);
        f.sub(zh, zh, z2z2);
        const Jac<L> Pc = P;
        add_finish(R, Pc, U1, S1, H, r, zh);
    }

    void add(Jac<L> &R, const Jac<L> &P, const Aff<L> &Q) const
    {
        if (infinite(P)) {
            R = Jac<L>{Q.X, Q.Y, f.one};
            return;
        }
        F z1z1, U2, S2, H, r, zh;
        f.sqr(z1z1, P.Z);
        f.mul(U2, Q.X, z1z1);
        f.mul(S2, Q.Y, P.Z);
        f.mul(S2, S2, z1z1);
        f.sub(H, U2, P.X);
        f.sub(r, S2, P.Y);
        f.add(r, r, r);
        f.add(zh, P.Z, P.Z);  // (Z1 + H)^2 - Z1^2 - H^2 = 2 Z1 H
        const Jac<L> Pc = P;
        add_finish(R, Pc, Pc.X, Pc.Y, H, r, zh);
    }
};

}  // namespace

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
    if (cofactor == 1)
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
