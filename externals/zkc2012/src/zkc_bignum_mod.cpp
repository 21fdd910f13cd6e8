// Modular operations: reduction, multiplication, addition, subtraction and
// the inverse. Working values live on the heap (or, for addition and
// subtraction, in fixed arrays) and are wiped before they are released.
#include "zkc_bignum.h"
#include "zkc_bignum_mem.h"

using zkc::MpWork;

extern "C" int mpModulo(DIGIT_T r[], const DIGIT_T u[], size_t nu, const DIGIT_T m[], size_t n)
{
    MpWork q(nu);
    MpWork rem(n);
    const int rc = mpDivide(q, rem, u, nu, m, n);
    if (rc != 0) {
        mpSetZero(r, n);
        return rc;
    }
    mpSetEqual(r, rem, n);
    return 0;
}

extern "C" int mpModMult(DIGIT_T a[], const DIGIT_T x[], const DIGIT_T y[], const DIGIT_T m[], size_t n)
{
    MpWork product(2 * n);
    mpMultiply(product, x, y, n);
    return mpModulo(a, product, 2 * n, m, n);
}

namespace {

// The two reduced operands and the result of mpModAdd / mpModSub.
struct ModAddWork {
    DIGIT_T x[MP_MODADD_MAX_DIGITS];
    DIGIT_T y[MP_MODADD_MAX_DIGITS];
    DIGIT_T s[MP_MODADD_MAX_DIGITS];
    ~ModAddWork() { zkc::mp_wipe(this, sizeof *this); }
};

bool modadd_args_ok(const DIGIT_T m[], size_t n)
{
    return n >= 1 && n <= MP_MODADD_MAX_DIGITS && mpIsZero(m, n) == 0;
}

}  // namespace

extern "C" int mpModAdd(DIGIT_T a[], const DIGIT_T x[], const DIGIT_T y[], const DIGIT_T m[], size_t n)
{
    if (!modadd_args_ok(m, n))
        return -1;
    ModAddWork w;
    mpModulo(w.x, x, n, m, n);
    mpModulo(w.y, y, n, m, n);
    const DIGIT_T carry = mpAdd(w.s, w.x, w.y, n);
    // Both were below m, so one subtraction brings the sum back into range.
    if (carry || mpCompare(w.s, m, n) >= 0)
        mpSubtract(w.s, w.s, m, n);
    mpSetEqual(a, w.s, n);
    return 0;
}

extern "C" int mpModSub(DIGIT_T a[], const DIGIT_T x[], const DIGIT_T y[], const DIGIT_T m[], size_t n)
{
    if (!modadd_args_ok(m, n))
        return -1;
    ModAddWork w;
    mpModulo(w.x, x, n, m, n);
    mpModulo(w.y, y, n, m, n);
    if (mpSubtract(w.s, w.x, w.y, n))
        mpAdd(w.s, w.s, m, n);
    mpSetEqual(a, w.s, n);
    return 0;
}

extern "C" int mpModInv(DIGIT_T inv[], const DIGIT_T u[], const DIGIT_T m[], size_t n)
{
    if (n == 0)
        return 1;
    if (mpIsZero(m, n)) {
        mpSetZero(inv, n);
        return 1;
    }
    // Extended Euclid on (u, m), tracking only the cofactor of u. The
    // cofactors alternate in sign, so they are kept as magnitudes and the
    // parity of the step count says which sign the last one has.
    MpWork u1(n), v1(n), t1(n), u3(n), v3(n), t3(n), q(n), w(2 * n);
    mpSetDigit(u1, 1, n);
    mpSetZero(v1, n);
    mpSetEqual(u3, u, n);
    mpSetEqual(v3, m, n);
    bool odd_steps = false;

    while (!mpIsZero(v3, n)) {
        mpDivide(q, t3, u3, n, v3, n);
        mpMultiply(w, q, v1, n);
        mpAdd(t1, u1, w, n);  // magnitudes stay below m: no carry
        mpSetEqual(u1, v1, n);
        mpSetEqual(v1, t1, n);
        mpSetEqual(u3, v3, n);
        mpSetEqual(v3, t3, n);
        odd_steps = !odd_steps;
    }

    // u3 is gcd(u, m).
    if (mpIsZero(u3, n) || mpBitLength(u3, n) != 1) {
        mpSetZero(inv, n);
        return 1;
    }
    if (odd_steps)
        mpSubtract(inv, m, u1, n);
    else
        mpSetEqual(inv, u1, n);
    if (mpCompare(inv, m, n) >= 0)  // m = 1: everything is 0
        mpSubtract(inv, inv, m, n);
    return 0;
}
