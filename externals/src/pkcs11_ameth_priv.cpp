// Private keys of the GOST key methods in PKCS#8: an imported private value
// gets its public value from the curve core and its CKA_ID from that; an
// exported one is the value the key holds or the token's extractable value.
#define OPENSSL_SUPPRESS_DEPRECATED  // EVP_PKEY_get0, EVP_PKEY_get0_engine
#include "pkcs11_ameth.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include "gost_curve.h"
#include "gost_key_params.h"
#include "gost_params.h"
#include "gost_private_value.h"
#include "gostr3410_2012.h"
#include "oid_der.h"
#include "ossl_ptr.h"
#include "p11_key_objects.h"
#include "pkcs11_core_eng.h"
#include "secret_string.h"

namespace {

using KeyParamsPtr = ossl::Ptr<ZKC_GOST2012_KEY_PARAMS, ZKC_GOST2012_KEY_PARAMS_free>;
using ossl::Asn1StringPtr;

// ---- the public value from the curve core --------------------------------------

// The public value (X then Y, little-endian) of a little-endian private value
// on the curve whose OID has the given DER. The core's number is wiped on
// every path. false after one line.
template <class C>
bool public_value(const unsigned char *curve_der, std::size_t curve_der_len, const unsigned char *priv, unsigned char *pub)
{
    const typename C::Params *params = nullptr;
    int rc = C::find(curve_der, static_cast<uint32_t>(curve_der_len), &params);
    const char *step = "FindParByDerOid";
    Wiped<DIGIT_T[C::kDigits]> d;
    typename C::Point q;
    if (rc == 0) {
        step = "LoadPrivateKeyValue";
        rc = C::load(priv, d.v);
    }
    if (rc == 0) {
        step = "GeneratePublicKey";
        rc = C::generate(params, d.v, &q);
    }
    if (rc == 0) {
        step = "UnloadPublicKeyValue";
        rc = C::unload(&q, pub);
    }
    if (rc != 0) {
        std::fprintf(stderr, "create_private_key: %s_%s failed, rc = %d\n", C::kName, step, rc);
        return false;
    }
    return true;
}

// ---- reading the value from the token ------------------------------------------

// CKA_VALUE of the private key with the given CKA_ID, exactly n bytes, into
// out. One short session, closed on every path. false after one line.
bool read_token_private_value(const P11_ENGINE_CTX *ctx, const p11_gost2012_key &key, unsigned int n,
                              unsigned char *out)
{
    P11Session session;
    CK_RV rv = session.open(ctx);
    if (rv != CKR_OK) {
        std::fprintf(stderr, "get_priv_key_value: C_OpenSession failed, rc = 0x%x\n", static_cast<unsigned>(rv));
        return false;
    }
    CK_FUNCTION_LIST *f = ctx->function_list;
    P11FindResult found = p11_find_key_objects(f, session.handle(), CKO_PRIVATE_KEY, key);
    if (!found.ok()) {
        std::fprintf(stderr, "get_priv_key_value: %s failed, rc = 0x%x\n", found.failed_call,
                     static_cast<unsigned>(found.rv));
        return false;
    }
    if (found.handles.empty()) {
        std::fprintf(stderr, "get_priv_key_value: token private key not found\n");
        return false;
    }
    // The length first: a value of another size is never read, and the
    // read itself cannot pass the end of the buffer.
    Wiped<unsigned char[kGostPrivKeyMax]> value;
    CK_ATTRIBUTE attr{CKA_VALUE, nullptr, 0};
    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 1) {
            attr.pValue = value.v;
            attr.ulValueLen = n;
        }
        rv = f->C_GetAttributeValue(session.handle(), found.handles[0], &attr, 1);
        if (rv == CKR_ATTRIBUTE_SENSITIVE || (rv == CKR_OK && attr.ulValueLen == CK_UNAVAILABLE_INFORMATION)) {
            std::fprintf(stderr, "get_priv_key_value: token private key not extractable\n");
            return false;
        }
        if (rv != CKR_OK) {
            std::fprintf(stderr, "get_priv_key_value: C_GetAttributeValue failed, rc = 0x%x\n",
                         static_cast<unsigned>(rv));
            return false;
        }
        if (attr.ulValueLen != n) {
            std::fprintf(stderr, "get_priv_key_value: token private key of %lu bytes, expected %u\n",
                         static_cast<unsigned long>(attr.ulValueLen), n);
            return false;
        }
    }
    std::memcpy(out, value.v, n);
    return true;
}

}  // namespace

int create_private_key(const X509_ALGOR *palg, const unsigned char *priv, int priv_len, EVP_PKEY *pkey)
{
    const ASN1_OBJECT *alg_obj = nullptr;
    int ptype = V_ASN1_UNDEF;
    const void *pval = nullptr;
    if (palg != nullptr)
        X509_ALGOR_get0(&alg_obj, &ptype, &pval, palg);
    KeyParamsPtr params;
    if (ptype == V_ASN1_SEQUENCE && pval != nullptr) {
        const ASN1_STRING *seq = static_cast<const ASN1_STRING *>(pval);
        const unsigned char *p = ASN1_STRING_get0_data(seq);
        params.reset(d2i_ZKC_GOST2012_KEY_PARAMS(nullptr, &p, ASN1_STRING_length(seq)));
    }
    int param_nid = params ? OBJ_obj2nid(params->key_params) : NID_undef;
    unsigned char curve_der[2 + 127];
    std::size_t curve_der_len = oid_der_from_nid(param_nid, curve_der, sizeof curve_der);
    if (curve_der_len == 0) {
        std::fprintf(stderr, "create_private_key: Invalid key parameters format\n");
        return 0;
    }
    p11_gost2012_key *key = gost_key_record(pkey);
    const GostKeyAlg *alg = pkey != nullptr ? gost_key_alg(EVP_PKEY_get_base_id(pkey)) : nullptr;
    if (key == nullptr || alg == nullptr) {
        std::fprintf(stderr, "create_private_key: not a GOST key\n");
        return 0;
    }
    const unsigned int n = alg->priv_key_len;
    const unsigned int m = alg->pub_key_len;
    Wiped<unsigned char[kGostPrivKeyMax]> value;
    unsigned char pub[kGostPubKeyMax];
    std::string why;
    if (!gost_private_value_from_der(priv, priv_len, n, value.v, &why)) {
        std::fputs(why.c_str(), stderr);
        return 0;
    }
    bool ok = alg->size == GostKeySize::bits512 ? public_value<GostCurve512>(curve_der, curve_der_len, value.v, pub)
                                                : public_value<GostCurve256>(curve_der, curve_der_len, value.v, pub);
    if (!ok)
        return 0;
    unsigned char id[kGostKeyIdLen];
    if (!pkcs11_id_gen(pub, m, id)) {
        std::fprintf(stderr, "create_private_key: pkcs11_id_gen failed, rc = 0x%x\n", 0u);
        return 0;
    }
    key->param_nid = param_nid;
    std::memcpy(key->priv_key, value.v, n);
    key->priv_key_len = n;
    std::memcpy(key->pub_key, pub, m);
    key->pub_key_len = m;
    gost_key_set_id(*key, id, sizeof id);
    key->priv_key_loaded = 1;
    return 1;
}

int priv_decode_gost2012(EVP_PKEY *pkey, const PKCS8_PRIV_KEY_INFO *p8)
{
    if (p11_engine_ctx_or_report(EVP_PKEY_get0_engine(pkey)) == nullptr)
        return 0;
    const unsigned char *priv = nullptr;
    int priv_len = 0;
    const X509_ALGOR *palg = nullptr;
    if (!PKCS8_pkey_get0(nullptr, &priv, &priv_len, &palg, p8))
        return 0;
    if (!decode_gost2012_algor_params(palg, pkey))
        return 0;
    if (!create_private_key(palg, priv, priv_len, pkey)) {
        std::fprintf(stderr, "priv_decode_gost2012: create_private_key failed\n");
        return 0;
    }
    return 1;
}

int priv_encode_gost2001(PKCS8_PRIV_KEY_INFO *p8, const EVP_PKEY *pkey)
{
    int nid = EVP_PKEY_get_base_id(pkey);
    ASN1_OBJECT *alg_obj = gost_key_alg(nid) != nullptr ? OBJ_nid2obj(nid) : nullptr;
    if (alg_obj == nullptr)
        return 0;
    Asn1StringPtr params(encode_gost2012_algor_params(pkey));
    if (!params)
        return 0;
    Wiped<unsigned char[kGostPrivKeyMax]> value;
    unsigned int len = 0;
    if (!get_priv_key_value(pkey, value.v, &len)) {
        std::fprintf(stderr, "priv_encode_gost2001: get_priv_key_value failed\n");
        return 0;
    }
    if (len == 0 || len > kGostPrivKeyMax)
        return 0;
    // The DER OCTET STRING (short length form: at most 64 bytes).
    int der_len = static_cast<int>(2 + len);
    unsigned char *der = static_cast<unsigned char *>(OPENSSL_malloc(der_len));
    if (der == nullptr)
        return 0;
    der[0] = V_ASN1_OCTET_STRING;
    der[1] = static_cast<unsigned char>(len);
    std::memcpy(der + 2, value.v, len);
    if (!PKCS8_pkey_set0(p8, alg_obj, 0, V_ASN1_SEQUENCE, params.get(), der, der_len)) {
        OPENSSL_clear_free(der, der_len);
        return 0;
    }
    params.release();  // owned by p8 now, as is der
    return 1;
}

int get_priv_key_value(const EVP_PKEY *pkey, unsigned char *out, unsigned int *out_len)
{
    const P11_ENGINE_CTX *ctx = pkey != nullptr ? p11_engine_ctx(EVP_PKEY_get0_engine(pkey)) : nullptr;
    if (ctx == nullptr) {
        std::fprintf(stderr, "get_priv_key_value: ENGINE_get_ex_data failed\n");
        return 0;
    }
    if (out == nullptr || out_len == nullptr) {
        std::fprintf(stderr, "get_priv_key_value: NULL output pointer\n");
        return 0;
    }
    const GostKeyAlg *alg = gost_key_alg(EVP_PKEY_get_base_id(pkey));
    if (alg == nullptr)
        return 1;
    const p11_gost2012_key *key = gost_key_record(pkey);
    if (key == nullptr) {
        std::fprintf(stderr, "get_priv_key_value: NULL p11_gost2012_key\n");
        return 0;
    }
    if (key->priv_key_loaded) {
        if (key->priv_key_len != alg->priv_key_len) {
            std::fprintf(stderr, "get_priv_key_value: private key of %u bytes, expected %u\n", key->priv_key_len,
                         alg->priv_key_len);
            return 0;
        }
        std::memcpy(out, key->priv_key, key->priv_key_len);
        *out_len = key->priv_key_len;
        return 1;
    }
    if (!read_token_private_value(ctx, *key, alg->priv_key_len, out))
        return 0;
    *out_len = alg->priv_key_len;
    return 1;
}
