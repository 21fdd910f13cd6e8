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

// R := |k| * P by right-to-left double-and-add. Coordinates of P are reduced
// mod p first.
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

// --- Jacobian points: x = X / Z^2, y = Y / Z^3; Z = 0 is infinity ----------

template <std::size_t N> struct Jacobian {
    DIGIT_T X[N], Y[N], Z[N];
};

template <std::size_t N> void jac_set_infinity(Jacobian<N> &R)
{
    mpSetDigit(R.X, 1, N);
    mpSetDigit(R.Y, 1, N);
    mpSetZero(R.Z, N);
}

// R := 2P. R may be P.
template <std::size_t N> void jac_double(Jacobian<N> &R, const Jacobian<N> &P, const DIGIT_T *a, const DIGIT_T *p)
{
    if (is_zero<N>(P.Z) || is_zero<N>(P.Y)) {
        jac_set_infinity(R);
        return;
    }
    Wiped<DIGIT_T[N]> xx, yy, yyyy, zz, s, m, t;
    f_mul<N>(xx.v, P.X, P.X, p);
    f_mul<N>(yy.v, P.Y, P.Y, p);
    f_mul<N>(yyyy.v, yy.v, yy.v, p);
    f_mul<N>(zz.v, P.Z, P.Z, p);
    // S = 4 X YY
    f_mul<N>(s.v, P.X, yy.v, p);
    f_add<N>(s.v, s.v, s.v, p);
    f_add<N>(s.v, s.v, s.v, p);
    // M = 3 XX + a ZZ^2
    f_mul<N>(t.v, zz.v, zz.v, p);
    f_mul<N>(m.v, t.v, a, p);
    f_add<N>(m.v, m.v, xx.v, p);
    f_add<N>(m.v, m.v, xx.v, p);
    f_add<N>(m.v, m.v, xx.v, p);
    // Z3 = 2 Y Z (before Y is overwritten)
    f_mul<N>(t.v, P.Y, P.Z, p);
    f_add<N>(R.Z, t.v, t.v, p);
    // X3 = M^2 - 2S
    f_mul<N>(t.v, m.v, m.v, p);
    f_sub<N>(t.v, t.v, s.v, p);
    f_sub<N>(R.X, t.v, s.v, p);
    // Y3 = M (S - X3) - 8 YYYY
    f_sub<N>(t.v, s.v, R.X, p);
    f_mul<N>(t.v, m.v, t.v, p);
    f_add<N>(yyyy.v, yyyy.v, yyyy.v, p);
    f_add<N>(yyyy.v, yyyy.v, yyyy.v, p);
    f_add<N>(yyyy.v, yyyy.v, yyyy.v, p);
    f_sub<N>(R.Y, t.v, yyyy.v, p);
}

// R := P + Q with Q affine (Z = 1), Q not infinity. R may be P.
template <std::size_t N>
void jac_add_affine(Jacobian<N> &R, const Jacobian<N> &P, const typename Curve<N>::Point &Q, const DIGIT_T *a,
                    const DIGIT_T *p)
{
    if (is_zero<N>(P.Z)) {
        mpSetEqual(R.X, Q.x, N);
        mpSetEqual(R.Y, Q.y, N);
        mpSetDigit(R.Z, 1, N);
        return;
    }
    Wiped<DIGIT_T[N]> z1z1, u2, s2, h, hh, hhh, r, v, t;
    f_mul<N>(z1z1.v, P.Z, P.Z, p);
    f_mul<N>(u2.v, Q.x, z1z1.v, p);
    f_mul<N>(s2.v, Q.y, P.Z, p);
    f_mul<N>(s2.v, s2.v, z1z1.v, p);
    if (mpEqual(u2.v, P.X, N) == 1) {
        if (mpEqual(s2.v, P.Y, N) == 1)
            jac_double<N>(R, P, a, p);
        else
            jac_set_infinity(R);
        return;
    }
    f_sub<N>(h.v, u2.v, P.X, p);
    f_sub<N>(r.v, s2.v, P.Y, p);
    f_mul<N>(hh.v, h.v, h.v, p);
    f_mul<N>(hhh.v, h.v, hh.v, p);
    f_mul<N>(v.v, P.X, hh.v, p);
    // Z3 = Z1 H
    f_mul<N>(R.Z, P.Z, h.v, p);
    // Y3 needs Y1 before it is overwritten: t = Y1 HHH
    f_mul<N>(t.v, P.Y, hhh.v, p);
    // X3 = r^2 - HHH - 2V
    f_mul<N>(R.X, r.v, r.v, p);
    f_sub<N>(R.X, R.X, hhh.v, p);
    f_sub<N>(R.X, R.X, v.v, p);
    f_sub<N>(R.X, R.X, v.v, p);
    // Y3 = r (V - X3) - Y1 HHH
    f_sub<N>(v.v, v.v, R.X, p);
    f_mul<N>(v.v, r.v, v.v, p);
    f_sub<N>(R.Y, v.v, t.v, p);
}

// R := P + Q, both Jacobian. R may be P or Q.
template <std::size_t N>
void jac_add(Jacobian<N> &R, const Jacobian<N> &P, const Jacobian<N> &Q, const DIGIT_T *a, const DIGIT_T *p)
{
    if (is_zero<N>(P.Z)) {
        R = Q;
        return;
    }
    if (is_zero<N>(Q.Z)) {
        R = P;
        return;
    }
    Wiped<DIGIT_T[N]> z1z1, z2z2, u1, u2, s1, s2, h, hh, hhh, r, v, t;
    f_mul<N>(z1z1.v, P.Z, P.Z, p);
    f_mul<N>(z2z2.v, Q.Z, Q.Z, p);
    f_mul<N>(u1.v, P.X, z2z2.v, p);
    f_mul<N>(u2.v, Q.X, z1z1.v, p);
    f_mul<N>(s1.v, P.Y, Q.Z, p);
    f_mul<N>(s1.v, s1.v, z2z2.v, p);
    f_mul<N>(s2.v, Q.Y, P.Z, p);
    f_mul<N>(s2.v, s2.v, z1z1.v, p);
    if (mpEqual(u1.v, u2.v, N) == 1) {
        if (mpEqual(s1.v, s2.v, N) == 1)
            jac_double<N>(R, P, a, p);
        else
            jac_set_infinity(R);
        return;
    }
    f_sub<N>(h.v, u2.v, u1.v, p);
    f_sub<N>(r.v, s2.v, s1.v, p);
    f_mul<N>(hh.v, h.v, h.v, p);
    f_mul<N>(hhh.v, h.v, hh.v, p);
    f_mul<N>(v.v, u1.v, hh.v, p);
    // Z3 = Z1 Z2 H
    f_mul<N>(t.v, P.Z, Q.Z, p);
    f_mul<N>(R.Z, t.v, h.v, p);
    // X3 = r^2 - HHH - 2V
    f_mul<N>(R.X, r.v, r.v, p);
    f_sub<N>(R.X, R.X, hhh.v, p);
    f_sub<N>(R.X, R.X, v.v, p);
    f_sub<N>(R.X, R.X, v.v, p);
    // Y3 = r (V - X3) - S1 HHH
    f_sub<N>(v.v, v.v, R.X, p);
    f_mul<N>(v.v, r.v, v.v, p);
    f_mul<N>(t.v, s1.v, hhh.v, p);
    f_sub<N>(R.Y, v.v, t.v, p);
}

// Affine form of a Jacobian point, one inversion; infinity gives (0, 0).
template <std::size_t N>
void jac_to_affine(typename Curve<N>::Point &R, const Jacobian<N> &P, const DIGIT_T *p)
{
    if (is_zero<N>(P.Z)) {
        mpSetZero(R.x, N);
        mpSetZero(R.y, N);
        return;
    }
    Wiped<DIGIT_T[N]> zinv, zinv2, t;
    mpModInv(zinv.v, P.Z, p, N);
    f_mul<N>(zinv2.v, zinv.v, zinv.v, p);
    f_mul<N>(R.x, P.X, zinv2.v, p);
    f_mul<N>(t.v, zinv2.v, zinv.v, p);
    f_mul<N>(R.y, P.Y, t.v, p);
}

// Fixed-base multiplication with the record's table T_k = 16^k G: with d_k the
// base-16 digits of the scalar, sum of d_k T_k = sum over v = 15..1 of v times
// (sum of the T_k with d_k = v), accumulated as A := A + B after B has taken
// every T_k of digit v. Returns 0, or -2 for a record without the table.
template <std::size_t N>
int fixed_base_mult(typename Curve<N>::Point &R, const typename Curve<N>::Params &params, const DIGIT_T *k)
{
    constexpr std::size_t kDigits = Curve<N>::kTablePoints;
    static_assert(kDigits * 4 == N * MP_BITS_PER_DIGIT, "one table point per scalar nibble");
    if (!params.precomputed)
        return -2;
    const DIGIT_T *a = params.a, *p = params.p;
    Wiped<Jacobian<N>> A, B;
    jac_set_infinity(A.v);
    jac_set_infinity(B.v);
    for (DIGIT_T v = 15; v >= 1; --v) {
        for (std::size_t i = 0; i < kDigits; ++i) {
            const DIGIT_T nibble = (k[i / 8] >> (4 * (i % 8))) & 0xFu;
            if (nibble == v)
                jac_add_affine<N>(B.v, B.v, params.points[i], a, p);
        }
        jac_add<N>(A.v, A.v, B.v, a, p);
    }
    jac_to_affine<N>(R, A.v, p);
    return 0;
}

}  // namespace zkc::ec

#endif  // GOSTR3410_2012_EC_H
