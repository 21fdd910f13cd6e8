// Variable-time arithmetic for public values (verification, checks of peer
// points): width-w non-adjacent forms of scalars and points in Jacobian
// coordinates (x = X/Z^2, y = Y/Z^3, Z = 0 at infinity), whose doublings are
// cheaper, with the exceptional cases of the addition tested. Internal to
// the core.
#ifndef GOSTR3410_2012_JACOBIAN_H
#define GOSTR3410_2012_JACOBIAN_H

#include "gostr3410_2012_ct.h"

namespace zkc::ec {

constexpr int kNafWidth = 5;
constexpr std::size_t kOddPoints = 1u << (kNafWidth - 2);  // P, 3P, .., 15P

// Digits of k in width-w NAF, lowest first: odd values below 2^(w-1) in
// absolute value or zero, nonzero ones at least w places apart. Returns the
// digit count (at most 64 L + 1).
template <std::size_t L> inline std::size_t naf(signed char *digits, const Fe<L> &k, int width = kNafWidth)
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

}  // namespace zkc::ec

#endif  // GOSTR3410_2012_JACOBIAN_H
