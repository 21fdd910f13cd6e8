/* Fixed-length multiple-precision arithmetic of the crypto core.
 *
 * A number is an array of n 32-bit digits owned by the caller, least
 * significant digit first; n is passed to every operation and all operands of
 * one call share it unless a function says otherwise. Results go to
 * caller-supplied arrays, which may coincide with an operand unless noted.
 * For signed use a number is read as two's complement over its n digits
 * (sign = top bit of the top digit).
 *
 * The single-digit primitives build 64-bit products and quotients out of
 * 16-bit halves: nothing here relies on a double-width machine type.
 *
 * The operations that need working memory (modulo, modular multiplication,
 * modular inverse) take it from the heap, zero-filled, and wipe it before it is
 * freed. When that memory cannot be had the process ends: one line
 * "Arithmetic Error: Unable to allocate working memory for multiple-precision
 * arithmetic." on stderr, exit status 1. */
#ifndef ZKC_BIGNUM_H
#define ZKC_BIGNUM_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t DIGIT_T;

#define MP_BITS_PER_DIGIT 32
#define MP_BYTES_PER_DIGIT 4
#define MP_MAX_DIGIT 0xFFFFFFFFu
/* Largest n accepted by mpModAdd and mpModSub (their working space is fixed). */
#define MP_MODADD_MAX_DIGITS 32

/* --- single digits ------------------------------------------------------- */

/* p[1]:p[0] = x * y (64-bit product, from four 16x16-bit partial products). */
void spMultiply(DIGIT_T p[2], DIGIT_T x, DIGIT_T y);
/* q = (u[1]:u[0]) / v, returns the remainder. Needs u[1] < v (quotient fits a
 * digit); answers 0 with *q = MP_MAX_DIGIT for v = 0. */
DIGIT_T spDivide(DIGIT_T *q, const DIGIT_T u[2], DIGIT_T v);

/* --- plain operations ---------------------------------------------------- */

void mpSetZero(DIGIT_T a[], size_t n);
/* a := d (the other digits zero). */
void mpSetDigit(DIGIT_T a[], DIGIT_T d, size_t n);
/* a := b. */
void mpSetEqual(DIGIT_T a[], const DIGIT_T b[], size_t n);

/* 1 when a is zero, 0 otherwise, -1 when n is 0. */
int mpIsZero(const DIGIT_T a[], size_t n);
/* 1 when a = b, 0 otherwise, -1 when n is 0. */
int mpEqual(const DIGIT_T a[], const DIGIT_T b[], size_t n);
/* Unsigned comparison: 1 (a > b), 0 (equal) or -1 (a < b). */
int mpCompare(const DIGIT_T a[], const DIGIT_T b[], size_t n);

/* Position of the highest set bit plus one; 0 for zero. */
size_t mpBitLength(const DIGIT_T a[], size_t n);
/* Bit k of a: 1 or 0; -1 when k lies beyond n digits. */
int mpGetBit(const DIGIT_T a[], size_t n, size_t k);
/* Byte k of a (bits 8k..8k+7): 0..255; -1 when k lies beyond n digits. */
int mpGetByte(const DIGIT_T a[], size_t n, size_t k);
/* Sets byte k of a to value: 0, or -1 when k lies beyond n digits. */
int mpSetByte(DIGIT_T a[], size_t n, size_t k, uint8_t value);

/* a := b << shift (mod 2^(32n)). A shift of 32 or more moves whole digits and
 * then shifts by the rest (shift mod 32); the result is the bits that this last
 * smaller shift pushes out of the top digit (0 when the rest is 0). */
DIGIT_T mpShiftLeft(DIGIT_T a[], const DIGIT_T b[], size_t shift, size_t n);
/* a := b >> shift, the mirror of mpShiftLeft: the result is the bits pushed out
 * of the bottom digit by the smaller shift, in the low bits. */
DIGIT_T mpShiftRight(DIGIT_T a[], const DIGIT_T b[], size_t shift, size_t n);

/* w := u + v, returns the carry (0 or 1). */
DIGIT_T mpAdd(DIGIT_T w[], const DIGIT_T u[], const DIGIT_T v[], size_t n);
/* w := u - v, returns the borrow (0 or 1). */
DIGIT_T mpSubtract(DIGIT_T w[], const DIGIT_T u[], const DIGIT_T v[], size_t n);
/* w := u + d, returns the carry. */
DIGIT_T mpShortAdd(DIGIT_T w[], const DIGIT_T u[], DIGIT_T d, size_t n);
/* w := u - d, returns the borrow. */
DIGIT_T mpShortSub(DIGIT_T w[], const DIGIT_T u[], DIGIT_T d, size_t n);
/* a := b XOR c. */
void mpXorBits(DIGIT_T a[], const DIGIT_T b[], const DIGIT_T c[], size_t n);

/* w (2n digits) := u * v. w must not overlap u or v. Returns 0. */
int mpMultiply(DIGIT_T w[], const DIGIT_T u[], const DIGIT_T v[], size_t n);
/* q := u / d, returns the remainder (d = 0: q := all ones, returns 0). */
DIGIT_T mpShortDiv(DIGIT_T q[], const DIGIT_T u[], DIGIT_T d, size_t n);
/* Long division: q (nu digits) := u / v and r (nv digits) := u mod v, for u of
 * nu digits and v of nv digits. q and r must not overlap each other, u or v.
 * Returns 0, or -1 for a zero divisor (q and r then zero). */
int mpDivide(DIGIT_T q[], DIGIT_T r[], const DIGIT_T u[], size_t nu,
             const DIGIT_T v[], size_t nv);

/* 1 when the top bit of the top digit is set, 0 otherwise. */
int mpIsNegative(const DIGIT_T a[], size_t n);
/* a := -b (two's complement). */
void mpNegate(DIGIT_T a[], const DIGIT_T b[], size_t n);
/* a := |b| (two's complement). */
void mpAbs(DIGIT_T a[], const DIGIT_T b[], size_t n);

/* a := the big-endian octets c[0..nbytes); clears a first; when there are more
 * octets than fit, the leading ones are dropped. Returns the digits used. */
size_t mpConvFromOctets(DIGIT_T a[], size_t n, const uint8_t *c, size_t nbytes);
/* c[0..nbytes) := a as big-endian octets, left-padded with zeros (high bytes
 * that do not fit are dropped). Returns the number of significant bytes of a. */
size_t mpConvToOctets(const DIGIT_T a[], size_t n, uint8_t *c, size_t nbytes);

/* --- modular operations (modulus m of n digits) ------------------------- */

/* r (n digits) := u (nu digits) mod m. Returns 0, or -1 for m = 0. */
int mpModulo(DIGIT_T r[], const DIGIT_T u[], size_t nu, const DIGIT_T m[], size_t n);
/* a := x * y mod m. Returns 0, or -1 for m = 0. */
int mpModMult(DIGIT_T a[], const DIGIT_T x[], const DIGIT_T y[], const DIGIT_T m[], size_t n);
/* a := (x mod m + y mod m) mod m. Returns 0, or -1 for m = 0 or n outside
 * 1..MP_MODADD_MAX_DIGITS. */
int mpModAdd(DIGIT_T a[], const DIGIT_T x[], const DIGIT_T y[], const DIGIT_T m[], size_t n);
/* a := (x mod m - y mod m) mod m. Same returns as mpModAdd. */
int mpModSub(DIGIT_T a[], const DIGIT_T x[], const DIGIT_T y[], const DIGIT_T m[], size_t n);
/* inv := u^-1 mod m. Returns 0 when gcd(u, m) = 1; otherwise non-zero with
 * inv := 0. */
int mpModInv(DIGIT_T inv[], const DIGIT_T u[], const DIGIT_T m[], size_t n);

#ifdef __cplusplus
}
#endif

#endif /* ZKC_BIGNUM_H */
