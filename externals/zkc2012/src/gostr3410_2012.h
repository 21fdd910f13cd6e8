/* GOST R 34.10-2001 / 34.10-2012 elliptic-curve core: the built-in curves,
 * key loading and unloading, public-key generation and checks.
 *
 * Curves are short Weierstrass curves y^2 = x^3 + ax + b over GF(p). Numbers
 * are digit arrays of the multiple-precision layer (zkc_bignum.h): 9 digits for
 * 256-bit curves, 17 for 512-bit ones (one spare digit for signed use). An
 * affine point is x followed by y; (0, 0) is the point at infinity.
 *
 * Byte encodings (n = 32 or 64): a private key is n bytes little-endian; a
 * public key is 2n bytes, x little-endian then y little-endian.
 *
 * Codes: 0 success, -1 invalid key or curve not found, -2 bad parameters.
 * Messages go to the core diagnostic stream (zkc_diag.h). */
#ifndef GOSTR3410_2012_H
#define GOSTR3410_2012_H

#include <stddef.h>
#include <stdint.h>

#include "zkc_bignum.h"

#ifdef __cplusplus
extern "C" {
#endif

#define GOSTR3410_2012_256_DIGITS 9
#define GOSTR3410_2012_512_DIGITS 17
#define GOSTR3410_2012_256_KEY_BYTES 32
#define GOSTR3410_2012_512_KEY_BYTES 64
/* Fixed-base tables: point k is 16^k times the base point. */
#define GOSTR3410_2012_256_PRECOMP_POINTS 72
#define GOSTR3410_2012_512_PRECOMP_POINTS 136

typedef struct {
    DIGIT_T x[GOSTR3410_2012_256_DIGITS];
    DIGIT_T y[GOSTR3410_2012_256_DIGITS];
} GOSTR3410_2012_256_POINT;

typedef struct {
    DIGIT_T x[GOSTR3410_2012_512_DIGITS];
    DIGIT_T y[GOSTR3410_2012_512_DIGITS];
} GOSTR3410_2012_512_POINT;

/* One 256-bit curve: its constants, its identification under GOST R
 * 34.10-2012 and GOST R 34.10-2001 (the same OID for both), and the
 * fixed-base table when `precomputed` is 1. */
typedef struct {
    DIGIT_T a[GOSTR3410_2012_256_DIGITS];
    DIGIT_T b[GOSTR3410_2012_256_DIGITS];
    DIGIT_T p[GOSTR3410_2012_256_DIGITS]; /* field prime */
    DIGIT_T q[GOSTR3410_2012_256_DIGITS]; /* order of the base point */
    DIGIT_T x[GOSTR3410_2012_256_DIGITS]; /* base point */
    DIGIT_T y[GOSTR3410_2012_256_DIGITS];
    uint32_t der_len;        /* DER of the OID: tag, length and content */
    const uint8_t *der;
    const char *oid;         /* dotted text */
    const char *name;        /* GOST R 34.10-2012 name */
    uint32_t der_len_2001;
    const uint8_t *der_2001;
    const char *oid_2001;
    const char *name_2001;   /* GOST R 34.10-2001 name */
    int precomputed;
    GOSTR3410_2012_256_POINT points[GOSTR3410_2012_256_PRECOMP_POINTS];
} GOSTR3410_2012_256_PARAMS;

/* One 512-bit curve (GOST R 34.10-2012 only). */
typedef struct {
    DIGIT_T a[GOSTR3410_2012_512_DIGITS];
    DIGIT_T b[GOSTR3410_2012_512_DIGITS];
    DIGIT_T p[GOSTR3410_2012_512_DIGITS];
    DIGIT_T q[GOSTR3410_2012_512_DIGITS];
    DIGIT_T x[GOSTR3410_2012_512_DIGITS];
    DIGIT_T y[GOSTR3410_2012_512_DIGITS];
    uint32_t der_len;
    const uint8_t *der;
    const char *oid;
    const char *name;
    int precomputed;
    GOSTR3410_2012_512_POINT points[GOSTR3410_2012_512_PRECOMP_POINTS];
} GOSTR3410_2012_512_PARAMS;

/* The built-in curves (constant records). */
extern const GOSTR3410_2012_256_PARAMS gostr3410_2012_256_test;           /* 1.2.643.2.2.35.0 */
extern const GOSTR3410_2012_256_PARAMS gostr3410_2012_256_cryptopro_a;    /* 1.2.643.2.2.35.1 */
extern const GOSTR3410_2012_256_PARAMS gostr3410_2012_256_cryptopro_b;    /* 1.2.643.2.2.35.2 */
extern const GOSTR3410_2012_256_PARAMS gostr3410_2012_256_cryptopro_c;    /* 1.2.643.2.2.35.3 */
extern const GOSTR3410_2012_256_PARAMS gostr3410_2012_256_cryptopro_xcha; /* 1.2.643.2.2.36.0 */
extern const GOSTR3410_2012_256_PARAMS gostr3410_2012_256_cryptopro_xchb; /* 1.2.643.2.2.36.1 */
extern const GOSTR3410_2012_512_PARAMS gostr3410_2012_512_test;           /* 1.2.643.7.1.2.1.2.0 */
extern const GOSTR3410_2012_512_PARAMS gostr3410_2012_512_a;              /* 1.2.643.7.1.2.1.2.1 */
extern const GOSTR3410_2012_512_PARAMS gostr3410_2012_512_b;              /* 1.2.643.7.1.2.1.2.2 */
/* The twisted Edwards curves of RFC 7836 in Weierstrass form (cofactor 4). */
extern const GOSTR3410_2012_256_PARAMS gostr3410_2012_256_tc26_a;         /* 1.2.643.7.1.2.1.1.1 */
extern const GOSTR3410_2012_512_PARAMS gostr3410_2012_512_tc26_c;         /* 1.2.643.7.1.2.1.2.3 */

/* Enumeration of the built-in curves in table order; NULL past the end.
 * GetParSet and FindParByDerOid know the CryptoPro and TC26 sets above;
 * GetCurve and FindCurveByDerOid the RFC 7836 sets too (after the others). */
const GOSTR3410_2012_256_PARAMS *GOSTR3410_2012_256_GetParSet(size_t index);
const GOSTR3410_2012_512_PARAMS *GOSTR3410_2012_512_GetParSet(size_t index);
const GOSTR3410_2012_256_PARAMS *GOSTR3410_2012_256_GetCurve(size_t index);
const GOSTR3410_2012_512_PARAMS *GOSTR3410_2012_512_GetCurve(size_t index);
int GOSTR3410_2012_256_FindCurveByDerOid(const uint8_t *der, uint32_t der_len,
                                         const GOSTR3410_2012_256_PARAMS **params);
int GOSTR3410_2012_512_FindCurveByDerOid(const uint8_t *der, uint32_t der_len,
                                         const GOSTR3410_2012_512_PARAMS **params);

/* Curve lookup by the DER of its OID (06 len content). 0 and *params set on a
 * match; -1 and *params = NULL otherwise; -2 when params is NULL. The 256-bit
 * search compares the GOST R 34.10-2001 OID of every record first, then the
 * GOST R 34.10-2012 one. */
int GOSTR3410_2012_256_FindParByDerOid(const uint8_t *der, uint32_t der_len,
                                       const GOSTR3410_2012_256_PARAMS **params);
int GOSTR3410_2012_512_FindParByDerOid(const uint8_t *der, uint32_t der_len,
                                       const GOSTR3410_2012_512_PARAMS **params);

/* Little-endian private-key bytes to a number. */
int GOSTR3410_2012_256_LoadPrivateKeyValue(const uint8_t key[GOSTR3410_2012_256_KEY_BYTES],
                                           DIGIT_T d[GOSTR3410_2012_256_DIGITS]);
int GOSTR3410_2012_512_LoadPrivateKeyValue(const uint8_t key[GOSTR3410_2012_512_KEY_BYTES],
                                           DIGIT_T d[GOSTR3410_2012_512_DIGITS]);

/* Q := d times the base point (fixed-base tables when the record has them),
 * then the public-key check of Q: d = 0 gives (0, 0) and -1. */
int GOSTR3410_2012_256_GeneratePublicKey(const GOSTR3410_2012_256_PARAMS *params,
                                         const DIGIT_T d[GOSTR3410_2012_256_DIGITS],
                                         GOSTR3410_2012_256_POINT *Q);
int GOSTR3410_2012_512_GeneratePublicKey(const GOSTR3410_2012_512_PARAMS *params,
                                         const DIGIT_T d[GOSTR3410_2012_512_DIGITS],
                                         GOSTR3410_2012_512_POINT *Q);

/* Curve-equation check of a public point: 0 on the curve, -1 ("Invalid public
 * key") otherwise, -2 for missing arguments. */
int ecCheckPuKey(const GOSTR3410_2012_256_PARAMS *params, const GOSTR3410_2012_256_POINT *Q);
int GOSTR3410_2012_512_CheckPublicKey(const GOSTR3410_2012_512_PARAMS *params,
                                      const GOSTR3410_2012_512_POINT *Q);

/* A point to its 2n-byte encoding: x little-endian, then y little-endian. */
int GOSTR3410_2012_256_UnloadPublicKeyValue(const GOSTR3410_2012_256_POINT *Q,
                                            uint8_t out[2 * GOSTR3410_2012_256_KEY_BYTES]);
int GOSTR3410_2012_512_UnloadPublicKeyValue(const GOSTR3410_2012_512_POINT *Q,
                                            uint8_t out[2 * GOSTR3410_2012_512_KEY_BYTES]);

/* Affine scalar multiplication (right-to-left double-and-add): out := k * P.
 * The scalar is taken by absolute value (top bit as sign); a zero scalar or
 * P = (0, 0) gives (0, 0). 0, or -1 for missing arguments. */
int epMult(GOSTR3410_2012_256_POINT *out, const GOSTR3410_2012_256_POINT *P,
           const DIGIT_T k[GOSTR3410_2012_256_DIGITS], const GOSTR3410_2012_256_PARAMS *params);
int depMult(GOSTR3410_2012_512_POINT *out, const GOSTR3410_2012_512_POINT *P,
            const DIGIT_T k[GOSTR3410_2012_512_DIGITS], const GOSTR3410_2012_512_PARAMS *params);

/* Affine point addition on a curve: out := P1 + P2 (coordinates taken mod p).
 * 0, or -2 for missing arguments. */
int GOSTR3410_2012_256_AddPoints(GOSTR3410_2012_256_POINT *out, const GOSTR3410_2012_256_POINT *P1,
                                 const GOSTR3410_2012_256_POINT *P2,
                                 const GOSTR3410_2012_256_PARAMS *params);
int GOSTR3410_2012_512_AddPoints(GOSTR3410_2012_512_POINT *out, const GOSTR3410_2012_512_POINT *P1,
                                 const GOSTR3410_2012_512_POINT *P2,
                                 const GOSTR3410_2012_512_PARAMS *params);

/* Whether a public value is a point of the subgroup of order q: on the curve,
 * not infinity, and q Q = infinity (a test that matters on the curves with a
 * cofactor). Variable time: for public points only. 0 when it is, -1 when
 * not, -2 for missing arguments. */
int GOSTR3410_2012_256_CheckPublicKeyOrder(const GOSTR3410_2012_256_PARAMS *params, const GOSTR3410_2012_256_POINT *Q);
int GOSTR3410_2012_512_CheckPublicKeyOrder(const GOSTR3410_2012_512_PARAMS *params, const GOSTR3410_2012_512_POINT *Q);

/* Signing, verification and key agreement, constant-time in the private key,
 * the nonce and the agreement scalar.
 *
 * Numbers: e is the digest read as a number (GOST R 34.10-2012, 6.1: alpha),
 * reduced mod q here, with 0 taken as 1; r and s are the two halves of the
 * signature, each below q.
 *
 * The core has no random source: signing asks `random` for candidate nonce
 * bytes (little-endian, bits above the width of q ignored) and keeps the first
 * candidate in [1, q-1], so the nonce is uniform there. `random` returns 1 when
 * it filled the buffer, 0 on failure.
 *
 * Sign: 0 and (r, s); -1 when d is outside [1, q-1]; -2 for missing
 * arguments, a failing random source or no usable nonce after 256 candidates.
 * Verify: 0 for a valid signature by Q; -1 otherwise (r or s outside
 * [1, q-1], Q not on the curve, mismatch); -2 for missing arguments.
 * Vko (RFC 7836, 4.3): K := (h UKM d mod q) Q with h the cofactor; 0; -1
 * when d is outside [1, q-1], UKM is 0 mod q, or Q is not a point of order q;
 * -2 for missing arguments. */
typedef int (*GOSTR3410_2012_RANDOM_FN)(void *ctx, uint8_t *buf, size_t len);

int GOSTR3410_2012_256_Sign(const GOSTR3410_2012_256_PARAMS *params, const DIGIT_T d[GOSTR3410_2012_256_DIGITS],
                            const DIGIT_T e[GOSTR3410_2012_256_DIGITS], GOSTR3410_2012_RANDOM_FN random,
                            void *random_ctx, DIGIT_T r[GOSTR3410_2012_256_DIGITS],
                            DIGIT_T s[GOSTR3410_2012_256_DIGITS]);
int GOSTR3410_2012_512_Sign(const GOSTR3410_2012_512_PARAMS *params, const DIGIT_T d[GOSTR3410_2012_512_DIGITS],
                            const DIGIT_T e[GOSTR3410_2012_512_DIGITS], GOSTR3410_2012_RANDOM_FN random,
                            void *random_ctx, DIGIT_T r[GOSTR3410_2012_512_DIGITS],
                            DIGIT_T s[GOSTR3410_2012_512_DIGITS]);
int GOSTR3410_2012_256_Verify(const GOSTR3410_2012_256_PARAMS *params, const GOSTR3410_2012_256_POINT *Q,
                              const DIGIT_T e[GOSTR3410_2012_256_DIGITS], const DIGIT_T r[GOSTR3410_2012_256_DIGITS],
                              const DIGIT_T s[GOSTR3410_2012_256_DIGITS]);
int GOSTR3410_2012_512_Verify(const GOSTR3410_2012_512_PARAMS *params, const GOSTR3410_2012_512_POINT *Q,
                              const DIGIT_T e[GOSTR3410_2012_512_DIGITS], const DIGIT_T r[GOSTR3410_2012_512_DIGITS],
                              const DIGIT_T s[GOSTR3410_2012_512_DIGITS]);
int GOSTR3410_2012_256_Vko(const GOSTR3410_2012_256_PARAMS *params, const DIGIT_T d[GOSTR3410_2012_256_DIGITS],
                           const GOSTR3410_2012_256_POINT *Q, const DIGIT_T ukm[GOSTR3410_2012_256_DIGITS],
                           GOSTR3410_2012_256_POINT *K);
int GOSTR3410_2012_512_Vko(const GOSTR3410_2012_512_PARAMS *params, const DIGIT_T d[GOSTR3410_2012_512_DIGITS],
                           const GOSTR3410_2012_512_POINT *Q, const DIGIT_T ukm[GOSTR3410_2012_512_DIGITS],
                           GOSTR3410_2012_512_POINT *K);

#ifdef __cplusplus
}
#endif

#endif /* GOSTR3410_2012_H */
