// ASN.1 key methods of the GOST keys and of the GOST 28147-89 MAC key.
#define OPENSSL_SUPPRESS_DEPRECATED  // EVP_PKEY_ASN1_METHOD, EVP_PKEY_get0, ENGINE
#include "pkcs11_ameth.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/crypto.h>
#include <openssl/engine.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include "gost_key_params.h"
#include "gost_key_text.h"
#include "gost_objects.h"
#include "gost_params.h"
#include "oid_der.h"
#include "ossl_ptr.h"
#include "p11_key_objects.h"
#include "pkcs11_core_eng.h"

namespace {

using KeyParamsPtr = ossl::Ptr<ZKC_GOST2012_KEY_PARAMS, ZKC_GOST2012_KEY_PARAMS_free>;
using ossl::OctetStringPtr;
using ossl::ObjectPtr;

bool is_gost_key_alg(int nid) { return gost_key_alg(nid) != nullptr; }

// Base NID of pkey when it is one of the GOST key algorithms, else NID_undef.
int gost_base_id(const EVP_PKEY *pkey)
{
    int nid = EVP_PKEY_get_base_id(pkey);
    return is_gost_key_alg(nid) ? nid : NID_undef;
}

// A public value is fetched from the token before it is used when either the
// parameter set or the value itself is still missing.
bool params_missing(const p11_gost2012_key &key) { return key.param_nid == NID_undef || gost_pub_key_is_zero(key); }

void fetch_if_missing(const EVP_PKEY *pkey, p11_gost2012_key *key)
{
    if (params_missing(*key))
        get_pub_key_value(EVP_PKEY_get0_engine(pkey), key);
}

// ---- the token side: one short session, closed on every path ------------

// The longest CKA_VALUE and CKA_GOSTR3410_PARAMS worth fetching: a public
// value and one DER OID with a one-byte length. Longer values are refused
// by the caller from their reported length; nothing that size is allocated.
constexpr CK_ULONG kParamsMax = 2 + 127;

// CKA_VALUE and CKA_GOSTR3410_PARAMS of an object; false after one line.
// *value_len is the length the token reports for CKA_VALUE; value is left
// empty when that is longer than any public value, params likewise when
// longer than one OID.
bool read_value_and_params(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE s, CK_OBJECT_HANDLE h,
                           std::vector<unsigned char> *value, CK_ULONG *value_len, std::vector<unsigned char> *params)
{
    CK_ATTRIBUTE attrs[] = {
        {CKA_VALUE, nullptr, 0},
        {CKA_GOSTR3410_PARAMS, nullptr, 0},
    };
    CK_RV rv = f->C_GetAttributeValue(s, h, attrs, 2);
    if (rv == CKR_OK && (attrs[0].ulValueLen == CK_UNAVAILABLE_INFORMATION ||
                         attrs[1].ulValueLen == CK_UNAVAILABLE_INFORMATION))
        rv = CKR_ATTRIBUTE_TYPE_INVALID;
    if (rv == CKR_OK) {
        *value_len = attrs[0].ulValueLen;
        value->resize(attrs[0].ulValueLen <= kGostPubKeyMax ? attrs[0].ulValueLen : 0);
        params->resize(attrs[1].ulValueLen <= kParamsMax ? attrs[1].ulValueLen : 0);
        // An attribute left without a buffer is only measured again.
        attrs[0].pValue = value->empty() ? nullptr : value->data();
        attrs[1].pValue = params->empty() ? nullptr : params->data();
        attrs[0].ulValueLen = value->size();
        attrs[1].ulValueLen = params->size();
        rv = f->C_GetAttributeValue(s, h, attrs, 2);
    }
    if (rv != CKR_OK) {
        std::fprintf(stderr, "C_GetAttributeValue failed, rc = 0x%x\n", static_cast<unsigned>(rv));
        return false;
    }
    if (attrs[0].pValue != nullptr) {
        if (attrs[0].ulValueLen < value->size())
            value->resize(attrs[0].ulValueLen);
        *value_len = value->size();
    }
    if (attrs[1].pValue != nullptr && attrs[1].ulValueLen < params->size())
        params->resize(attrs[1].ulValueLen);
    return true;
}

// The public value and parameter set of the record's key pair: from its
// public-key object or, when the token holds none (keys made by tools that
// keep only the private key and the certificate), from its certificate.
// *value_len as read_value_and_params; *param_nid NID_undef when the
// parameters are no OID. False after one line.
bool token_public_value(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE s, const p11_gost2012_key &key,
                        std::vector<unsigned char> *value, CK_ULONG *value_len, int *param_nid)
{
    for (CK_OBJECT_CLASS cls : {CKO_PUBLIC_KEY, CKO_CERTIFICATE}) {
        P11FindResult found = p11_find_key_objects(f, s, cls, key);
        if (!found.ok()) {
            std::fprintf(stderr, "%s failed, rc = 0x%x\n", found.failed_call, static_cast<unsigned>(found.rv));
            return false;
        }
        if (found.handles.empty())
            continue;
        if (cls == CKO_PUBLIC_KEY) {
            std::vector<unsigned char> params;
            if (!read_value_and_params(f, s, found.handles[0], value, value_len, &params))
                return false;
            if (!oid_der_to_nid(params.data(), params.size(), param_nid))
                *param_nid = NID_undef;
            return true;
        }
        ossl::X509Ptr certificate(
            p11_read_certificate(f, s, found.handles[0], "C_GetAttributeValue failed, rc = 0x%x\n"));
        if (!certificate)
            return false;
        const EVP_PKEY *pkey = X509_get0_pubkey(certificate.get());
        const p11_gost2012_key *from = gost_base_id(pkey) != NID_undef ? gost_key_record(pkey) : nullptr;
        if (from == nullptr) {
            std::fprintf(stderr, "Token key certificate holds no GOST public key\n");
            return false;
        }
        value->assign(from->pub_key, from->pub_key + std::min(from->pub_key_len, kGostPubKeyMax));
        *value_len = value->size();
        *param_nid = from->param_nid;
        return true;
    }
    std::fprintf(stderr, "Token public key not found\n");
    return false;
}

// ---- printing -------------------------------------------------------------

enum PrintMode { kPrintParams = 0, kPrintPublic = 1, kPrintPrivate = 2 };

// Every non-empty line of text, indented by the caller.
int print_indented(BIO *out, int indent, const std::string &text)
{
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        std::size_t end = nl == std::string::npos ? text.size() : nl + 1;
        if (end - pos > 1 && !BIO_indent(out, indent, 128))
            return 0;
        if (BIO_write(out, text.data() + pos, static_cast<int>(end - pos)) <= 0)
            return 0;
        pos = end;
    }
    return 1;
}

int print_gost2012(BIO *out, const EVP_PKEY *pkey, int indent, PrintMode mode)
{
    const p11_gost2012_key *key = gost_key_record(pkey);
    std::string text;
    if (mode == kPrintPrivate)
        text += gost_private_text(key);
    if (mode >= kPrintPublic)
        text += gost_public_text(key);
    int ok = print_indented(out, indent, text);
    OPENSSL_cleanse(text.data(), text.size());
    if (!ok || gost_base_id(pkey) == NID_undef)
        return 0;
    if (!BIO_indent(out, indent, 128))
        return 0;
    return BIO_printf(out, "Parameter set: %s\n", gost_nid2ln(key != nullptr ? key->param_nid : NID_undef)) > 0;
}

// ---- the GOST key slots ---------------------------------------------------

int pub_decode_gost2012(EVP_PKEY *pkey, const X509_PUBKEY *pub)
{
    ASN1_OBJECT *alg_obj = nullptr;
    const unsigned char *buf = nullptr;
    int len = 0;
    X509_ALGOR *palg = nullptr;
    if (!X509_PUBKEY_get0_param(&alg_obj, &buf, &len, &palg, pub))
        return 0;
    // Any record the key held is released; the parameters give a fresh one.
    EVP_PKEY_assign(pkey, OBJ_obj2nid(alg_obj), nullptr);
    if (!decode_gost2012_algor_params(palg, pkey))
        return 0;
    // The OCTET STRING must fill the key bits: the CKA_ID is the SHA-1 of
    // exactly those bits, re-made from the value.
    const unsigned char *end = buf + len;
    OctetStringPtr octet(d2i_ASN1_OCTET_STRING(nullptr, &buf, len));
    if (!octet || buf != end) {
        std::fprintf(stderr, "pub_decode_gost2012: d2i_ASN1_OCTET_STRING failure\n");
        return 0;
    }
    p11_gost2012_key *key = gost_key_record(pkey);
    if (key == nullptr) {
        std::fprintf(stderr, "pub_decode_gost2012: EVP_PKEY_get0 failed\n");
        return 0;
    }
    int got = ASN1_STRING_length(octet.get());
    if (got < 0 || static_cast<unsigned int>(got) != key->pub_key_len) {
        std::fprintf(stderr, "pub_decode_gost2012: public key of %d bytes, expected %u\n", got, key->pub_key_len);
        return 0;
    }
    std::memcpy(key->pub_key, ASN1_STRING_get0_data(octet.get()), key->pub_key_len);
    // A zero value stands for "not read from the token yet" in a key record;
    // no point of a curve has it, so a key that carries it is refused rather
    // than taken for a token key.
    if (gost_pub_key_is_zero(*key)) {
        std::fprintf(stderr, "pub_decode_gost2012: public key value is zero\n");
        return 0;
    }
    if (gost_key_id_is_zero(*key) && !pkcs11_id_gen(key->pub_key, key->pub_key_len, key->key_id)) {
        std::fprintf(stderr, "pkcs11_id_gen failed\n");
        return 0;
    }
    return 1;
}

int pub_encode_gost2012(X509_PUBKEY *pub, const EVP_PKEY *pkey)
{
    p11_gost2012_key *key = gost_key_record(pkey);
    if (key == nullptr)
        return 0;
    fetch_if_missing(pkey, key);
    // A value the token could not give is never written out as zeros.
    if (params_missing(*key) || key->pub_key_len > kGostPubKeyMax)
        return 0;
    // The parameters are always written: OpenSSL 3 keeps the save-parameters
    // flag for DSA and EC keys only (0 for every other type), and a GOST key
    // without its parameters could not be read back.
    ASN1_STRING *params = encode_gost2012_algor_params(pkey);
    if (params == nullptr)
        return 0;
    int ptype = V_ASN1_SEQUENCE;
    OctetStringPtr octet(ASN1_OCTET_STRING_new());
    unsigned char *der = nullptr;
    int der_len = 0;
    if (octet && ASN1_OCTET_STRING_set(octet.get(), key->pub_key, static_cast<int>(key->pub_key_len)))
        der_len = i2d_ASN1_OCTET_STRING(octet.get(), &der);
    if (der_len <= 0 ||
        !X509_PUBKEY_set0_param(pub, OBJ_nid2obj(EVP_PKEY_get_base_id(pkey)), ptype, params, der, der_len)) {
        ASN1_STRING_free(params);
        OPENSSL_free(der);
        return 0;
    }
    return 1;
}

int pub_cmp_gost2012(const EVP_PKEY *a, const EVP_PKEY *b)
{
    p11_gost2012_key *ka = gost_key_record(a);
    p11_gost2012_key *kb = gost_key_record(b);
    if (ka == nullptr || kb == nullptr)
        return 0;
    fetch_if_missing(a, ka);
    fetch_if_missing(b, kb);
    // A value still unknown (the token could not give it) equals nothing,
    // not even another unknown one.
    if (gost_pub_key_is_zero(*ka) || gost_pub_key_is_zero(*kb))
        return 0;
    return ka->pub_key_len == kb->pub_key_len && ka->pub_key_len <= kGostPubKeyMax &&
           std::memcmp(ka->pub_key, kb->pub_key, ka->pub_key_len) == 0;
}

int pub_print_gost2012(BIO *out, const EVP_PKEY *pkey, int indent, ASN1_PCTX *)
{
    return print_gost2012(out, pkey, indent, kPrintPublic);
}

int priv_print_gost2012(BIO *out, const EVP_PKEY *pkey, int indent, ASN1_PCTX *)
{
    return print_gost2012(out, pkey, indent, kPrintPrivate);
}

int param_print_gost2012(BIO *out, const EVP_PKEY *pkey, int indent, ASN1_PCTX *)
{
    return print_gost2012(out, pkey, indent, kPrintParams);
}

int pkey_size_gost2012(const EVP_PKEY *pkey)
{
    int nid = EVP_PKEY_get_base_id(pkey);
    if (nid == NID_undef)
        return -1;
    const GostKeyAlg *alg = gost_key_alg(nid);
    return alg != nullptr ? static_cast<int>(alg->sig_len) : 64;
}

int pkey_bits_gost2012(const EVP_PKEY *pkey)
{
    int nid = EVP_PKEY_get_base_id(pkey);
    if (nid == NID_undef)
        return -1;
    return nid == gost_nid(GostObj::gost3410_2012_512) ? 512 : 256;
}

int param_decode_gost2012(EVP_PKEY *pkey, const unsigned char **pder, int derlen)
{
    ObjectPtr obj(d2i_ASN1_OBJECT(nullptr, pder, derlen));
    if (!obj)
        return 0;
    int param_nid = OBJ_obj2nid(obj.get());
    int alg_nid = gost_nid(GostObj::gost2001);
    p11_gost2012_key *key = gost_key_record(pkey);
    if (key == nullptr) {
        key = p11_gost2012_key_new();
        if (key == nullptr)
            return 0;
        if (!EVP_PKEY_assign(pkey, alg_nid, key)) {
            p11_gost2012_key_free(key);
            return 0;
        }
    }
    return fill_GOST2012_params(key, alg_nid, param_nid);
}

int param_encode_gost2012(const EVP_PKEY *pkey, unsigned char **pder)
{
    const p11_gost2012_key *key = gost_key_record(pkey);
    if (key == nullptr || key->param_nid == NID_undef)
        return 0;
    return i2d_ASN1_OBJECT(OBJ_nid2obj(key->param_nid), pder);
}

int param_missing_gost2012(const EVP_PKEY *pkey)
{
    const p11_gost2012_key *key = gost_key_record(pkey);
    return key == nullptr || params_missing(*key) ? 1 : 0;
}

int param_copy_gost2012(EVP_PKEY *to, const EVP_PKEY *from)
{
    const p11_gost2012_key *src = gost_key_record(from);
    if (src == nullptr || src->param_nid == NID_undef) {
        std::fprintf(stderr, "param_copy_gost2012: undefined source NID\n");
        return 0;
    }
    p11_gost2012_key *dst = gost_key_record(to);
    if (dst == nullptr) {
        dst = p11_gost2012_key_new();
        if (dst == nullptr || !EVP_PKEY_assign(to, EVP_PKEY_get_base_id(from), dst)) {
            p11_gost2012_key_free(dst);
            return 0;
        }
    }
    if (dst->param_nid != NID_undef && dst->param_nid != src->param_nid) {
        std::fprintf(stderr, "param_copy_gost2012: incompatible keys\n");
        return 0;
    }
    if (dst->alg_nid == NID_undef && dst->pub_key_len == 0) {
        dst->alg_nid = src->alg_nid;
        dst->pub_key_len = src->pub_key_len;
        dst->priv_key_len = src->priv_key_len;
    }
    dst->param_nid = src->param_nid;
    return 1;
}

int param_cmp_gost2012(const EVP_PKEY *a, const EVP_PKEY *b)
{
    const p11_gost2012_key *ka = gost_key_record(a);
    const p11_gost2012_key *kb = gost_key_record(b);
    int pa = ka != nullptr ? ka->param_nid : NID_undef;
    int pb = kb != nullptr ? kb->param_nid : NID_undef;
    return pa == pb ? 1 : 0;
}

void pkey_free_gost2012(EVP_PKEY *pkey) { p11_gost2012_key_free(gost_key_record(pkey)); }

int default_digest_of(int base_nid)
{
    const GostKeyAlg *alg = gost_key_alg(base_nid);
    return gost_nid(alg != nullptr ? alg->default_digest : GostObj::gost3411_2012_256);
}

// A signer's signature algorithm: the key's algorithm, NULL parameters.
int set_signature_alg(X509_ALGOR *sig_alg, int nid)
{
    if (sig_alg == nullptr)
        return -1;
    return X509_ALGOR_set0(sig_alg, OBJ_nid2obj(nid), V_ASN1_NULL, nullptr) ? 1 : -1;
}

// A recipient's key-encryption algorithm: the key's algorithm with the
// key's parameter sets.
int set_transport_alg(X509_ALGOR *alg, const EVP_PKEY *pkey, int nid)
{
    ASN1_STRING *params = encode_gost2012_algor_params(pkey);
    if (alg == nullptr || params == nullptr || !X509_ALGOR_set0(alg, OBJ_nid2obj(nid), V_ASN1_SEQUENCE, params)) {
        ASN1_STRING_free(params);
        return -1;
    }
    return 1;
}

// arg1 is 0 when signing or encrypting, 1 when verifying or decrypting:
// only the first fills in the algorithm identifiers.
int pkey_ctrl_gost2012(EVP_PKEY *pkey, int op, long arg1, void *arg2)
{
    int nid = EVP_PKEY_get_base_id(pkey);
    switch (op) {
    case ASN1_PKEY_CTRL_PKCS7_SIGN:
        if (nid == NID_undef)
            return -1;
        if (arg1 == 0) {
            X509_ALGOR *digest_alg = nullptr;
            X509_ALGOR *sig_alg = nullptr;
            PKCS7_SIGNER_INFO_get0_algs(static_cast<PKCS7_SIGNER_INFO *>(arg2), nullptr, &digest_alg, &sig_alg);
            if (digest_alg == nullptr)
                return -1;
            X509_ALGOR_set0(digest_alg, OBJ_nid2obj(default_digest_of(nid)), V_ASN1_NULL, nullptr);
            return set_signature_alg(sig_alg, nid);
        }
        return 1;
    case ASN1_PKEY_CTRL_PKCS7_ENCRYPT:
        if (arg1 == 0) {
            X509_ALGOR *alg = nullptr;
            PKCS7_RECIP_INFO_get0_alg(static_cast<PKCS7_RECIP_INFO *>(arg2), &alg);
            return set_transport_alg(alg, pkey, nid);
        }
        return 1;
    // CMS keeps the digest the signer chose (the key's default unless told
    // otherwise).
    case ASN1_PKEY_CTRL_CMS_SIGN:
        if (nid == NID_undef)
            return -1;
        if (arg1 == 0) {
            X509_ALGOR *sig_alg = nullptr;
            CMS_SignerInfo_get0_algs(static_cast<CMS_SignerInfo *>(arg2), nullptr, nullptr, nullptr, &sig_alg);
            return set_signature_alg(sig_alg, nid);
        }
        return 1;
    case ASN1_PKEY_CTRL_CMS_ENVELOPE:
        if (arg1 == 0) {
            auto *ri = static_cast<CMS_RecipientInfo *>(arg2);
            X509_ALGOR *alg = nullptr;
            if (CMS_RecipientInfo_type(ri) != CMS_RECIPINFO_TRANS ||
                CMS_RecipientInfo_ktri_get0_algs(ri, nullptr, nullptr, &alg) != 1)
                return -1;
            return set_transport_alg(alg, pkey, nid);
        }
        return 1;
    case ASN1_PKEY_CTRL_CMS_RI_TYPE:
        *static_cast<int *>(arg2) = CMS_RECIPINFO_TRANS;
        return 1;
    case ASN1_PKEY_CTRL_DEFAULT_MD_NID:
        if (nid == NID_undef)
            return -1;
        *static_cast<int *>(arg2) = default_digest_of(nid);
        return 2;
    default:
        return -2;
    }
}

// ---- the MAC key ------------------------------------------------------------

void mac_pkey_free(EVP_PKEY *pkey)
{
    OPENSSL_clear_free(EVP_PKEY_get0(pkey), kGostMacKeyLen);
}

int mac_pkey_ctrl(EVP_PKEY *, int op, long, void *arg2)
{
    if (op != ASN1_PKEY_CTRL_DEFAULT_MD_NID)
        return -2;
    *static_cast<int *>(arg2) = gost_nid(GostObj::gost_mac);
    return 2;
}

}  // namespace

p11_gost2012_key *gost_key_record(const EVP_PKEY *pkey)
{
    return pkey != nullptr ? static_cast<p11_gost2012_key *>(EVP_PKEY_get0(pkey)) : nullptr;
}

int decode_gost2012_algor_params(const X509_ALGOR *palg, EVP_PKEY *pkey)
{
    const ASN1_OBJECT *alg_obj = nullptr;
    int ptype = V_ASN1_UNDEF;
    const void *pval = nullptr;
    if (palg != nullptr)
        X509_ALGOR_get0(&alg_obj, &ptype, &pval, palg);
    if (ptype != V_ASN1_SEQUENCE || pval == nullptr) {
        std::fprintf(stderr, "p11: decode_gost2001_algor_params err 1\n");
        return 0;
    }
    const ASN1_STRING *seq = static_cast<const ASN1_STRING *>(pval);
    const unsigned char *p = ASN1_STRING_get0_data(seq);
    KeyParamsPtr params(d2i_ZKC_GOST2012_KEY_PARAMS(nullptr, &p, ASN1_STRING_length(seq)));
    if (!params) {
        std::fprintf(stderr, "p11: decode_gost2001_algor_params err 2\n");
        return 0;
    }
    int alg_nid = OBJ_obj2nid(alg_obj);
    int param_nid = OBJ_obj2nid(params->key_params);
    params.reset();

    // Setting the type releases whatever key data pkey held.
    if (!EVP_PKEY_set_type(pkey, alg_nid))
        return 0;
    if (!is_gost_key_alg(alg_nid))
        return 1;
    p11_gost2012_key *key = gost_key_record(pkey);
    if (key == nullptr) {
        key = p11_gost2012_key_new();
        if (key == nullptr) {
            std::fprintf(stderr, "decode_gost2012_algor_params err 1\n");
            return 0;
        }
        key->alg_nid = alg_nid;
        if (!EVP_PKEY_assign(pkey, alg_nid, key)) {
            p11_gost2012_key_free(key);
            std::fprintf(stderr, "decode_gost2012_algor_params err 2\n");
            return 0;
        }
    }
    if (!fill_GOST2012_params(key, alg_nid, param_nid)) {
        std::fprintf(stderr, "decode_gost2012_algor_params err 3\n");
        return 0;
    }
    return 1;
}

ASN1_STRING *encode_gost2012_algor_params(const EVP_PKEY *pkey)
{
    const p11_gost2012_key *key = gost_key_record(pkey);
    const GostKeyAlg *alg = gost_key_alg(EVP_PKEY_get_base_id(pkey));
    if (key == nullptr || alg == nullptr) {
        std::fprintf(stderr, "encode_gost2012_algor_params  - 2.5 -\n");
        return nullptr;
    }
    if (key->param_nid == NID_undef) {
        std::fprintf(stderr, "encode_gost2012_algor_params: parameter set not set\n");
        return nullptr;
    }
    ASN1_STRING *encoded = gost_key_params_encode(key->param_nid, gost_nid(alg->hash_params));
    if (encoded == nullptr)
        std::fprintf(stderr, "encode_gost2012_algor_params: malloc failed\n");
    return encoded;
}

int get_pub_key_value(ENGINE *e, p11_gost2012_key *key)
{
    if (key == nullptr)
        return 0;
    P11_ENGINE_CTX *ctx = p11_engine_ctx_or_report(e);
    if (ctx == nullptr)
        return 0;
    CK_FUNCTION_LIST *f = ctx->function_list;
    if (f == nullptr) {
        std::fprintf(stderr, "get_pub_key_value: api not attached\n");
        return 0;
    }
    P11Session session;
    CK_RV rv = session.open(ctx);
    if (rv != CKR_OK) {
        std::fprintf(stderr, "C_OpenSession failed, rc = 0x%x\n", static_cast<unsigned>(rv));
        return 0;
    }
    std::vector<unsigned char> value;
    CK_ULONG value_len = 0;
    int param_nid = NID_undef;
    if (!token_public_value(f, session.handle(), *key, &value, &value_len, &param_nid))
        return 0;

    const GostKeyAlg *alg = gost_key_alg(key->alg_nid);
    bool param_fits = param_nid != NID_undef &&
                      (alg != nullptr ? gost_key_paramset(*alg, param_nid) != nullptr
                                      : gost_paramset_in_table(GostKeySize::bits256, param_nid) ||
                                            gost_paramset_in_table(GostKeySize::bits512, param_nid));
    if (!param_fits) {
        std::fprintf(stderr, "Invalid GOST 3410 param set OID\n");
        return 0;
    }
    unsigned int expected = alg != nullptr ? alg->pub_key_len
                            : gost_paramset_in_table(GostKeySize::bits512, param_nid) ? 128u : 64u;
    if (!gost_key_take_public_value(*key, value.data(), value_len, expected))
        return 0;
    key->param_nid = param_nid;
    if (gost_key_id_is_zero(*key) && !pkcs11_id_gen(key->pub_key, key->pub_key_len, key->key_id)) {
        std::fprintf(stderr, "pkcs11_id_gen failed\n");
        return 0;
    }
    return 1;
}

bool gost_key_take_public_value(p11_gost2012_key &key, const unsigned char *value, unsigned long len,
                                unsigned int expected)
{
    if (len != expected || expected > kGostPubKeyMax) {
        std::fprintf(stderr, "Token public key of %lu bytes, expected %u\n", len, expected);
        return false;
    }
    // Zero stands for "not read yet" in a record, and is no point of a curve.
    if (gost_bytes_are_zero(value, len)) {
        std::fprintf(stderr, "Token public key value is zero\n");
        return false;
    }
    std::memcpy(key.pub_key, value, len);
    key.pub_key_len = expected;
    key.priv_key_len = expected / 2;
    return true;
}

int register_ameth_pkcs11(int nid, EVP_PKEY_ASN1_METHOD **ameth, const char *pemstr, const char *info)
{
    if (ameth == nullptr || nid == NID_undef)
        return 0;
    *ameth = EVP_PKEY_asn1_new(nid, ASN1_PKEY_SIGPARAM_NULL, pemstr, info);
    if (*ameth == nullptr)
        return 0;
    if (is_gost_key_alg(nid)) {
        EVP_PKEY_asn1_set_public(*ameth, pub_decode_gost2012, pub_encode_gost2012, pub_cmp_gost2012,
                                 pub_print_gost2012, pkey_size_gost2012, pkey_bits_gost2012);
        EVP_PKEY_asn1_set_private(*ameth, priv_decode_gost2012, priv_encode_gost2001, priv_print_gost2012);
        EVP_PKEY_asn1_set_param(*ameth, param_decode_gost2012, param_encode_gost2012, param_missing_gost2012,
                                param_copy_gost2012, param_cmp_gost2012, param_print_gost2012);
        EVP_PKEY_asn1_set_free(*ameth, pkey_free_gost2012);
        EVP_PKEY_asn1_set_ctrl(*ameth, pkey_ctrl_gost2012);
    } else if (nid == gost_nid(GostObj::gost_mac)) {
        EVP_PKEY_asn1_set_free(*ameth, mac_pkey_free);
        EVP_PKEY_asn1_set_ctrl(*ameth, mac_pkey_ctrl);
    }
    return 1;
}
