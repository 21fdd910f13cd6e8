// Scalar multiplication on public values only (verification, checks of peer
// points), in variable time: k G by the rows of the fixed-base table, adding
// only the nonzero digits; k P by a width-5 non-adjacent form.
#include "gostr3410_2012_ct.h"

namespace zkc::ec {

namespace {

constexpr int kNafWidth = 5;
constexpr std::size_t kOddPoints = 1u << (kNafWidth - 2);  // P, 3P, .., 15P

// Digits of k in width-5 NAF, lowest first: odd values in -15..15 or zero,
// nonzero ones at least five places apart. Returns the digit count.
template <std::size_t L> std::size_t naf(signed char *digits, const Fe<L> &k)
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
            d = (int)(x[0] & ((1u << kNafWidth) - 1));
            if (d >= 1 << (kNafWidth - 1))
                d -= 1 << kNafWidth;
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

}  // namespace

template <std::size_t N> void CurveCtx<N>::public_base_mult(Proj<L> &R, const Fe<L> &k) const
{
    if (base.empty()) {
        public_mult(R, G, k);
        return;
    }
    infinity(R);
    u64 carry = 0;
    for (std::size_t i = 0; i < kBaseRows<N>; ++i) {
        const SignedDigit<L> digit = SignedDigit<L>::next(k, i, carry);
        if (digit.mag == 0)
            continue;
        Aff<L> pick = base[kRowPoints * i + digit.mag - 1];
        if (digit.neg)
            fp.neg(pick.Y, pick.Y);
        add_mixed(R, R, pick);
    }
}

template <std::size_t N> void CurveCtx<N>::public_mult(Proj<L> &R, const Proj<L> &P, const Fe<L> &k) const
{
    Proj<L> odd[kOddPoints], twice;
    odd[0] = P;
    dbl(twice, P);
    for (std::size_t i = 1; i < kOddPoints; ++i)
        add(odd[i], odd[i - 1], twice);
    signed char digits[64 * L + 1];
    const std::size_t n = naf<L>(digits, k);
    infinity(R);
    bool started = false;
    for (std::size_t i = n; i-- > 0;) {
        if (started)
            dbl(R, R);
        const int d = digits[i];
        if (d == 0)
            continue;
        Proj<L> pick = odd[(d < 0 ? -d : d) / 2];
        if (d < 0)
            fp.neg(pick.Y, pick.Y);
        if (started) {
            add(R, R, pick);
        } else {
            R = pick;
            started = true;
        }
    }
}

#define ZKC_PUBLIC_MEMBERS(N)                                                                         \
    template void CurveCtx<N>::public_base_mult(Proj<kLimbs<N>> &, const Fe<kLimbs<N>> &) const;      \
    template void CurveCtx<N>::public_mult(Proj<kLimbs<N>> &, const Proj<kLimbs<N>> &, const Fe<kLimbs<N>> &) const;
ZKC_PUBLIC_MEMBERS(GOSTR3410_2012_256_DIGITS)
ZKC_PUBLIC_MEMBERS(GOSTR3410_2012_512_DIGITS)

}  // namespace zkc::ec
