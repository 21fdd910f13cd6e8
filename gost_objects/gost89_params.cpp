#include "gost89_params.h"

#include <openssl/asn1t.h>
#include <openssl/objects.h>

#include "gost_objects.h"

ASN1_NDEF_SEQUENCE(ZKC_CIPHER_PARAMS) = {
    ASN1_SIMPLE(ZKC_CIPHER_PARAMS, iv, ASN1_OCTET_STRING),
    ASN1_SIMPLE(ZKC_CIPHER_PARAMS, enc_param_set, ASN1_OBJECT),
} ASN1_NDEF_SEQUENCE_END(ZKC_CIPHER_PARAMS)

IMPLEMENT_ASN1_FUNCTIONS(ZKC_CIPHER_PARAMS)

const GOST28147_89_PARAM *gost89_paramset_of_object(const ASN1_OBJECT *obj)
{
    // An OID whose DER passes 16 bytes (content over 14) counts as unknown.
    unsigned char der[16];
    int len = obj != nullptr ? i2d_ASN1_OBJECT(obj, nullptr) : 0;
    if (len <= 0 || len > static_cast<int>(sizeof der))
        return nullptr;
    unsigned char *p = der;
    const GOST28147_89_PARAM *param = nullptr;
    if (i2d_ASN1_OBJECT(obj, &p) != len || GOST28147_89_FindParByDerOid(der, static_cast<uint32_t>(len), &param) != 0)
        return nullptr;
    return param;
}

const GOST28147_89_PARAM *gost89_paramset_of_nid(int nid)
{
    if (nid == NID_undef)
        return nullptr;
    ASN1_OBJECT *obj = OBJ_nid2obj(nid);
    const GOST28147_89_PARAM *param = gost89_paramset_of_object(obj);
    ASN1_OBJECT_free(obj);
    return param;
}

const GOST28147_89_PARAM *gost89_paramset_by_name(const char *name)
{
    if (name == nullptr)
        return nullptr;
    if (const GOST28147_89_PARAM *param = gost89_paramset_of_nid(gost_txt2nid(name)))
        return param;
    // A dotted OID OpenSSL has no object for.
    ASN1_OBJECT *obj = OBJ_txt2obj(name, 1);
    const GOST28147_89_PARAM *param = gost89_paramset_of_object(obj);
    ASN1_OBJECT_free(obj);
    return param;
}
