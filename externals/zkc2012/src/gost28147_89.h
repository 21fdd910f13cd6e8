/* GOST 28147-89 block cipher: five modes over one caller-owned context,
 * CryptoPro key meshing, CryptoPro KEK diversification and the registry of
 * parameter sets.
 *
 * Byte order: every 32-bit quantity is read little-endian. Key word Ki is key
 * bytes 4i..4i+3; a block's first half N1 is bytes 0-3, its second half N2
 * bytes 4-7; the IV, the counter state and the MAC register likewise.
 *
 * Every function returns 0 on success or one of the negative codes below. */
#ifndef GOST28147_89_H
#define GOST28147_89_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes. */
#define GOST28147_89_OK 0
#define GOST28147_89_ERR_TABLE (-1)        /* table not ready; set not found */
#define GOST28147_89_ERR_PARAM (-2)        /* missing context, data or pointer */
#define GOST28147_89_ERR_LENGTH (-4)       /* zero length or output too small */
#define GOST28147_89_ERR_BLOCK (-6)        /* length not a multiple of 8 */
#define GOST28147_89_ERR_NOT_INIT (-152)   /* context not initialised */
#define GOST28147_89_ERR_NO_DATA (-153)    /* Final on a context that saw no data */
#define GOST28147_89_ERR_MODE (-1102)      /* unsupported mode code */

/* Mode codes. */
#define GOST28147_89_MODE_ECB 1
#define GOST28147_89_MODE_CFB 2
#define GOST28147_89_MODE_CNT 3
#define GOST28147_89_MODE_CBC 4
#define GOST28147_89_MODE_MAC 5

/* Context flags. */
#define GOST28147_89_FLAG_FIRST_BLOCK 0x01
#define GOST28147_89_FLAG_LAST_BLOCK 0x02

#define GOST28147_89_BLOCK_SIZE 8
#define GOST28147_89_KEY_SIZE 32
#define GOST28147_89_MAC_SIZE 4
/* Key meshing happens every this many processed bytes. */
#define GOST28147_89_MESH_INTERVAL 1024

/* Length-and-pointer pair. For input: the bytes and their number. For output:
 * on entry the capacity, on return the number of bytes written (or, for a
 * size query, the number needed). */
typedef struct GOST_DATA_BLOB {
    uint32_t cbData;
    uint8_t *pbData;
} GOST_DATA_BLOB;

/* Expanded substitution table: with S1..S8 the eight 4-bit S-boxes (S1 on the
 * lowest nibble), Tj[x] = rotl32(((S(2j+2)[x >> 4] << 4) | S(2j+1)[x & 15]) << 8j, 11),
 * so that the round function is
 * f(x) = T0[x & 0xFF] ^ T1[(x >> 8) & 0xFF] ^ T2[(x >> 16) & 0xFF] ^ T3[x >> 24].
 * ready is 1 in every usable table; a context whose table is not ready refuses
 * all work with -1. */
typedef struct GOST28147_89_EXP_TABLE {
    uint32_t T[4][256];
    uint32_t ready;
} GOST28147_89_EXP_TABLE;

typedef struct GOST28147_89_CTX {
    GOST28147_89_EXP_TABLE table; /* copied in by Init */
    int mode;                     /* mode code */
    int reserved1;                /* always 0 */
    int key_meshing;              /* 1 = CryptoPro key meshing */
    int reserved2;                /* always 0 */
    uint8_t key[32];              /* K0..K7 */
    uint8_t iv[8];                /* IV, then CBC chain / CFB feedback / counter */
    int mesh_count;               /* bytes processed since the last meshing */
    uint8_t partial[8];           /* held-back bytes, or the last gamma block */
    uint8_t mac[8];               /* MAC register; the MAC is its first 4 bytes */
    int held;                     /* held-back bytes, or gamma bytes left */
    uint8_t initialised;          /* 1 from Init until Final */
    uint8_t encrypt;              /* 1 encrypt, 0 decrypt */
    uint8_t flags;                /* GOST28147_89_FLAG_* */
    uint8_t reserved3;
} GOST28147_89_CTX;

/* One registered parameter set. default_mode is registry data only: callers
 * choose the mode. */
typedef struct GOST28147_89_PARAM {
    uint32_t der_len;                    /* whole DER encoding, tag and length included */
    const uint8_t *der;                  /* DER OBJECT IDENTIFIER */
    const char *oid;                     /* dotted text */
    const char *name;
    const GOST28147_89_EXP_TABLE *table;
    uint8_t default_mode;
    uint8_t key_meshing;                 /* 1 or 0 */
    uint8_t reserved[2];
    struct GOST28147_89_PARAM *next;     /* next registered set */
} GOST28147_89_PARAM;

/* The six expanded tables of the registered sets. */
extern const GOST28147_89_EXP_TABLE GOST28147_89_TABLE_TEST;
extern const GOST28147_89_EXP_TABLE GOST28147_89_TABLE_CRYPTOPRO_A;
extern const GOST28147_89_EXP_TABLE GOST28147_89_TABLE_CRYPTOPRO_B;
extern const GOST28147_89_EXP_TABLE GOST28147_89_TABLE_CRYPTOPRO_C;
extern const GOST28147_89_EXP_TABLE GOST28147_89_TABLE_CRYPTOPRO_D;
extern const GOST28147_89_EXP_TABLE GOST28147_89_TABLE_Z;

/* The S-boxes behind those tables, packed as in the parameter-set OCTET
 * STRINGs: byte 4r + j = (S(2j+1)[r] << 4) | S(2j+2)[r]. */
extern const uint8_t GOST28147_89_SBOX_TEST[64];
extern const uint8_t GOST28147_89_SBOX_CRYPTOPRO_A[64];
extern const uint8_t GOST28147_89_SBOX_CRYPTOPRO_B[64];
extern const uint8_t GOST28147_89_SBOX_CRYPTOPRO_C[64];
extern const uint8_t GOST28147_89_SBOX_CRYPTOPRO_D[64];
extern const uint8_t GOST28147_89_SBOX_Z[64];

/* Prepares ctx. table and key_meshing come from a GOST28147_89_PARAM; iv (8
 * bytes) may be NULL; key is 32 bytes. The mode is not validated here: an
 * unsupported code fails with -1102 at the first block to process. */
int GOST28147_89_Init(GOST28147_89_CTX *ctx, int encrypt, const GOST28147_89_EXP_TABLE *table,
                      int mode, int reserved1, int key_meshing, int reserved2,
                      const uint8_t *iv, const uint8_t *key);

/* Processes data. out may be NULL in MAC mode only. In ECB and CBC mode an
 * out->pbData of NULL is a size query. */
int GOST28147_89_Update(GOST28147_89_CTX *ctx, const GOST_DATA_BLOB *in, GOST_DATA_BLOB *out);

/* Finishes the stream; in MAC mode the MAC is then the first 4 bytes of ctx->mac. */
int GOST28147_89_Final(GOST28147_89_CTX *ctx);

/* CryptoPro KEK diversification: out (32 bytes) := KEK(UKM), computed with the
 * given table. */
int GOST28147_89_KDF(const GOST28147_89_EXP_TABLE *table, const uint8_t *kek,
                     const uint8_t *ukm, uint8_t *out);

/* Looks a parameter set up by its DER OBJECT IDENTIFIER; *param is NULL on failure. */
int GOST28147_89_FindParByDerOid(const uint8_t *der, uint32_t der_len,
                                 const GOST28147_89_PARAM **param);

/* Links the eleven built-in sets into the registry (run by the first lookup). */
int GOST28147_89_RegisterCryptoProPar(void);

/* Block-level functions used by Update, Final, key meshing and the KDF. key is
 * the 32-byte key; iv the 8-byte register they advance. */
int ZKC_Gost_SS_m(GOST28147_89_CTX *ctx, const GOST_DATA_BLOB *in, GOST_DATA_BLOB *out,
                  const uint8_t *key, int encrypt);
int ZKC_Gost_GFB_m(GOST28147_89_CTX *ctx, const GOST_DATA_BLOB *in, GOST_DATA_BLOB *out,
                   uint8_t *iv, const uint8_t *key, int encrypt, int flags);
int ZKC_Gost_CNT_m(GOST28147_89_CTX *ctx, const GOST_DATA_BLOB *in, GOST_DATA_BLOB *out,
                   uint8_t *iv, const uint8_t *key, int flags);
int ZKC_Gost_CBC_m(GOST28147_89_CTX *ctx, const GOST_DATA_BLOB *in, GOST_DATA_BLOB *out,
                   uint8_t *iv, const uint8_t *key, int encrypt);
/* The MAC step over the context's register (buffering of partial blocks,
 * padding when the last-block flag is set). */
int ZKC_Gost_MAC_m(GOST28147_89_CTX *ctx, const GOST_DATA_BLOB *in);
/* Splits length into whole blocks and a tail; the tail (only allowed with the
 * last-block flag) is copied zero-padded into block8. */
int make_last_block(const uint8_t *data, uint32_t length, uint8_t *block8,
                    uint32_t *tail_len, uint32_t *blocks, int flags);

#ifdef __cplusplus
}
#endif

#endif /* GOST28147_89_H */
