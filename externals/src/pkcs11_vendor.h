// PKCS#11 types and standard constants (p11-kit's header), plus the
// vendor-defined values for GOST R 34.10-2012 with 512-bit keys.
#ifndef PKCS11_VENDOR_H
#define PKCS11_VENDOR_H

#include <p11-kit/pkcs11.h>

#ifndef CKA_GOSTR3411_PARAMS
#define CKA_GOSTR3411_PARAMS 0x251UL
#endif

#define CKK_GOSTR3410_512 0xD4321003UL
#define CKM_GOSTR3410_512_KEY_PAIR_GEN 0xD4321005UL
#define CKM_GOSTR3410_512 0xD4321006UL
#define CKM_GOSTR3410_12_DERIVE 0xD4321007UL

#endif
