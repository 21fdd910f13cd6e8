// The engine's GOST 28147-89 ciphers and MAC: EVP records over the crypto
// core's GOST28147_89_CTX.
//
// "gost89" encrypts in CFB mode (ECB, CBC or counter on request, control
// ZKC_CIPHER_CTRL_SET_MODE), "gost89-cnt" in counter mode; both with the
// engine's default parameter set unless the AlgorithmIdentifier parameters
// or ZKC_CIPHER_CTRL_SET_PARAMSET name another. "gost-mac" is the 32-bit MAC
// as a digest whose key comes in through ZKC_MAC_CTRL_SET_KEY.
//
// The records live for the process (OpenSSL's name tables keep pointing at
// them); NULL when OpenSSL's NID of the algorithm is unknown or memory ran
// out.
#ifndef ZKC_GOST28147_H
#define ZKC_GOST28147_H

#include <openssl/asn1.h>
#include <openssl/evp.h>

#include "gost28147_89.h"
#include "gost89_params.h"

// Cipher controls (EVP_CIPHER_CTX_ctrl), beside EVP_CTRL_RAND_KEY and
// EVP_CTRL_PBE_PRF_NID. "gost89-cnt" answers only the first of these.
#define ZKC_CIPHER_CTRL_SET_PARAMSET 0x1001  // arg: NID of the parameter set
#define ZKC_CIPHER_CTRL_SET_MODE 0x1002      // arg: a ZKC_CIPHER_MODE_* value
#define ZKC_CIPHER_CTRL_GET_MODE 0x1003      // ptr: int receiving the mode

// Mode numbers of the cipher controls (not the core's mode codes).
#define ZKC_CIPHER_MODE_ECB 1
#define ZKC_CIPHER_MODE_CBC 2
#define ZKC_CIPHER_MODE_CFB 3
#define ZKC_CIPHER_MODE_CNT 4

// MAC controls (EVP_MD_CTX_ctrl).
#define ZKC_MAC_CTRL_SET_PARAMSET (EVP_MD_CTRL_ALG_CTRL + 1)  // p1: parameter-set NID
#define ZKC_MAC_CTRL_SET_IV (EVP_MD_CTRL_ALG_CTRL + 2)        // p2: 8 bytes
#define ZKC_MAC_CTRL_KEY_LEN (EVP_MD_CTRL_ALG_CTRL + 3)       // p2: int receiving 32
#define ZKC_MAC_CTRL_SET_KEY (EVP_MD_CTRL_ALG_CTRL + 4)       // p1: 32, p2: the key

#define ZKC_GOST_MAC_LEN 4

// Context data of both ciphers and of the MAC.
struct zkc_cipher_ctx {
    GOST28147_89_CTX core;          // the running cipher or MAC state
    int param_nid;                  // chosen parameter set; 0 = engine default
    unsigned char key[GOST28147_89_KEY_SIZE];  // last key given (for re-initialisation)
    int key_set;                    // 1 after a keyed initialisation
    int mode;                       // core mode code chosen by control; 0 = CFB
};

// The cipher parameters of an AlgorithmIdentifier: ZKC_CIPHER_PARAMS
// (gost89_params.h).

const EVP_CIPHER *zkc_gost89_cipher(void);
const EVP_CIPHER *zkc_gost89_cnt_cipher(void);
const EVP_MD *zkc_gost_mac_digest(void);

#endif
