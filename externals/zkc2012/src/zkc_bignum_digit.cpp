// Single-digit primitives: a 32x32 -> 64-bit product and a 64/32-bit division,
// both built from 16-bit halves with explicit carries.
#include "zkc_bignum.h"
#include "zkc_bignum_internal.h"

namespace {
constexpr DIGIT_T kHalfBase = 0x10000u;
constexpr DIGIT_T kLowHalf = 0xFFFFu;

unsigned leading_zeros(DIGIT_T v)
{
    unsigned n = 0;
    if (v == 0)
        return 32;
    while ((v & 0x80000000u) == 0) {
        v <<= 1;
        ++n;
    }
    return n;
}
}  // namespace

extern "C" void spMultiply(DIGIT_T p[2], DIGIT_T x, DIGIT_T y)
{
    zkc::sp_multiply(p, x, y);
}

extern "C" DIGIT_T spDivide(DIGIT_T *q, const DIGIT_T u[2], DIGIT_T v)
{
    if (v == 0 || u[1] >= v) {
        // No single-digit quotient: report the largest digit.
        *q = 0xFFFFFFFFu;
        return 0;
    }

    // Normalise so that the divisor's top bit is set, then divide the
    // four-halfword dividend by the two-halfword divisor in two steps.
    const unsigned s = leading_zeros(v);
    const DIGIT_T vn = v << s;
    const DIGIT_T vn1 = vn >> 16, vn0 = vn & kLowHalf;

    const DIGIT_T un32 = s == 0 ? u[1] : (u[1] << s) | (u[0] >> (32 - s));
    const DIGIT_T un10 = u[0] << s;
    const DIGIT_T un1 = un10 >> 16, un0 = un10 & kLowHalf;

    DIGIT_T q1 = un32 / vn1;
    DIGIT_T rhat = un32 - q1 * vn1;
    while (q1 >= kHalfBase || q1 * vn0 > ((rhat << 16) | un1)) {
        --q1;
        rhat += vn1;
        if (rhat >= kHalfBase)
            break;
    }
    // The partial remainder is below vn, so arithmetic mod 2^32 is exact.
    const DIGIT_T un21 = (un32 << 16) + un1 - q1 * vn;

    DIGIT_T q0 = un21 / vn1;
    rhat = un21 - q0 * vn1;
    while (q0 >= kHalfBase || q0 * vn0 > ((rhat << 16) | un0)) {
        --q0;
        rhat += vn1;
        if (rhat >= kHalfBase)
            break;
    }
    const DIGIT_T rem = (un21 << 16) + un0 - q0 * vn;

    *q = (q1 << 16) | q0;
    return rem >> s;
}
