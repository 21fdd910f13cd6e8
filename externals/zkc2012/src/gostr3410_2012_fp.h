// Fixed-width arithmetic modulo an odd prime on L 64-bit limbs (4 for the
// 256-bit curves, 8 for the 512-bit ones), in Montgomery form. Every operation
// runs the same instructions and touches the same memory whatever the values:
// carries and comparisons become masks, never branches. Only the modulus (a
// public curve constant) steers loops. Internal to the core.
#ifndef GOSTR3410_2012_FP_H
#define GOSTR3410_2012_FP_H

#include <cstddef>
#include <cstdint>
#include <x86intrin.h>

#include "zkc_bignum.h"
#include "zkc_bignum_mem.h"

#ifdef ZKC_HAVE_MEMCHECK
#include <valgrind/memcheck.h>
// Marks a value derived from a secret as releasable (the accept or refuse of a
// candidate scalar, made after a constant-time comparison).
#define ZKC_DECLASSIFY(p, n) VALGRIND_MAKE_MEM_DEFINED((p), (n))
#else
#define ZKC_DECLASSIFY(p, n) ((void)(p), (void)(n))
#endif

namespace zkc::ec {

using u64 = std::uint64_t;
using u128 = unsigned __int128;

template <std::size_t L> struct Fe {
    u64 v[L];
};

// All ones when x is zero, else zero.
inline u64 mask_if_zero(u64 x)
{
    return (u64)0 - (((x | ((u64)0 - x)) >> 63) ^ 1u);
}

template <std::size_t L> u64 mask_is_zero(const Fe<L> &a)
{
    u64 acc = 0;
#pragma GCC unroll 16
    for (std::size_t i = 0; i < L; ++i)
        acc |= a.v[i];
    return mask_if_zero(acc);
}

// r := mask ? a : r.
template <std::size_t L> void fe_cmov(Fe<L> &r, const Fe<L> &a, u64 mask)
{
#pragma GCC unroll 16
    for (std::size_t i = 0; i < L; ++i)
        r.v[i] ^= mask & (r.v[i] ^ a.v[i]);
}

// r := a - b over L limbs; returns the borrow (0 or 1).
template <std::size_t L> u64 fe_sub_raw(Fe<L> &r, const Fe<L> &a, const Fe<L> &b)
{
    unsigned char borrow = 0;
#pragma GCC unroll 16
    for (std::size_t i = 0; i < L; ++i) {
        unsigned long long d;
        borrow = _subborrow_u64(borrow, a.v[i], b.v[i], &d);
        r.v[i] = d;
    }
    return borrow;
}

// All ones when a < b.
template <std::size_t L> u64 mask_less(const Fe<L> &a, const Fe<L> &b)
{
    Fe<L> t;
    return (u64)0 - fe_sub_raw(t, a, b);
}

// Digits of the multiple-precision layer (the low 2L of them) to limbs and back.
template <std::size_t L> Fe<L> fe_from_digits(const DIGIT_T *d)
{
    Fe<L> r;
#pragma GCC unroll 16
    for (std::size_t i = 0; i < L; ++i)
        r.v[i] = (u64)d[2 * i] | ((u64)d[2 * i + 1] << 32);
    return r;
}

template <std::size_t L> void fe_to_digits(DIGIT_T *d, std::size_t n, const Fe<L> &a)
{
    for (std::size_t i = 0; i < n; ++i)
        d[i] = i < 2 * L ? (DIGIT_T)(a.v[i / 2] >> (32 * (i % 2))) : 0;
}

// (c2 c1 c0) += x y.
inline void mac(u64 &c0, u64 &c1, u64 &c2, u64 x, u64 y)
{
    const u128 p = (u128)x * y;
    unsigned long long lo, hi;
    const unsigned char cf = _addcarry_u64(0, c0, (u64)p, &lo);
    c2 += _addcarry_u64(cf, c1, (u64)(p >> 64), &hi);
    c0 = lo;
    c1 = hi;
}

// r[0..n] += x (y_0 .. y_(n-1)) + top 2^(64 n) (n at most L), the row's products taken
// first and added by two carry chains (low halves, then high halves one limb
// up), so that the multiplications do not wait on the additions. Returns the
// carries out of r[n] (0 to 2).
template <std::size_t L>
__attribute__((always_inline)) inline u64 add_row(u64 *r, u64 x, const u64 *y, u64 top = 0, std::size_t n = L)
{
    u64 lo[L], hi[L];
#pragma GCC unroll 8
    for (std::size_t j = 0; j < n; ++j) {
        const u128 p = (u128)x * y[j];
        lo[j] = (u64)p;
        hi[j] = (u64)(p >> 64);
    }
    unsigned char c1 = 0, c2 = 0;
    unsigned long long s;
#pragma GCC unroll 8
    for (std::size_t j = 0; j < n; ++j) {
        c1 = _addcarry_u64(c1, r[j], lo[j], &s);
        r[j] = s;
    }
    c1 = _addcarry_u64(c1, r[n], top, &s);
    r[n] = s;
#pragma GCC unroll 8
    for (std::size_t j = 0; j < n; ++j) {
        c2 = _addcarry_u64(c2, r[j + 1], hi[j], &s);
        r[j + 1] = s;
    }
    return (u64)c1 + c2;
}

// t := a b over 2L limbs, row by row (the loops unroll: L is a constant).
// The products keep one carry chain here: taking each row's products first
// (add_row) ran faster, but dudect then told scalars with long runs of zero
// bits from uniform ones through VKO (|t| 14 on a Montgomery prime, AMD
// EPYC), with no branch or address depending on them; this form shows none.
template <std::size_t L> inline void mul_wide(u64 *t, const Fe<L> &a, const Fe<L> &b)
{
    u64 r[2 * L];
#pragma GCC unroll 8
    for (std::size_t i = 0; i < L; ++i) {
        u64 carry = 0;
#pragma GCC unroll 8
        for (std::size_t j = 0; j < L; ++j) {
            const u128 s = (u128)a.v[j] * b.v[i] + (i ? r[i + j] : 0) + carry;
            r[i + j] = (u64)s;
            carry = (u64)(s >> 64);
        }
        r[i + L] = carry;
    }
#pragma GCC unroll 16
    for (std::size_t i = 0; i < 2 * L; ++i)
        t[i] = r[i];
}

// t := a^2: each cross product once, doubled, plus the squares.
template <std::size_t L> inline void sqr_wide(u64 *t, const Fe<L> &a)
{
    u64 r[2 * L] = {};
#pragma GCC unroll 8
    for (std::size_t i = 0; i + 1 < L; ++i)
        add_row<L>(r + 2 * i + 1, a.v[i], a.v + i + 1, 0, L - 1 - i);
    unsigned char cf = 0, cf2 = 0;
#pragma GCC unroll 8
    for (std::size_t i = 0; i < L; ++i) {
        const u128 sq = (u128)a.v[i] * a.v[i];
        unsigned long long lo, hi;
        cf = _addcarry_u64(cf, r[2 * i], r[2 * i], &lo);
        cf = _addcarry_u64(cf, r[2 * i + 1], r[2 * i + 1], &hi);
        cf2 = _addcarry_u64(cf2, lo, (u64)sq, &lo);
        cf2 = _addcarry_u64(cf2, hi, (u64)(sq >> 64), &hi);
        t[2 * i] = lo;
        t[2 * i + 1] = hi;
    }
}

// A modulus and its Montgomery constants (R = 2^(64 L)). A modulus of the
// form 2^(64 L) - c with c below 2^64 (the field primes of most sets) skips
// the Montgomery form: its products are reduced by folding the high half
// times c, twice; "Montgomery form" is then the plain residue (R taken as 1).
template <std::size_t L> struct Modulus {
    Fe<L> m;
    u64 n0;     // -m^-1 mod 2^64
    Fe<L> one;  // R mod m
    Fe<L> r2;   // R^2 mod m
    Fe<L> m2;   // m - 2, the exponent of inversion
    u64 c = 0;  // 2^(64 L) - m when that fits one limb, else 0

    // `fold` false keeps the Montgomery form whatever the modulus.
    explicit Modulus(const DIGIT_T *digits, bool fold = true) : m(fe_from_digits<L>(digits))
    {
        u64 inv = 1;
        for (int i = 0; i < 6; ++i)
            inv *= 2 - m.v[0] * inv;
        n0 = (u64)0 - inv;
        Fe<L> two{};
        two.v[0] = 2;
        fe_sub_raw(m2, m, two);
        u64 top = ~(u64)0;
        for (std::size_t i = 1; i < L; ++i)
            top &= m.v[i];
        if (fold && top == ~(u64)0 && m.v[0] != 0) {
            c = (u64)0 - m.v[0];
            one = r2 = Fe<L>{};
            one.v[0] = r2.v[0] = 1;
            return;
        }
        Fe<L> x{};
        x.v[0] = 1;
        for (std::size_t i = 0; i < 64 * L; ++i)
            dbl(x);
        one = x;
        for (std::size_t i = 0; i < 64 * L; ++i)
            dbl(x);
        r2 = x;
    }

    // r := a + b mod m (a, b below m).
    void add(Fe<L> &r, const Fe<L> &a, const Fe<L> &b) const
    {
        Fe<L> sum, t;
        unsigned char carry = 0;
#pragma GCC unroll 16
        for (std::size_t i = 0; i < L; ++i) {
            unsigned long long s;
            carry = _addcarry_u64(carry, a.v[i], b.v[i], &s);
            sum.v[i] = s;
        }
        const u64 borrow = fe_sub_raw(t, sum, m);
        // Keep the sum only when it did not overflow and was below m.
        fe_cmov(sum, t, ~((u64)0 - (borrow & (carry ^ 1u))));
        r = sum;
    }

    // r := a - b mod m.
    void sub(Fe<L> &r, const Fe<L> &a, const Fe<L> &b) const
    {
        Fe<L> d;
        const u64 mask = (u64)0 - fe_sub_raw(d, a, b);
        unsigned char carry = 0;
#pragma GCC unroll 16
        for (std::size_t i = 0; i < L; ++i) {
            unsigned long long s;
            carry = _addcarry_u64(carry, d.v[i], m.v[i] & mask, &s);
            r.v[i] = s;
        }
    }

    void neg(Fe<L> &r, const Fe<L> &a) const
    {
        const Fe<L> zero{};
        sub(r, zero, a);
    }

    // r := a b R^-1 mod m. a b must be below m R: one operand below m.
    void mul(Fe<L> &r, const Fe<L> &a, const Fe<L> &b) const
    {
        u64 t[2 * L];
        mul_wide<L>(t, a, b);
        reduce(r, t);
    }

    void sqr(Fe<L> &r, const Fe<L> &a) const
    {
        u64 t[2 * L];
        sqr_wide<L>(t, a);
        reduce(r, t);
    }

    // Any a below R into Montgomery form (reduced mod m), and back.
    void to_mont(Fe<L> &r, const Fe<L> &a) const { mul(r, a, r2); }
    void from_mont(Fe<L> &r, const Fe<L> &a) const
    {
        Fe<L> unit{};
        unit.v[0] = 1;
        mul(r, a, unit);
    }

    // r := a^(m-2) = a^-1 (Fermat; 0 gives 0). The exponent is public: its
    // bits may steer the steps. Its leading run of ones (most of it for a
    // modulus 2^(64 L) - c) is raised by the chain a^(2^k - 1) -> a^(2^2k - 1)
    // -> a^(2^(2k+1) - 1), the rest by bits or by fixed 4-bit windows.
    void inv(Fe<L> &r, const Fe<L> &a) const
    {
        auto bit = [&](std::size_t i) { return (unsigned)(m2.v[i / 64] >> (i % 64)) & 1u; };
        std::size_t top = 64 * L - 1;
        while (!bit(top))
            --top;
        std::size_t run = 0;
        while (run <= top && bit(top - run))
            ++run;
        Fe<L> acc = a, t;
        std::size_t k = 1, lead = 0;
        while ((run >> (lead + 1)) != 0)
            ++lead;
        for (std::size_t i = lead; i-- > 0;) {
            t = acc;  // a^(2^k - 1)
            for (std::size_t j = 0; j < k; ++j)
                sqr(acc, acc);
            mul(acc, acc, t);
            k *= 2;
            if ((run >> i) & 1u) {
                sqr(acc, acc);
                mul(acc, acc, a);
                ++k;
            }
        }
        std::size_t rest = top + 1 - run;  // bits below the run
        if (rest <= 40) {
            while (rest-- > 0) {
                sqr(acc, acc);
                if (bit(rest))
                    mul(acc, acc, a);
            }
        } else {
            Fe<L> pow[16];
            pow[0] = one;
            pow[1] = a;
            for (std::size_t i = 2; i < 16; ++i)
                mul(pow[i], pow[i - 1], a);
            for (std::size_t pos = rest; pos > 0;) {
                const std::size_t width = pos % 4 ? pos % 4 : 4;
                unsigned digit = 0;
                for (std::size_t j = 1; j <= width; ++j) {
                    sqr(acc, acc);
                    digit = 2 * digit + bit(pos - j);
                }
                pos -= width;
                if (digit != 0)
                    mul(acc, acc, pow[digit]);
            }
            mp_wipe(pow, sizeof pow);
        }
        r = acc;
        mp_wipe(&t, sizeof t);
    }

    // r := a^-1 mod m for a public a below m (0 gives 0), in plain form (not
    // Montgomery), by the binary extended Euclidean algorithm: variable time.
    void inv_public(Fe<L> &r, const Fe<L> &a) const
    {
        Fe<L> u = a, v = m, x1{}, x2{}, unit{};
        x1.v[0] = unit.v[0] = 1;
        if (mask_is_zero(a)) {
            r = Fe<L>{};
            return;
        }
        auto is_one = [&](const Fe<L> &x) {
            Fe<L> d;
            fe_sub_raw(d, x, unit);
            return mask_is_zero(d) != 0;
        };
        // x := x / 2 and its coefficient y := y / 2 mod m.
        auto halve = [&](Fe<L> &x, Fe<L> &y) {
            while ((x.v[0] & 1u) == 0) {
                shift_right(x, 0);
                u64 carry = 0;
                if (y.v[0] & 1u) {
                    unsigned char cf = 0;
                    for (std::size_t i = 0; i < L; ++i) {
                        unsigned long long t;
                        cf = _addcarry_u64(cf, y.v[i], m.v[i], &t);
                        y.v[i] = t;
                    }
                    carry = cf;
                }
                shift_right(y, carry);
            }
        };
        while (!is_one(u) && !is_one(v)) {
            halve(u, x1);
            halve(v, x2);
            if (!mask_less(u, v)) {
                fe_sub_raw(u, u, v);
                sub(x1, x1, x2);
            } else {
                fe_sub_raw(v, v, u);
                sub(x2, x2, x1);
            }
        }
        r = is_one(u) ? x1 : x2;
    }

private:
    static void shift_right(Fe<L> &x, u64 top)
    {
        for (std::size_t i = 0; i + 1 < L; ++i)
            x.v[i] = (x.v[i] >> 1) | (x.v[i + 1] << 63);
        x.v[L - 1] = (x.v[L - 1] >> 1) | (top << 63);
    }

    // r := t mod m (folded) or t R^-1 mod m (Montgomery), for the 2L-limb
    // product t of two operands below R, one of them below m.
    void reduce(Fe<L> &r, const u64 *t) const
    {
        if (c != 0)  // a property of the public modulus
            reduce_folded(r, t);
        else
            reduce_mont(r, t);
    }

    __attribute__((always_inline)) void reduce_folded(Fe<L> &r, const u64 *t) const
    {
        // 2^(64 L) = c (mod m): x = lo + hi c, below 2^(64 L) (c + 1).
        u64 x[L + 1];
#pragma GCC unroll 8
        for (std::size_t i = 0; i < L; ++i)
            x[i] = t[i];
        x[L] = 0;
        add_row<L>(x, c, t + L);
        // Fold the top limb: x[0..L-1] + cf 2^(64 L) with cf 0 or 1.
        const u128 p = (u128)x[L] * c;
        unsigned char cf;
        unsigned long long s;
        cf = _addcarry_u64(0, x[0], (u64)p, &s);
        x[0] = s;
        cf = _addcarry_u64(cf, x[1], (u64)(p >> 64), &s);
        x[1] = s;
#pragma GCC unroll 8
        for (std::size_t i = 2; i < L; ++i) {
            cf = _addcarry_u64(cf, x[i], 0, &s);
            x[i] = s;
        }
        // The value is below 2 m. y = x + c wraps past 2^(64 L) exactly when
        // x >= m, and is then x - m; with cf set, x is small and the result
        // is x + c.
        Fe<L> y;
        unsigned char co = _addcarry_u64(0, x[0], c, &s);
        y.v[0] = s;
#pragma GCC unroll 8
        for (std::size_t i = 1; i < L; ++i) {
            co = _addcarry_u64(co, x[i], 0, &s);
            y.v[i] = s;
        }
#pragma GCC unroll 8
        for (std::size_t i = 0; i < L; ++i)
            r.v[i] = x[i];
        fe_cmov(r, y, (u64)0 - (u64)(cf | co));
    }

    // Montgomery reduction, one limb of t cleared per round; the carry out of
    // the top limb of a round goes into the next round's.
    __attribute__((always_inline)) void reduce_mont(Fe<L> &r, const u64 *in) const
    {
        u64 t[2 * L];
#pragma GCC unroll 16
        for (std::size_t i = 0; i < 2 * L; ++i)
            t[i] = in[i];
        u64 top = 0;
#pragma GCC unroll 8
        for (std::size_t i = 0; i < L; ++i)
            top = add_row<L>(t + i, t[i] * n0, m.v, top);
        // t < 2m: subtract m unless that borrows past the top limb.
        Fe<L> lo, d;
#pragma GCC unroll 16
        for (std::size_t i = 0; i < L; ++i)
            lo.v[i] = t[L + i];
        const u64 borrow = fe_sub_raw(d, lo, m);
        r = d;
        fe_cmov(r, lo, (u64)0 - (borrow & (top ^ 1u)));
    }

    // x := 2x mod m for x below m (set-up only).
    void dbl(Fe<L> &x) const { add(x, x, x); }
};

}  // namespace zkc::ec

#endif  // GOSTR3410_2012_FP_H
