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

// The parameters of a key's algorithm identifier, DER in a SEQUENCE string:
// the curve and the digest parameter set. nullptr when either NID has no
// object or memory runs out.
ASN1_STRING *gost_key_params_encode(int param_nid, int hash_params_nid);
// The curve's NID read from such a string (which must hold exactly one
// SEQUENCE); NID_undef when it is none.
int gost_key_params_decode(const ASN1_STRING *seq);

#endif
