// Plain multiple-precision operations: set, compare, bits and bytes, shifts,
// addition and subtraction, signs, octet conversion, multiplication.
#include "zkc_bignum.h"
#include "zkc_bignum_internal.h"

extern "C" void mpSetZero(DIGIT_T a[], size_t n)
{
    for (size_t i = 0; i < n; ++i)
        a[i] = 0;
}

extern "C" void mpSetDigit(DIGIT_T a[], DIGIT_T d, size_t n)
{
    if (n == 0)
        return;
    a[0] = d;
    for (size_t i = 1; i < n; ++i)
        a[i] = 0;
}

extern "C" void mpSetEqual(DIGIT_T a[], const DIGIT_T b[], size_t n)
{
    for (size_t i = 0; i < n; ++i)
        a[i] = b[i];
}

extern "C" int mpIsZero(const DIGIT_T a[], size_t n)
{
    if (n == 0)
        return -1;
    DIGIT_T any = 0;
    for (size_t i = 0; i < n; ++i)
        any |= a[i];
    return any == 0 ? 1 : 0;
}

extern "C" int mpEqual(const DIGIT_T a[], const DIGIT_T b[], size_t n)
{
    if (n == 0)
        return -1;
    DIGIT_T diff = 0;
    for (size_t i = 0; i < n; ++i)
        diff |= a[i] ^ b[i];
    return diff == 0 ? 1 : 0;
}

extern "C" int mpCompare(const DIGIT_T a[], const DIGIT_T b[], size_t n)
{
    while (n--) {
        if (a[n] > b[n])
            return 1;
        if (a[n] < b[n])
            return -1;
    }
    return 0;
}

extern "C" size_t mpBitLength(const DIGIT_T a[], size_t n)
{
    while (n > 0 && a[n - 1] == 0)
        --n;
    if (n == 0)
        return 0;
    DIGIT_T top = a[n - 1];
    size_t bits = 0;
    while (top) {
        top >>= 1;
        ++bits;
    }
    return (n - 1) * MP_BITS_PER_DIGIT + bits;
}

extern "C" int mpGetBit(const DIGIT_T a[], size_t n, size_t k)
{
    if (k / MP_BITS_PER_DIGIT >= n)
        return -1;
    return (a[k / MP_BITS_PER_DIGIT] >> (k % MP_BITS_PER_DIGIT)) & 1u;
}

extern "C" int mpGetByte(const DIGIT_T a[], size_t n, size_t k)
{
    if (k / MP_BYTES_PER_DIGIT >= n)
        return -1;
    return static_cast<int>((a[k / MP_BYTES_PER_DIGIT] >> (8 * (k % MP_BYTES_PER_DIGIT))) & 0xFFu);
}

extern "C" int mpSetByte(DIGIT_T a[], size_t n, size_t k, uint8_t value)
{
    if (k / MP_BYTES_PER_DIGIT >= n)
        return -1;
    const unsigned shift = 8 * (k % MP_BYTES_PER_DIGIT);
    DIGIT_T &d = a[k / MP_BYTES_PER_DIGIT];
    d = (d & ~(DIGIT_T{0xFFu} << shift)) | (DIGIT_T{value} << shift);
    return 0;
}

extern "C" DIGIT_T mpShiftLeft(DIGIT_T a[], const DIGIT_T b[], size_t shift, size_t n)
{
    const size_t k = shift / MP_BITS_PER_DIGIT;
    const unsigned r = static_cast<unsigned>(shift % MP_BITS_PER_DIGIT);
    if (k >= n) {
        mpSetZero(a, n);
        return 0;
    }
    const DIGIT_T out = r ? b[n - 1 - k] >> (MP_BITS_PER_DIGIT - r) : 0;
    // Top down: every digit read lies at or below the one written.
    for (size_t i = n; i-- > 0;) {
        if (i < k) {
            a[i] = 0;
            continue;
        }
        DIGIT_T d = b[i - k] << r;
        if (r && i > k)
            d |= b[i - k - 1] >> (MP_BITS_PER_DIGIT - r);
        a[i] = d;
    }
    return out;
}

extern "C" DIGIT_T mpShiftRight(DIGIT_T a[], const DIGIT_T b[], size_t shift, size_t n)
{
    const size_t k = shift / MP_BITS_PER_DIGIT;
    const unsigned r = static_cast<unsigned>(shift % MP_BITS_PER_DIGIT);
    if (k >= n) {
        mpSetZero(a, n);
        return 0;
    }
    const DIGIT_T out = r ? b[k] & ((DIGIT_T{1} << r) - 1) : 0;
    // Bottom up: every digit read lies at or above the one written.
    for (size_t i = 0; i < n; ++i) {
        if (i + k >= n) {
            a[i] = 0;
            continue;
        }
        DIGIT_T d = b[i + k] >> r;
        if (r && i + k + 1 < n)
            d |= b[i + k + 1] << (MP_BITS_PER_DIGIT - r);
        a[i] = d;
    }
    return out;
}

extern "C" DIGIT_T mpAdd(DIGIT_T w[], const DIGIT_T u[], const DIGIT_T v[], size_t n)
{
    DIGIT_T carry = 0;
    for (size_t i = 0; i < n; ++i) {
        const DIGIT_T vi = v[i];
        DIGIT_T s = u[i] + carry;
        carry = s < carry ? 1 : 0;
        s += vi;
        carry += s < vi ? 1 : 0;
        w[i] = s;
    }
    return carry;
}

extern "C" DIGIT_T mpSubtract(DIGIT_T w[], const DIGIT_T u[], const DIGIT_T v[], size_t n)
{
    DIGIT_T borrow = 0;
    for (size_t i = 0; i < n; ++i) {
        const DIGIT_T ui = u[i], vi = v[i];
        const DIGIT_T d = ui - borrow;
        DIGIT_T next = d > ui ? 1 : 0;
        const DIGIT_T r = d - vi;
        next += r > d ? 1 : 0;
        w[i] = r;
        borrow = next;
    }
    return borrow;
}

extern "C" DIGIT_T mpShortAdd(DIGIT_T w[], const DIGIT_T u[], DIGIT_T d, size_t n)
{
    DIGIT_T carry = d;
    for (size_t i = 0; i < n; ++i) {
        const DIGIT_T s = u[i] + carry;
        carry = s < carry ? 1 : 0;
        w[i] = s;
    }
    return carry;
}

extern "C" DIGIT_T mpShortSub(DIGIT_T w[], const DIGIT_T u[], DIGIT_T d, size_t n)
{
    DIGIT_T borrow = d;
    for (size_t i = 0; i < n; ++i) {
        const DIGIT_T ui = u[i];
        w[i] = ui - borrow;
        borrow = ui < borrow ? 1 : 0;
    }
    return borrow;
}

extern "C" void mpXorBits(DIGIT_T a[], const DIGIT_T b[], const DIGIT_T c[], size_t n)
{
    for (size_t i = 0; i < n; ++i)
        a[i] = b[i] ^ c[i];
}

extern "C" int mpMultiply(DIGIT_T w[], const DIGIT_T u[], const DIGIT_T v[], size_t n)
{
    mpSetZero(w, 2 * n);
    for (size_t j = 0; j < n; ++j) {
        const DIGIT_T vj = v[j];
        if (vj == 0)
            continue;
        DIGIT_T k = 0;
        for (size_t i = 0; i < n; ++i) {
            DIGIT_T t[2];
            zkc::sp_multiply(t, u[i], vj);
            // t + k + w[i+j] < 2^64: the high digit cannot overflow.
            t[0] += k;
            if (t[0] < k)
                ++t[1];
            t[0] += w[i + j];
            if (t[0] < w[i + j])
                ++t[1];
            w[i + j] = t[0];
            k = t[1];
        }
        w[j + n] = k;
    }
    return 0;
}

extern "C" int mpIsNegative(const DIGIT_T a[], size_t n)
{
    if (n == 0)
        return 0;
    return (a[n - 1] >> (MP_BITS_PER_DIGIT - 1)) & 1u;
}

extern "C" void mpNegate(DIGIT_T a[], const DIGIT_T b[], size_t n)
{
    DIGIT_T carry = 1;
    for (size_t i = 0; i < n; ++i) {
        const DIGIT_T s = ~b[i] + carry;
        carry = (carry && s == 0) ? 1 : 0;
        a[i] = s;
    }
}

extern "C" void mpAbs(DIGIT_T a[], const DIGIT_T b[], size_t n)
{
    if (mpIsNegative(b, n))
        mpNegate(a, b, n);
    else
        mpSetEqual(a, b, n);
}

extern "C" size_t mpConvFromOctets(DIGIT_T a[], size_t n, const uint8_t *c, size_t nbytes)
{
    mpSetZero(a, n);
    // i counts from the least significant (last) octet.
    for (size_t i = 0; i < nbytes; ++i) {
        if (i / MP_BYTES_PER_DIGIT >= n)
            break;
        a[i / MP_BYTES_PER_DIGIT] |= DIGIT_T{c[nbytes - 1 - i]} << (8 * (i % MP_BYTES_PER_DIGIT));
    }
    const size_t used = (nbytes + MP_BYTES_PER_DIGIT - 1) / MP_BYTES_PER_DIGIT;
    return used < n ? used : n;
}

extern "C" size_t mpConvToOctets(const DIGIT_T a[], size_t n, uint8_t *c, size_t nbytes)
{
    for (size_t i = 0; i < nbytes; ++i) {
        uint8_t byte = 0;
        if (i / MP_BYTES_PER_DIGIT < n)
            byte = static_cast<uint8_t>(a[i / MP_BYTES_PER_DIGIT] >> (8 * (i % MP_BYTES_PER_DIGIT)));
        c[nbytes - 1 - i] = byte;
    }
    return (mpBitLength(a, n) + 7) / 8;
}
