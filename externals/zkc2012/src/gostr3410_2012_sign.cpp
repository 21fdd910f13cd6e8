// GOST R 34.10-2012 signing and verification, and VKO key agreement, on the
// constant-time curve arithmetic.
#include "gostr3410_2012.h"
#include "gostr3410_2012_ct.h"
#include "gostr3410_2012_ec.h"
#include "zkc_diag.h"

namespace {

using namespace zkc::ec;

constexpr int kNonceCandidates = 256;

template <std::size_t N> using Ctx = CurveCtx<N>;
template <std::size_t N> using Scalar = Fe<kLimbs<N>>;

// Whether 1 <= k < q, compared in constant time; only the verdict is released.
template <std::size_t N> bool in_range(const Ctx<N> &c, const Scalar<N> &k, const DIGIT_T *digits)
{
    DIGIT_T spare = digits[N - 1];
    u64 ok = ~mask_is_zero(k) & mask_less(k, c.fq.m) & mask_if_zero(spare);
    ZKC_DECLASSIFY(&ok, sizeof ok);
    return ok != 0;
}

// e mod q with 0 taken as 1 (the digest is public).
template <std::size_t N> Scalar<N> digest_scalar(const Ctx<N> &c, const DIGIT_T *e, const DIGIT_T *q)
{
    DIGIT_T reduced[N];
    mpModulo(reduced, e, N, q, N);
    if (mpIsZero(reduced, N))
        reduced[0] = 1;
    Scalar<N> out;
    c.fq.to_mont(out, fe_from_digits<kLimbs<N>>(reduced));
    return out;
}

// x mod q of a point's affine x (a public r, or one about to be published).
template <std::size_t N> Scalar<N> x_mod_q(const Ctx<N> &c, const typename Curve<N>::Point &P)
{
    Scalar<N> x;
    c.fq.to_mont(x, fe_from_digits<kLimbs<N>>(P.x));
    c.fq.from_mont(x, x);
    return x;
}

template <std::size_t N>
int sign(const typename Curve<N>::Params &params, const DIGIT_T *d, const DIGIT_T *e,
         GOSTR3410_2012_RANDOM_FN random, void *random_ctx, DIGIT_T *r, DIGIT_T *s)
{
    constexpr std::size_t L = kLimbs<N>;
    const auto ctx = curve_ctx<N>(params);
    const Ctx<N> &c = *ctx;
    struct Work {
        Scalar<N> d, k, t, u;
        DIGIT_T kd[N];
        uint8_t bytes[8 * L];
        Proj<L> C;
        typename Curve<N>::Point Ca;
    };
    Wiped<Work> w;
    w.v.d = fe_from_digits<L>(d);
    if (!in_range<N>(c, w.v.d, d))
        return -1;
    const Scalar<N> eM = digest_scalar<N>(c, e, params.q);
    c.fq.to_mont(w.v.d, w.v.d);
    const std::size_t nbytes = (c.q_bits + 7) / 8;
    for (int attempt = 0; attempt < kNonceCandidates; ++attempt) {
        if (random(random_ctx, w.v.bytes, nbytes) != 1)
            return -2;
        if (c.q_bits % 8)
            w.v.bytes[nbytes - 1] &= (uint8_t)((1u << (c.q_bits % 8)) - 1);
        w.v.k = Scalar<N>{};
        for (std::size_t i = 0; i < nbytes; ++i)
            w.v.k.v[i / 8] |= (u64)w.v.bytes[i] << (8 * (i % 8));
        fe_to_digits<L>(w.v.kd, N, w.v.k);
        if (!in_range<N>(c, w.v.k, w.v.kd))
            continue;
        // C = k G, r = x_C mod q, s = r d + k e mod q.
        c.base_mult(w.v.C, w.v.k);
        c.unload(w.v.Ca, w.v.C);
        const Scalar<N> rr = x_mod_q<N>(c, w.v.Ca);
        ZKC_DECLASSIFY(&rr, sizeof rr);  // r and s are published
        if (mask_is_zero(rr))
            continue;
        c.fq.to_mont(w.v.t, rr);
        c.fq.mul(w.v.t, w.v.t, w.v.d);
        c.fq.to_mont(w.v.k, w.v.k);
        c.fq.mul(w.v.u, w.v.k, eM);
        c.fq.add(w.v.t, w.v.t, w.v.u);
        c.fq.from_mont(w.v.t, w.v.t);
        ZKC_DECLASSIFY(&w.v.t, sizeof w.v.t);
        if (mask_is_zero(w.v.t))
            continue;
        fe_to_digits<L>(r, N, rr);
        fe_to_digits<L>(s, N, w.v.t);
        return 0;
    }
    return -2;
}

// Whether the point is not infinity and x mod q = r for its affine x: some
// x = r + j q below p equals X / Z (no inversion; all values public).
template <std::size_t N> bool matches_r(const Ctx<N> &c, const Proj<kLimbs<N>> &C, const Scalar<N> &r)
{
    if (mask_is_zero(C.Z))
        return false;
    Scalar<N> x = r, xm, diff;
    do {
        c.fp.to_mont(xm, x);
        c.fp.mul(xm, xm, C.Z);
        fe_sub_raw(diff, xm, C.X);
        if (mask_is_zero(diff))
            return true;
        u64 carry = 0;
        for (std::size_t i = 0; i < kLimbs<N>; ++i) {
            const u128 t = (u128)x.v[i] + c.fq.m.v[i] + carry;
            x.v[i] = (u64)t;
            carry = (u64)(t >> 64);
        }
        if (carry)
            return false;
    } while (mask_less(x, c.fp.m));
    return false;
}

template <std::size_t N>
int verify(const typename Curve<N>::Params &params, const typename Curve<N>::Point &Q, const DIGIT_T *e,
           const DIGIT_T *r, const DIGIT_T *s)
{
    constexpr std::size_t L = kLimbs<N>;
    const auto ctx = curve_ctx<N>(params);
    const Ctx<N> &c = *ctx;
    const Scalar<N> rs = fe_from_digits<L>(r), ss = fe_from_digits<L>(s);
    Proj<L> P, A;
    if (!in_range<N>(c, rs, r) || !in_range<N>(c, ss, s) || !c.load_public(P, Q))
        return -1;
    // v = e^-1, z1 = s v, z2 = -r v (mod q); C = z1 G + z2 Q.
    Scalar<N> v, z1, z2;
    c.fq.from_mont(v, digest_scalar<N>(c, e, params.q));
    c.fq.inv_public(v, v);
    c.fq.to_mont(v, v);
    c.fq.to_mont(z1, ss);
    c.fq.mul(z1, z1, v);
    c.fq.from_mont(z1, z1);
    c.fq.to_mont(z2, rs);
    c.fq.mul(z2, z2, v);
    c.fq.from_mont(z2, z2);
    c.fq.neg(z2, z2);
    c.public_verify_mult(A, z1, P, z2);
    return matches_r<N>(c, A, rs) ? 0 : -1;
}

template <std::size_t N>
int vko(const typename Curve<N>::Params &params, const DIGIT_T *d, const typename Curve<N>::Point &Q,
        const DIGIT_T *ukm, typename Curve<N>::Point &K)
{
    constexpr std::size_t L = kLimbs<N>;
    const auto ctx = curve_ctx<N>(params);
    const Ctx<N> &c = *ctx;
    struct Work {
        Scalar<N> d, t;
        DIGIT_T k[N];
        Proj<L> P, R;
    };
    Wiped<Work> w;
    w.v.d = fe_from_digits<L>(d);
    if (!in_range<N>(c, w.v.d, d))
        return -1;
    DIGIT_T u[N];
    mpModulo(u, ukm, N, params.q, N);
    if (mpIsZero(u, N) || !c.load_public(w.v.P, Q))
        return -1;
    // t = h UKM d mod q.
    Scalar<N> uM, h{};
    h.v[0] = c.cofactor;
    c.fq.to_mont(uM, fe_from_digits<L>(u));
    c.fq.mul(w.v.t, uM, w.v.d);
    c.fq.to_mont(w.v.t, w.v.t);
    c.fq.mul(w.v.t, w.v.t, h);
    fe_to_digits<L>(w.v.k, N, w.v.t);
    c.mult(w.v.R, w.v.P, w.v.k, kReducedWindows<N>);
    c.unload(K, w.v.R);
    return 0;
}

int bad_params(const char *name)
{
    zkc_diag_printf("%s: bad params\n", name);
    return -2;
}

}  // namespace

extern "C" int GOSTR3410_2012_256_Sign(const GOSTR3410_2012_256_PARAMS *params,
                                       const DIGIT_T d[GOSTR3410_2012_256_DIGITS],
                                       const DIGIT_T e[GOSTR3410_2012_256_DIGITS], GOSTR3410_2012_RANDOM_FN random,
                                       void *random_ctx, DIGIT_T r[GOSTR3410_2012_256_DIGITS],
                                       DIGIT_T s[GOSTR3410_2012_256_DIGITS])
{
    if (!params || !d || !e || !random || !r || !s)
        return bad_params("GOSTR3410_2012_256_Sign");
    return sign<GOSTR3410_2012_256_DIGITS>(*params, d, e, random, random_ctx, r, s);
}

extern "C" int GOSTR3410_2012_512_Sign(const GOSTR3410_2012_512_PARAMS *params,
                                       const DIGIT_T d[GOSTR3410_2012_512_DIGITS],
                                       const DIGIT_T e[GOSTR3410_2012_512_DIGITS], GOSTR3410_2012_RANDOM_FN random,
                                       void *random_ctx, DIGIT_T r[GOSTR3410_2012_512_DIGITS],
                                       DIGIT_T s[GOSTR3410_2012_512_DIGITS])
{
    if (!params || !d || !e || !random || !r || !s)
        return bad_params("GOSTR3410_2012_512_Sign");
    return sign<GOSTR3410_2012_512_DIGITS>(*params, d, e, random, random_ctx, r, s);
}

extern "C" int GOSTR3410_2012_256_Verify(const GOSTR3410_2012_256_PARAMS *params, const GOSTR3410_2012_256_POINT *Q,
                                         const DIGIT_T e[GOSTR3410_2012_256_DIGITS],
                                         const DIGIT_T r[GOSTR3410_2012_256_DIGITS],
                                         const DIGIT_T s[GOSTR3410_2012_256_DIGITS])
{
    if (!params || !Q || !e || !r || !s)
        return bad_params("GOSTR3410_2012_256_Verify");
    return verify<GOSTR3410_2012_256_DIGITS>(*params, *Q, e, r, s);
}

extern "C" int GOSTR3410_2012_512_Verify(const GOSTR3410_2012_512_PARAMS *params, const GOSTR3410_2012_512_POINT *Q,
                                         const DIGIT_T e[GOSTR3410_2012_512_DIGITS],
                                         const DIGIT_T r[GOSTR3410_2012_512_DIGITS],
                                         const DIGIT_T s[GOSTR3410_2012_512_DIGITS])
{
    if (!params || !Q || !e || !r || !s)
        return bad_params("GOSTR3410_2012_512_Verify");
    return verify<GOSTR3410_2012_512_DIGITS>(*params, *Q, e, r, s);
}

extern "C" int GOSTR3410_2012_256_Vko(const GOSTR3410_2012_256_PARAMS *params,
                                      const DIGIT_T d[GOSTR3410_2012_256_DIGITS], const GOSTR3410_2012_256_POINT *Q,
                                      const DIGIT_T ukm[GOSTR3410_2012_256_DIGITS], GOSTR3410_2012_256_POINT *K)
{
    if (!params || !d || !Q || !ukm || !K)
        return bad_params("GOSTR3410_2012_256_Vko");
    return vko<GOSTR3410_2012_256_DIGITS>(*params, d, *Q, ukm, *K);
}

extern "C" int GOSTR3410_2012_512_Vko(const GOSTR3410_2012_512_PARAMS *params,
                                      const DIGIT_T d[GOSTR3410_2012_512_DIGITS], const GOSTR3410_2012_512_POINT *Q,
                                      const DIGIT_T ukm[GOSTR3410_2012_512_DIGITS], GOSTR3410_2012_512_POINT *K)
{
    if (!params || !d || !Q || !ukm || !K)
        return bad_params("GOSTR3410_2012_512_Vko");
    return vko<GOSTR3410_2012_512_DIGITS>(*params, d, *Q, ukm, *K);
}
