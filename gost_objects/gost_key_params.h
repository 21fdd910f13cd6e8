// The parameters of a GOST public-key algorithm identifier
// (GostR3410-2001-PublicKeyParameters, used unchanged for 2012 keys):
//   SEQUENCE { key_params OID, hash_params OID OPTIONAL, cipher_params OID OPTIONAL }
// hash_params is always written; it is optional on reading because the
// current X.509 profile omits it for 512-bit keys. cipher_params is never
// written and is ignored on reading.
#ifndef GOST_KEY_PARAMS_H
#define GOST_KEY_PARAMS_H

#include <openssl/asn1.h>
#include <openssl/asn1t.h>

struct ZKC_GOST2012_KEY_PARAMS {
    ASN1_OBJECT *key_params;
    ASN1_OBJECT *hash_params;
    ASN1_OBJECT *cipher_params;
};

DECLARE_ASN1_FUNCTIONS(ZKC_GOST2012_KEY_PARAMS)

#endif
