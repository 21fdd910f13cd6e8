// Pieces of the multiple-precision layer shared inside the core, for callers
// that bring their own (stack) working space instead of the heap.
#ifndef ZKC_BIGNUM_INTERNAL_H
#define ZKC_BIGNUM_INTERNAL_H

#include <cstddef>

#include "zkc_bignum.h"

namespace zkc {

// p[1]:p[0] = x * y from four 16x16-bit partial products with explicit
// carries; inline so that the digit loops do not pay a call per digit.
inline void sp_multiply(DIGIT_T p[2], DIGIT_T x, DIGIT_T y)
{
    const DIGIT_T xl = x & 0xFFFFu, xh = x >> 16;
    const DIGIT_T yl = y & 0xFFFFu, yh = y >> 16;

    const DIGIT_T ll = xl * yl;
    const DIGIT_T lh = xl * yh;
    const DIGIT_T hl = xh * yl;
    DIGIT_T hh = xh * yh;

    // The two middle products sit at bit 16; their sum may carry into bit 48.
    const DIGIT_T mid = lh + hl;
    if (mid < lh)
        hh += 0x10000u;

    const DIGIT_T lo = ll + (mid << 16);
    if (lo < ll)
        ++hh;
    hh += mid >> 16;

    p[0] = lo;
    p[1] = hh;
}

// mpDivide with caller-supplied working space: un of nu + 1 digits and vn of
// nv digits, both left holding intermediate values (the caller wipes them).
int mp_divide_in(DIGIT_T q[], DIGIT_T r[], const DIGIT_T u[], std::size_t nu, const DIGIT_T v[],
                 std::size_t nv, DIGIT_T un[], DIGIT_T vn[]);

}  // namespace zkc

#endif  // ZKC_BIGNUM_INTERNAL_H
