// The engine's GOST hash digests: "md_gost94" (GOST R 34.11-94 with the
// CryptoPro parameter set), "gost3411-2012-256" and "gost3411-2012-512"
// (GOST R 34.11-2012): EVP records over the crypto core's hash contexts, with
// the copy function HMAC and PBKDF2 need.
//
// The records live for the process (OpenSSL's name tables keep pointing at
// them); NULL when OpenSSL's NID of the algorithm is unknown or memory ran
// out.
#ifndef ZKC_GOST3411_2012_H
#define ZKC_GOST3411_2012_H

#include <openssl/types.h>

const EVP_MD *zkc_gost94_digest(void);
const EVP_MD *zkc_gost2012_256_digest(void);
const EVP_MD *zkc_gost2012_512_digest(void);

#endif
