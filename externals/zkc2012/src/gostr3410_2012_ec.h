// Curve arithmetic shared by the 256- and 512-bit halves of the GOST R 34.10
// core, written once over the digit count N (9 or 17). Internal to the core.
#ifndef GOSTR3410_2012_EC_H
#define GOSTR3410_2012_EC_H

#include <cstddef>

#include "gostr3410_2012.h"
#include "zkc_bignum.h"
#include "zkc_bignum_internal.h"
#include "zkc_bignum_mem.h"

namespace zkc::ec {

template <std::size_t N> struct Curve;
template <> struct Curve<GOSTR3410_2012_256_DIGITS> {
    using Point = GOSTR3410_2012_256_POINT;
    using Params = GOSTR3410_2012_256_PARAMS;
    static constexpr std::size_t kTablePoints = GOSTR3410_2012_256_PRECOMP_POINTS;
};
template <> struct Curve<GOSTR3410_2012_512_DIGITS> {
    using Point = GOSTR3410_2012_512_POINT;
    using Params = GOSTR3410_2012_512_PARAMS;
    static constexpr std::size_t kTablePoints = GOSTR3410_2012_512_PRECOMP_POINTS;
};

// A value wiped when it goes out of scope (intermediates of secret scalars).
template <class T> struct Wiped {
    T v{};
    ~Wiped() { mp_wipe(&v, sizeof v); }
};

// --- field GF(p); operands are below p ------------------------------------

template <std::size_t N> void f_add(DIGIT_T *r, const DIGIT_T *x, const DIGIT_T *y, const DIGIT_T *p)
{
    const DIGIT_T carry = mpAdd(r, x, y, N);
    if (carry || mpCompare(r, p, N) >= 0)
        mpSubtract(r, r, p, N);
}

template <std::size_t N> void f_sub(DIGIT_T *r, const DIGIT_T *x, const DIGIT_T *y, const DIGIT_T *p)
{
    if (mpSubtract(r, x, y, N))
        mpAdd(r, r, p, N);
}

// r := x y mod p. The curve core multiplies thousands of times per key, so
// the product and the division's working space live on the stack (wiped)
// rather than on the heap as in mpModMult. Field elements are below p, which
// leaves the spare top digit zero: the product is formed over N - 1 digits.
template <std::size_t N> void f_mul(DIGIT_T *r, const DIGIT_T *x, const DIGIT_T *y, const DIGIT_T *p)
{
    constexpr std::size_t M = N - 1;
    struct Work {
        DIGIT_T product[2 * M], quotient[2 * M], un[2 * M + 1], vn[M], rem[M];
    };
    Wiped<Work> w;
    mpMultiply(w.v.product, x, y, M);
    mp_divide_in(w.v.quotient, w.v.rem, w.v.product, 2 * M, p, M, w.v.un, w.v.vn);
    mpSetEqual(r, w.v.rem, M);
    r[M] = 0;
}

template <std::size_t N> bool is_zero(const DIGIT_T *x)
{
    return mpIsZero(x, N) == 1;
}

template <std::size_t N> bool is_infinity(const typename Curve<N>::Point &P)
{
    return is_zero<N>(P.x) && is_zero<N>(P.y);
}

// --- affine points --------------------------------------------------------

// R := P1 + P2, one inversion. R may be P1 or P2.
template <std::size_t N>
void affine_add(typename Curve<N>::Point &R, const typename Curve<N>::Point &P1,
                const typename Curve<N>::Point &P2, const DIGIT_T *a, const DIGIT_T *p)
{
    if (is_infinity<N>(P1)) {
        R = P2;
        return;
    }
    if (is_infinity<N>(P2)) {
        R = P1;
        return;
    }
    Wiped<DIGIT_T[N]> lambda, t, u, x3, y3;
    if (mpEqual(P1.x, P2.x, N) == 1) {
        f_add<N>(t.v, P1.y, P2.y, p);
        if (is_zero<N>(t.v)) {
            mpSetZero(R.x, N);
            mpSetZero(R.y, N);
            return;
        }
        // Doubling: lambda = (3 x1^2 + a) / (2 y1).
        f_mul<N>(t.v, P1.x, P1.x, p);
        f_add<N>(u.v, t.v, t.v, p);
        f_add<N>(t.v, u.v, t.v, p);
        f_add<N>(t.v, t.v, a, p);
        f_add<N>(u.v, P1.y, P1.y, p);
    } else {
        f_sub<N>(t.v, P2.y, P1.y, p);
        f_sub<N>(u.v, P2.x, P1.x, p);
    }
    mpModInv(u.v, u.v, p, N);
    f_mul<N>(lambda.v, t.v, u.v, p);

    // x3 = lambda^2 - x1 - x2, y3 = lambda (x1 - x3) - y1.
    f_mul<N>(x3.v, lambda.v, lambda.v, p);
    f_sub<N>(x3.v, x3.v, P1.x, p);
    f_sub<N>(x3.v, x3.v, P2.x, p);
    f_sub<N>(t.v, P1.x, x3.v, p);
    f_mul<N>(y3.v, lambda.v, t.v, p);
    f_sub<N>(y3.v, y3.v, P1.y, p);
    mpSetEqual(R.x, x3.v, N);
    mpSetEqual(R.y, y3.v, N);
}

// R := |k| * P by right-to-left double-and-add, in variable time: for public
// scalars and points off the curve only (gostr3410_2012_ct.h multiplies
// secrets). Coordinates of P are reduced mod p first.
template <std::size_t N>
void affine_mult(typename Curve<N>::Point &R, const typename Curve<N>::Point &P, const DIGIT_T *k,
                 const DIGIT_T *a, const DIGIT_T *p)
{
    using Point = typename Curve<N>::Point;
    Wiped<Point> result, S;
    Wiped<DIGIT_T[N]> scalar;
    if (is_zero<N>(k) || is_infinity<N>(P)) {
        R = result.v;
        return;
    }
    mpAbs(scalar.v, k, N);
    mpModulo(S.v.x, P.x, N, p, N);
    mpModulo(S.v.y, P.y, N, p, N);
    while (!is_zero<N>(scalar.v)) {
        if (scalar.v[0] & 1u)
            affine_add<N>(result.v, result.v, S.v, a, p);
        mpShiftRight(scalar.v, scalar.v, 1, N);
        if (!is_zero<N>(scalar.v))
            affine_add<N>(S.v, S.v, S.v, a, p);
    }
    R = result.v;
}

}  // namespace zkc::ec

#endif  // GOSTR3410_2012_EC_H
