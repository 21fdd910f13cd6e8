// Division: by a single digit, and the schoolbook long division (normalising
// shift, quotient-digit estimate and correction).
#include "zkc_bignum.h"
#include "zkc_bignum_internal.h"
#include "zkc_bignum_mem.h"

namespace {

size_t significant_digits(const DIGIT_T a[], size_t n)
{
    while (n > 0 && a[n - 1] == 0)
        --n;
    return n;
}

unsigned leading_zeros(DIGIT_T v)
{
    unsigned n = 0;
    while ((v & 0x80000000u) == 0) {
        v <<= 1;
        ++n;
    }
    return n;
}

// w[0..t] -= qhat * v[0..t-1]; returns the final borrow out of w[t].
DIGIT_T multiply_subtract(DIGIT_T w[], DIGIT_T qhat, const DIGIT_T v[], size_t t)
{
    DIGIT_T borrow = 0;  // carried high digit of the product plus borrows
    for (size_t i = 0; i < t; ++i) {
        DIGIT_T p[2];
        zkc::sp_multiply(p, qhat, v[i]);
        p[0] += borrow;
        if (p[0] < borrow)
            ++p[1];
        const DIGIT_T wi = w[i];
        w[i] = wi - p[0];
        if (w[i] > wi)
            ++p[1];
        borrow = p[1];
    }
    const DIGIT_T top = w[t];
    w[t] = top - borrow;
    return w[t] > top ? 1 : 0;
}

}  // namespace

extern "C" DIGIT_T mpShortDiv(DIGIT_T q[], const DIGIT_T u[], DIGIT_T d, size_t n)
{
    if (d == 0) {
        for (size_t i = 0; i < n; ++i)
            q[i] = MP_MAX_DIGIT;
        return 0;
    }
    DIGIT_T r = 0;
    for (size_t i = n; i-- > 0;) {
        const DIGIT_T t[2] = {u[i], r};
        r = spDivide(&q[i], t, d);
    }
    return r;
}

namespace zkc {

int mp_divide_in(DIGIT_T q[], DIGIT_T r[], const DIGIT_T u[], size_t nu, const DIGIT_T v[], size_t nv,
                 DIGIT_T un[], DIGIT_T vn[])
{
    const size_t t = significant_digits(v, nv);
    mpSetZero(r, nv);
    if (t == 0) {
        mpSetZero(q, nu);
        return -1;
    }
    const size_t m = significant_digits(u, nu);
    if (m < t) {
        mpSetZero(q, nu);
        mpSetEqual(r, u, m);
        return 0;
    }
    if (t == 1) {
        r[0] = mpShortDiv(q, u, v[0], nu);
        return 0;
    }

    // Normalise: shift both so that the divisor's top digit has its top bit set.
    const unsigned s = leading_zeros(v[t - 1]);
    mpShiftLeft(vn, v, s, t);
    un[m] = mpShiftLeft(un, u, s, m);

    mpSetZero(q, nu);
    const DIGIT_T vtop = vn[t - 1], vnext = vn[t - 2];
    for (size_t j = m - t + 1; j-- > 0;) {
        // Estimate qhat from the top two digits of the remainder.
        DIGIT_T qhat, rhat;
        bool rhat_overflow = false;
        if (un[j + t] >= vtop) {
            qhat = MP_MAX_DIGIT;
            rhat = un[j + t - 1] + vtop;
            rhat_overflow = rhat < vtop;
        } else {
            const DIGIT_T top2[2] = {un[j + t - 1], un[j + t]};
            rhat = spDivide(&qhat, top2, vtop);
        }
        // Correct it with the next digit: at most two steps.
        while (!rhat_overflow) {
            DIGIT_T p[2];
            zkc::sp_multiply(p, qhat, vnext);
            const DIGIT_T below = un[j + t - 2];
            if (p[1] < rhat || (p[1] == rhat && p[0] <= below))
                break;
            --qhat;
            rhat += vtop;
            rhat_overflow = rhat < vtop;
        }
        // Subtract qhat * v; when that goes negative, qhat was one too big.
        if (multiply_subtract(&un[j], qhat, vn, t)) {
            --qhat;
            DIGIT_T carry = mpAdd(&un[j], &un[j], vn, t);
            un[j + t] += carry;
        }
        q[j] = qhat;
    }

    // The remainder is the low t digits, shifted back.
    mpShiftRight(un, un, s, t + 1);
    mpSetEqual(r, un, t);
    return 0;
}

}  // namespace zkc

extern "C" int mpDivide(DIGIT_T q[], DIGIT_T r[], const DIGIT_T u[], size_t nu,
                        const DIGIT_T v[], size_t nv)
{
    zkc::MpWork un(nu + 1);
    zkc::MpWork vn(nv);
    return zkc::mp_divide_in(q, r, u, nu, v, nv, un, vn);
}
