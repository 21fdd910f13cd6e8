/* GOST R 34.11-2012 hash (RFC 6986) with 256- and 512-bit digests.
 *
 * Message and digest bytes are the little-endian encoding of the standard's
 * vectors (byte 0 holds the lowest 8 bits); the hexadecimal examples of RFC
 * 6986, printed most significant byte first, are these byte strings reversed.
 * The 512-bit values of the context are numbers of sixteen 32-bit digits of
 * the core's multiple-precision layer, least significant digit first.
 *
 * Codes: 0; -1 missing context; -2 missing data pointer with a non-zero
 * length, missing output, or a digest size that does not match the function.
 * No failure changes the context. */
#ifndef GOST_R3411_2012_H
#define GOST_R3411_2012_H

#include <stddef.h>
#include <stdint.h>

#include "zkc_bignum.h"

#ifdef __cplusplus
extern "C" {
#endif

#define GOSTR3411_2012_ERR_CONTEXT (-1)
#define GOSTR3411_2012_ERR_PARAM (-2)
#define GOSTR3411_2012_BLOCK_SIZE 64
#define GOSTR3411_2012_DIGITS 16

typedef struct GOSTR3411_2012_CTX {
    int digest_size;                      /* 32 or 64 bytes */
    uint8_t buffer[64];                   /* incomplete block, byte-reversed:
                                             message byte k at 63 - k */
    int count;                            /* bytes in buffer, 0..63 */
    DIGIT_T m[GOSTR3411_2012_DIGITS];     /* current block */
    DIGIT_T h[GOSTR3411_2012_DIGITS];     /* chaining value */
    DIGIT_T N[GOSTR3411_2012_DIGITS];     /* bits processed */
    DIGIT_T Sigma[GOSTR3411_2012_DIGITS]; /* sum mod 2^512 of the blocks */
} GOSTR3411_2012_CTX;

int GOSTR3411_2012_256_Init(GOSTR3411_2012_CTX *ctx);
int GOSTR3411_2012_512_Init(GOSTR3411_2012_CTX *ctx);
int GOSTR3411_2012_256_Update(GOSTR3411_2012_CTX *ctx, const uint8_t *data, size_t length);
int GOSTR3411_2012_512_Update(GOSTR3411_2012_CTX *ctx, const uint8_t *data, size_t length);
/* digest: 32 bytes. */
int GOSTR3411_2012_256_Final(GOSTR3411_2012_CTX *ctx, uint8_t *digest);
/* digest: 64 bytes. */
int GOSTR3411_2012_512_Final(GOSTR3411_2012_CTX *ctx, uint8_t *digest);

/* The shared workers (any digest size). */
int GOSTR3411_2012_Update(GOSTR3411_2012_CTX *ctx, const uint8_t *data, size_t length);
int GOSTR3411_2012_Final(GOSTR3411_2012_CTX *ctx, uint8_t *digest);

#ifdef __cplusplus
}
#endif

#endif /* GOST_R3411_2012_H */
