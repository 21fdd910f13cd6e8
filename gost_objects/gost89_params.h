// GOST 28147-89 parameters as both the engine and the provider use them: the
// AlgorithmIdentifier parameters of the ciphers (Gost28147-89-Parameters of
// RFC 4357) and the crypto core's parameter set named by an OpenSSL NID.
#ifndef GOST89_PARAMS_H
#define GOST89_PARAMS_H

#include <cstddef>

#include <openssl/asn1.h>

#include "gost28147_89.h"

#define ZKC_GOST89_IV_LEN 8

// SEQUENCE { iv OCTET STRING (8 bytes), encryptionParamSet OBJECT IDENTIFIER }.
struct ZKC_CIPHER_PARAMS {
    ASN1_OCTET_STRING *iv;
    ASN1_OBJECT *enc_param_set;
};
DECLARE_ASN1_FUNCTIONS(ZKC_CIPHER_PARAMS)

// The core's parameter set of an OID; nullptr when there is no object, its
// DER does not fit 16 bytes or the core does not know it.
const GOST28147_89_PARAM *gost89_paramset_of_object(const ASN1_OBJECT *obj);
// The same for the object a NID stands for.
const GOST28147_89_PARAM *gost89_paramset_of_nid(int nid);

// The same for a set named by a short or long name or dotted OID text.
const GOST28147_89_PARAM *gost89_paramset_by_name(const char *name);

#endif
