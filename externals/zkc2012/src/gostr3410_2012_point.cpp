// Affine point addition and the double-and-add multipliers epMult / depMult.
#include "gostr3410_2012.h"
#include "gostr3410_2012_ct.h"
#include "gostr3410_2012_ec.h"
#include "zkc_diag.h"

using zkc::ec::affine_add;

namespace {

// out := |k| P. Points on the curve go through the constant-time
// multiplication; (0, 0) and points off the curve (public inputs, and no
// group law to keep) take the affine double-and-add.
template <std::size_t N>
void mult(typename zkc::ec::Curve<N>::Point &out, const typename zkc::ec::Curve<N>::Point &P, const DIGIT_T *k,
          const typename zkc::ec::Curve<N>::Params &params)
{
    using namespace zkc::ec;
    const auto ctx = curve_ctx<N>(params);
    struct Work {
        DIGIT_T k[N];
        Proj<kLimbs<N>> P, R;
    };
    Wiped<Work> w;
    ctx->load(w.v.P, P);
    if (is_infinity<N>(P) || !ctx->on_curve(w.v.P)) {
        affine_mult<N>(out, P, k, params.a, params.p);
        return;
    }
    ct_abs<N>(w.v.k, k);
    ctx->mult(w.v.R, w.v.P, w.v.k);
    ctx->unload(out, w.v.R);
}

// The field arithmetic expects coordinates below p.
template <std::size_t N, class Point> Point reduced(const Point &P, const DIGIT_T *p)
{
    Point r;
    mpModulo(r.x, P.x, N, p, N);
    mpModulo(r.y, P.y, N, p, N);
    return r;
}

}  // namespace

extern "C" int epMult(GOSTR3410_2012_256_POINT *out, const GOSTR3410_2012_256_POINT *P,
                      const DIGIT_T k[GOSTR3410_2012_256_DIGITS], const GOSTR3410_2012_256_PARAMS *params)
{
    if (!out || !P || !k || !params) {
        zkc_diag_printf("epMult: bad arguments\n");
        return -1;
    }
    mult<GOSTR3410_2012_256_DIGITS>(*out, *P, k, *params);
    return 0;
}

extern "C" int depMult(GOSTR3410_2012_512_POINT *out, const GOSTR3410_2012_512_POINT *P,
                       const DIGIT_T k[GOSTR3410_2012_512_DIGITS], const GOSTR3410_2012_512_PARAMS *params)
{
    if (!out || !P || !k || !params) {
        zkc_diag_printf("depMult: bad arguments\n");
        return -1;
    }
    mult<GOSTR3410_2012_512_DIGITS>(*out, *P, k, *params);
    return 0;
}

extern "C" int GOSTR3410_2012_256_AddPoints(GOSTR3410_2012_256_POINT *out, const GOSTR3410_2012_256_POINT *P1,
                                            const GOSTR3410_2012_256_POINT *P2,
                                            const GOSTR3410_2012_256_PARAMS *params)
{
    if (!out || !P1 || !P2 || !params)
        return -2;
    constexpr std::size_t N = GOSTR3410_2012_256_DIGITS;
    affine_add<N>(*out, reduced<N>(*P1, params->p), reduced<N>(*P2, params->p), params->a, params->p);
    return 0;
}

extern "C" int GOSTR3410_2012_512_AddPoints(GOSTR3410_2012_512_POINT *out, const GOSTR3410_2012_512_POINT *P1,
                                            const GOSTR3410_2012_512_POINT *P2,
                                            const GOSTR3410_2012_512_PARAMS *params)
{
    if (!out || !P1 || !P2 || !params)
        return -2;
    constexpr std::size_t N = GOSTR3410_2012_512_DIGITS;
    affine_add<N>(*out, reduced<N>(*P1, params->p), reduced<N>(*P2, params->p), params->a, params->p);
    return 0;
}
