// Constant-time point arithmetic and scalar multiplication (see
// gostr3410_2012_ct.h), and the prepared forms of the curve records.
#include "gostr3410_2012_ct.h"

#include <mutex>

namespace zkc::ec {

namespace {

// R := table[index] by a scan of all 16 entries.
template <std::size_t L> void select16(Proj<L> &R, const Proj<L> *table, DIGIT_T index)
{
    R = table[0];
    for (DIGIT_T i = 1; i < 16; ++i)
        proj_cmov(R, table[i], mask_if_zero((u64)(i ^ index)));
}

// r := (a1 + a2)(b1 + b2) - (p1 + p2), which is a1 b2 + a2 b1 when p1 = a1 b1
// and p2 = a2 b2.
template <std::size_t L>
void cross_sum(const Modulus<L> &f, Fe<L> &r, const Fe<L> &a1, const Fe<L> &a2, const Fe<L> &b1, const Fe<L> &b2,
               const Fe<L> &p1, const Fe<L> &p2)
{
    Fe<L> u, v;
    f.add(u, a1, a2);
    f.add(v, b1, b2);
    f.mul(u, u, v);
    f.add(v, p1, p2);
    f.sub(r, u, v);
}

template <std::size_t N> DIGIT_T window(const DIGIT_T *k, std::size_t w)
{
    return (k[w / 8] >> (4 * (w % 8))) & 0xFu;
}

// round((p + 1) / q): 1 for the prime-order curves, 4 for the twisted Edwards
// ones. Public values: any path.
template <std::size_t N> unsigned cofactor_of(const DIGIT_T *p, const DIGIT_T *q)
{
    DIGIT_T u[N], half[N], quot[N], rem[N];
    mpShortAdd(u, p, 1, N);
    mpShiftRight(half, q, 1, N);
    mpAdd(u, u, half, N);
    mpDivide(quot, rem, u, N, q, N);
    return quot[0];
}

}  // namespace

template <std::size_t N> CurveCtx<N>::CurveCtx(const typename Curve<N>::Params &params)
    : fp(params.p), fq(params.q, false)
{
    mpSetEqual(p, params.p, N);
    fp.to_mont(a, fe_from_digits<L>(params.a));
    fp.to_mont(b, fe_from_digits<L>(params.b));
    fp.add(b3, b, b);
    fp.add(b3, b3, b);
    Fe<L> t;
    fp.add(t, a, b3);  // a + 3b - 3b + 3: zero when a = -3
    fp.sub(t, t, b3);
    fp.add(t, t, fp.one);
    fp.add(t, t, fp.one);
    fp.add(t, t, fp.one);
    a_is_minus_3 = mask_is_zero(t) != 0;
    typename Curve<N>::Point g;
    mpSetEqual(g.x, params.x, N);
    mpSetEqual(g.y, params.y, N);
    load(G, g);
    cofactor = cofactor_of<N>(params.p, params.q);
    q_bits = mpBitLength(params.q, N);
}

template <std::size_t N> void CurveCtx<N>::infinity(Proj<L> &R) const
{
    R.X = Fe<L>{};
    R.Y = fp.one;
    R.Z = Fe<L>{};
}

template <std::size_t N> void CurveCtx<N>::mul_a(Fe<L> &r, const Fe<L> &x) const
{
    if (!a_is_minus_3) {  // a property of the public curve
        fp.mul(r, a, x);
        return;
    }
    Fe<L> t;
    fp.add(t, x, x);
    fp.add(t, t, x);
    fp.neg(r, t);
}

// Algorithm 1 of Renes, Costello and Batina; for an affine Q (Z2 = 1) the
// cross sums need one product each and Z1 Z2 none.
template <std::size_t N> void CurveCtx<N>::add(Proj<L> &R, const Proj<L> &P, const Proj<L> &Q) const
{
    Fe<L> t0, t1, t2, t3, t4, t5;
    fp.mul(t0, P.X, Q.X);
    fp.mul(t1, P.Y, Q.Y);
    fp.mul(t2, P.Z, Q.Z);
    cross_sum(fp, t3, P.X, P.Y, Q.X, Q.Y, t0, t1);
    cross_sum(fp, t4, P.X, P.Z, Q.X, Q.Z, t0, t2);
    cross_sum(fp, t5, P.Y, P.Z, Q.Y, Q.Z, t1, t2);
    add_finish(R, t0, t1, t2, t3, t4, t5);
}

template <std::size_t N> void CurveCtx<N>::add_mixed(Proj<L> &R, const Proj<L> &P, const Aff<L> &Q) const
{
    Fe<L> t0, t1, t3, t4, t5;
    fp.mul(t0, P.X, Q.X);
    fp.mul(t1, P.Y, Q.Y);
    cross_sum(fp, t3, P.X, P.Y, Q.X, Q.Y, t0, t1);
    fp.mul(t4, Q.X, P.Z);
    fp.add(t4, t4, P.X);
    fp.mul(t5, Q.Y, P.Z);
    fp.add(t5, t5, P.Y);
    add_finish(R, t0, t1, P.Z, t3, t4, t5);
}

template <std::size_t N>
void CurveCtx<N>::add_finish(Proj<L> &R, Fe<L> t0, Fe<L> t1, Fe<L> t2, const Fe<L> &t3, Fe<L> t4,
                             const Fe<L> &t5) const
{
    Fe<L> X3, Y3, Z3;
    if (a_is_minus_3) {  // a property of the public curve: algorithms 4 and 5
        fp.mul(Z3, b, t2);
        fp.sub(X3, t4, Z3);
        fp.add(Z3, X3, X3);
        fp.add(X3, X3, Z3);
        fp.sub(Z3, t1, X3);
        fp.add(X3, t1, X3);
        fp.mul(Y3, b, t4);
        fp.add(t1, t2, t2);
        fp.add(t2, t1, t2);
        fp.sub(Y3, Y3, t2);
        fp.sub(Y3, Y3, t0);
        fp.add(t1, Y3, Y3);
        fp.add(Y3, t1, Y3);
        fp.add(t1, t0, t0);
        fp.add(t0, t1, t0);
        fp.sub(t0, t0, t2);
        fp.mul(t1, t5, Y3);
        fp.mul(t2, t0, Y3);
        fp.mul(Y3, X3, Z3);
        fp.add(Y3, Y3, t2);
        fp.mul(X3, t3, X3);
        fp.sub(X3, X3, t1);
        fp.mul(Z3, t5, Z3);
        fp.mul(t1, t3, t0);
        fp.add(Z3, Z3, t1);
        R.X = X3;
        R.Y = Y3;
        R.Z = Z3;
        return;
    }
    mul_a(Z3, t4);
    fp.mul(X3, b3, t2);
    fp.add(Z3, X3, Z3);
    fp.sub(X3, t1, Z3);
    fp.add(Z3, t1, Z3);
    fp.mul(Y3, X3, Z3);
    fp.add(t1, t0, t0);
    fp.add(t1, t1, t0);
    mul_a(t2, t2);
    fp.mul(t4, b3, t4);
    fp.add(t1, t1, t2);
    fp.sub(t2, t0, t2);
    mul_a(t2, t2);
    fp.add(t4, t4, t2);
    fp.mul(t0, t1, t4);
    fp.add(Y3, Y3, t0);
    fp.mul(t0, t5, t4);
    fp.mul(X3, t3, X3);
    fp.sub(X3, X3, t0);
    fp.mul(t0, t3, t1);
    fp.mul(Z3, t5, Z3);
    fp.add(Z3, Z3, t0);
    R.X = X3;
    R.Y = Y3;
    R.Z = Z3;
}

// R := 2P. For a = -3, algorithm 6 of the same paper (13 products instead
// of 17); otherwise the complete addition of P to itself.
template <std::size_t N> void CurveCtx<N>::dbl(Proj<L> &R, const Proj<L> &P) const
{
    if (!a_is_minus_3) {  // a property of the public curve
        add(R, P, P);
        return;
    }
    Fe<L> t0, t1, t2, t3, X3, Y3, Z3;
    fp.sqr(t0, P.X);
    fp.sqr(t1, P.Y);
    fp.sqr(t2, P.Z);
    fp.mul(t3, P.X, P.Y);
    fp.add(t3, t3, t3);
    fp.mul(Z3, P.X, P.Z);
    fp.add(Z3, Z3, Z3);
    fp.mul(Y3, b, t2);
    fp.sub(Y3, Y3, Z3);
    fp.add(X3, Y3, Y3);
    fp.add(Y3, X3, Y3);
    fp.sub(X3, t1, Y3);
    fp.add(Y3, t1, Y3);
    fp.mul(Y3, X3, Y3);
    fp.mul(X3, X3, t3);
    fp.add(t3, t2, t2);
    fp.add(t2, t2, t3);
    fp.mul(Z3, b, Z3);
    fp.sub(Z3, Z3, t2);
    fp.sub(Z3, Z3, t0);
    fp.add(t3, Z3, Z3);
    fp.add(Z3, Z3, t3);
    fp.add(t3, t0, t0);
    fp.add(t0, t3, t0);
    fp.sub(t0, t0, t2);
    fp.mul(t0, t0, Z3);
    fp.add(Y3, Y3, t0);
    fp.mul(t0, P.Y, P.Z);
    fp.add(t0, t0, t0);
    fp.mul(Z3, t0, Z3);
    fp.sub(X3, X3, Z3);
    fp.mul(Z3, t0, t1);
    fp.add(Z3, Z3, Z3);
    fp.add(Z3, Z3, Z3);
    R.X = X3;
    R.Y = Y3;
    R.Z = Z3;
}

template <std::size_t N> void CurveCtx<N>::load(Proj<L> &R, const typename Curve<N>::Point &P) const
{
    DIGIT_T x[N], y[N];
    mpModulo(x, P.x, N, p, N);
    mpModulo(y, P.y, N, p, N);
    fp.to_mont(R.X, fe_from_digits<L>(x));
    fp.to_mont(R.Y, fe_from_digits<L>(y));
    R.Z = fp.one;
}

template <std::size_t N> void CurveCtx<N>::unload(typename Curve<N>::Point &R, const Proj<L> &P) const
{
    Fe<L> zinv, x, y;
    fp.inv(zinv, P.Z);
    fp.mul(x, P.X, zinv);
    fp.mul(y, P.Y, zinv);
    fp.from_mont(x, x);
    fp.from_mont(y, y);
    fe_to_digits<L>(R.x, N, x);
    fe_to_digits<L>(R.y, N, y);
}

template <std::size_t N> bool CurveCtx<N>::on_curve(const Proj<L> &P) const
{
    // Y^2 Z = X^3 + a X Z^2 + b Z^3, with Z = 1 for loaded points.
    Fe<L> left, right, t;
    fp.sqr(left, P.Y);
    fp.mul(left, left, P.Z);
    fp.sqr(t, P.Z);
    fp.mul(right, a, t);
    fp.sqr(t, P.X);
    fp.add(right, right, t);
    fp.mul(right, right, P.X);
    fp.sqr(t, P.Z);
    fp.mul(t, t, P.Z);
    fp.mul(t, t, b);
    fp.add(right, right, t);
    fp.sub(t, left, right);
    return mask_is_zero(t) != 0;
}

template <std::size_t N>
void CurveCtx<N>::mult(Proj<L> &R, const Proj<L> &P, const DIGIT_T *k, std::size_t windows) const
{
    struct Work {
        Proj<L> table[16], acc, pick;
    };
    Wiped<Work> w;
    infinity(w.v.table[0]);
    w.v.table[1] = P;
    for (std::size_t i = 2; i < 16; ++i)
        add(w.v.table[i], w.v.table[i - 1], P);
    infinity(w.v.acc);
    for (std::size_t i = windows; i-- > 0;) {
        for (int d = 0; d < 4; ++d)
            dbl(w.v.acc, w.v.acc);
        select16(w.v.pick, w.v.table, window<N>(k, i));
        add(w.v.acc, w.v.acc, w.v.pick);
    }
    R = w.v.acc;
}

template <std::size_t N> std::shared_ptr<const CurveCtx<N>> curve_ctx(const typename Curve<N>::Params &params)
{
    using Params = typename Curve<N>::Params;
    constexpr std::size_t kMax = 16;
    static std::once_flag once[kMax];
    static std::shared_ptr<const CurveCtx<N>> built[kMax];
    const Params *(*get)(std::size_t) = nullptr;
    if constexpr (N == GOSTR3410_2012_256_DIGITS)
        get = GOSTR3410_2012_256_GetCurve;
    else
        get = GOSTR3410_2012_512_GetCurve;
    for (std::size_t i = 0; i < kMax && get(i) != nullptr; ++i) {
        if (get(i) != &params)
            continue;
        std::call_once(once[i], [&] {
            auto ctx = std::make_shared<CurveCtx<N>>(params);
            ctx->build_base_table();
            built[i] = std::move(ctx);
        });
        return built[i];
    }
    return std::make_shared<CurveCtx<N>>(params);
}

template struct CurveCtx<GOSTR3410_2012_256_DIGITS>;
template struct CurveCtx<GOSTR3410_2012_512_DIGITS>;
template std::shared_ptr<const CurveCtx<GOSTR3410_2012_256_DIGITS>>
curve_ctx<GOSTR3410_2012_256_DIGITS>(const GOSTR3410_2012_256_PARAMS &);
template std::shared_ptr<const CurveCtx<GOSTR3410_2012_512_DIGITS>>
curve_ctx<GOSTR3410_2012_512_DIGITS>(const GOSTR3410_2012_512_PARAMS &);

}  // namespace zkc::ec
