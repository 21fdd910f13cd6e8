/* GOST R 34.11-94 hash (RFC 5831) over the GOST 28147-89 core, with the test
 * and CryptoPro parameter sets (RFC 4357).
 *
 * Message and digest bytes are the little-endian encoding of the standard's
 * vectors: byte 0 holds the lowest 8 bits. The hexadecimal examples of RFC
 * 5831, printed most significant byte first, are these byte strings reversed.
 *
 * Functions return 0, -2 for bad parameters or -3001 for an unsupported
 * parameter-set OID. */
#ifndef GOST_R3411_94_H
#define GOST_R3411_94_H

#include <stddef.h>
#include <stdint.h>

#include "gost28147_89.h"

#ifdef __cplusplus
extern "C" {
#endif

#define GOSTR3411_94_ERR_PARAM (-2)
#define GOSTR3411_94_ERR_OID (-3001)
#define GOSTR3411_94_DIGEST_SIZE 32
#define GOSTR3411_94_BLOCK_SIZE 32

typedef struct GOSTR3411_94_CTX {
    GOST28147_89_EXP_TABLE table; /* copied from the parameter set at Init */
    uint32_t sigma[8];            /* sum mod 2^256 of the message blocks */
    uint32_t h[8];                /* chaining value */
    uint32_t length[8];           /* bits processed; the low 64 bits count */
    uint8_t buffer[32];           /* incomplete block */
    int count;                    /* bytes in buffer, 0..32 */
} GOSTR3411_94_CTX;

typedef struct GOSTR3411_94_PARAM {
    uint32_t der_len;   /* whole DER encoding */
    const uint8_t *der; /* DER OBJECT IDENTIFIER */
    const char *oid;    /* dotted text */
    const char *name;
    const GOST28147_89_EXP_TABLE *table;
} GOSTR3411_94_PARAM;

/* The expanded S-box tables of the two built-in sets. */
extern const GOST28147_89_EXP_TABLE GOSTR3411_94_TABLE_TEST;
extern const GOST28147_89_EXP_TABLE GOSTR3411_94_TABLE_CRYPTOPRO;
/* Their S-boxes, packed as in the parameter-set OCTET STRINGs. */
extern const uint8_t GOSTR3411_94_SBOX_TEST[64];
extern const uint8_t GOSTR3411_94_SBOX_CRYPTOPRO[64];

/* The built-in sets in search order: the test set (1.2.643.2.2.30.0), then the
 * CryptoPro set (1.2.643.2.2.30.1). */
extern const GOSTR3411_94_PARAM GOSTR3411_94_BUILTIN_PARAMS[2];

/* The default parameter set: CryptoPro. */
const GOSTR3411_94_PARAM *GOSTR3411_94_DefaultParam(void);

int GOSTR3411_94_Init_ex(GOSTR3411_94_CTX *ctx, const GOST28147_89_EXP_TABLE *table);
/* Chooses a set by DER OID among the built-in ones, then among the n_more sets
 * in more (may be NULL), and runs GOSTR3411_94_Init_ex with its table. */
int GOSTR3411_94_Init_more_par(GOSTR3411_94_CTX *ctx, const uint8_t *der, uint32_t der_len,
                               const GOSTR3411_94_PARAM *more, uint32_t n_more);
int GOSTR3411_94_Update(GOSTR3411_94_CTX *ctx, const uint8_t *data, size_t length);
int GOSTR3411_94_Final(GOSTR3411_94_CTX *ctx, uint8_t *digest);

#ifdef __cplusplus
}
#endif

#endif /* GOST_R3411_94_H */
