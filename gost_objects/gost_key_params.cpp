#include "gost_key_params.h"

#include <openssl/objects.h>

ASN1_SEQUENCE(ZKC_GOST2012_KEY_PARAMS) = {
    ASN1_SIMPLE(ZKC_GOST2012_KEY_PARAMS, key_params, ASN1_OBJECT),
    ASN1_OPT(ZKC_GOST2012_KEY_PARAMS, hash_params, ASN1_OBJECT),
    ASN1_OPT(ZKC_GOST2012_KEY_PARAMS, cipher_params, ASN1_OBJECT),
} ASN1_SEQUENCE_END(ZKC_GOST2012_KEY_PARAMS)

IMPLEMENT_ASN1_FUNCTIONS(ZKC_GOST2012_KEY_PARAMS)

ASN1_STRING *gost_key_params_encode(int param_nid, int hash_params_nid)
{
    ZKC_GOST2012_KEY_PARAMS *params = ZKC_GOST2012_KEY_PARAMS_new();
    if (params == nullptr)
        return nullptr;
    params->key_params = OBJ_nid2obj(param_nid);
    params->hash_params = OBJ_nid2obj(hash_params_nid);
    unsigned char *der = nullptr;
    int len = params->key_params != nullptr && params->hash_params != nullptr
                  ? i2d_ZKC_GOST2012_KEY_PARAMS(params, &der)
                  : 0;
    ZKC_GOST2012_KEY_PARAMS_free(params);
    ASN1_STRING *out = len > 0 ? ASN1_STRING_type_new(V_ASN1_SEQUENCE) : nullptr;
    if (out == nullptr) {
        OPENSSL_free(der);
        return nullptr;
    }
    ASN1_STRING_set0(out, der, len);
    return out;
}

int gost_key_params_decode(const ASN1_STRING *seq)
{
    if (seq == nullptr)
        return NID_undef;
    const unsigned char *p = ASN1_STRING_get0_data(seq);
    const unsigned char *end = p + ASN1_STRING_length(seq);
    ZKC_GOST2012_KEY_PARAMS *params = d2i_ZKC_GOST2012_KEY_PARAMS(nullptr, &p, ASN1_STRING_length(seq));
    int nid = params != nullptr && p == end ? OBJ_obj2nid(params->key_params) : NID_undef;
    ZKC_GOST2012_KEY_PARAMS_free(params);
    return nid;
}
