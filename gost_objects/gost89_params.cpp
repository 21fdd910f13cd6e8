#include "gost89_params.h"

#include <openssl/asn1t.h>
#include <openssl/objects.h>

#include "gost_objects.h"
#include "oid_der.h"

ASN1_NDEF_SEQUENCE(ZKC_CIPHER_PARAMS) = {
    ASN1_SIMPLE(ZKC_CIPHER_PARAMS, iv, ASN1_OCTET_STRING),
    ASN1_SIMPLE(ZKC_CIPHER_PARAMS, enc_param_set, ASN1_OBJECT),
} ASN1_NDEF_SEQUENCE_END(ZKC_CIPHER_PARAMS)

IMPLEMENT_ASN1_FUNCTIONS(ZKC_CIPHER_PARAMS)

const GOST28147_89_PARAM *gost89_paramset_of_nid(int nid)
{
    if (nid == NID_undef)
        return nullptr;
    unsigned char der[16];
    // An OID whose content passes 14 bytes does not fit and counts as unknown.
    std::size_t len = oid_der_from_nid(nid, der, sizeof der);
    const GOST28147_89_PARAM *param = nullptr;
    if (len == 0 || GOST28147_89_FindParByDerOid(der, static_cast<uint32_t>(len), &param) != 0)
        return nullptr;
    return param;
}

const GOST28147_89_PARAM *gost89_paramset_by_name(const char *name)
{
    return gost89_paramset_of_nid(gost_txt2nid(name));
}
