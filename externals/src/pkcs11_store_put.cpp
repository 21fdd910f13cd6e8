// Storing certificates and GOST keys on the token: store_object builds the
// object's template, creates it in the engine's session and, when asked
// (STORE_PARAM_OBJECT_HANDLE), hands the new object's handle back.
#define OPENSSL_SUPPRESS_DEPRECATED  // ENGINE, EVP_PKEY_get0
#include "gost_objects.h"
#include "gost_params.h"
#include "oid_der.h"
#include "p11_engine_session.h"
#include "pkcs11_ameth.h"
#include "pkcs11_store_ops.h"
#include "token_certificates.h"
#include "token_key_objects.h"

#include <openssl/sha.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

CK_BBOOL on_token(const P11_ENGINE_CTX *ctx) { return (ctx->session_flags & CKF_RW_SESSION) ? CK_TRUE : CK_FALSE; }

// The caller's STORE_PARAM_OBJECT_HANDLE item, or nullptr when it asks for
// no handle. False when that item cannot hold a handle.
bool handle_output(OPENSSL_ITEM *parameters, OPENSSL_ITEM **out) {
    *out = nullptr;
    for (OPENSSL_ITEM *p = parameters; p && p->code != STORE_ATTR_END; ++p)
        if (p->code == STORE_PARAM_OBJECT_HANDLE)
            *out = p;
    return !*out || (*out)->value_size >= sizeof(CK_OBJECT_HANDLE);
}

// The new object's handle, to the caller that asked for it.
void hand_back(OPENSSL_ITEM *handle_out, CK_OBJECT_HANDLE object) {
    if (!handle_out)
        return;
    std::memcpy(handle_out->value, &object, sizeof(object));
    if (handle_out->value_length)
        *handle_out->value_length = sizeof(object);
}

int store_key(P11_ENGINE_CTX *ctx, int type, EVP_PKEY *pkey, const OPENSSL_ITEM *attributes,
              OPENSSL_ITEM *handle_out) {
    const bool is_private = type == STORE_OBJECT_TYPE_PRIVATE_KEY;
    const int base_id = EVP_PKEY_get_base_id(pkey);
    const GostKeyAlg *alg = gost_key_alg(base_id);
    const p11_gost2012_key *key = alg ? gost_key_record(pkey) : nullptr;
    if (!key) {
        std::fprintf(stderr, "store_object: Illegal pkey_nid %d\n", base_id);
        return 0;
    }
    unsigned char params3410[16], params3411[16];
    CK_ULONG params3410_len = oid_der_from_nid(key->param_nid, params3410, sizeof(params3410));
    if (params3410_len == 0) {
        std::fprintf(stderr, "store_object: OBJ_nid2obj can't understand param_nid %d\n", key->param_nid);
        return 0;
    }
    alg = gost_key_alg(key->alg_nid);
    if (!alg) {
        std::fprintf(stderr, "store_object: Illegal pkey_nid %d\n", key->alg_nid);
        return 0;
    }
    const int hash_nid = gost_nid(alg->hash_params);
    CK_ULONG params3411_len = oid_der_from_nid(hash_nid, params3411, sizeof(params3411));
    if (params3411_len == 0) {
        std::fprintf(stderr, "store_object: OBJ_nid2obj can't understand digest_param_nid %d\n", hash_nid);
        return 0;
    }
    if (key->pub_key_len != alg->pub_key_len || (is_private && key->priv_key_len != alg->priv_key_len)) {
        std::fprintf(stderr, "store_object: key lengths do not match the algorithm\n");
        return 0;
    }
    if (is_private && !key->priv_key_loaded) {
        std::fprintf(stderr, "store_object: private key value not loaded\n");
        return 0;
    }
    std::string label = store_label(attributes, false, is_private ? "Priv key" : "Pub key");

    GostKeyObject object;
    object.is_private = is_private;
    object.key_type = alg->key_type;
    object.on_token = on_token(ctx);
    object.params3410 = params3410;
    object.params3410_len = params3410_len;
    object.params3411 = params3411;
    object.params3411_len = params3411_len;
    object.params28147 = ctx->gost28147_params_der;
    object.params28147_len = static_cast<CK_ULONG>(ctx->gost28147_params_der[1]) + 2;
    object.pub_key = key->pub_key;
    object.pub_key_len = key->pub_key_len;
    object.priv_key = key->priv_key;
    object.priv_key_len = key->priv_key_len;
    object.public_id = key->key_id;
    object.public_id_len = gost_key_id_len(*key);
    object.extractable = ctx->private_key_extractable;
    object.sensitive = ctx->private_key_sensitive;
    CK_OBJECT_HANDLE handle = CK_INVALID_HANDLE;
    if (!token_create_gost_key(ctx->function_list, ctx->session, object, label, &handle))
        return 0;
    hand_back(handle_out, handle);
    return 1;
}

// The CKA_ID a certificate's key pair has: pkcs11_id_gen of a GOST public
// value, which is the SHA-1 of the subjectPublicKey bit string's contents;
// other keys get that SHA-1 directly. The GOST record's key_id is set too.
bool certificate_key_id(X509 *certificate, unsigned char id[kGostKeyIdLen], p11_gost2012_key **gost_key) {
    *gost_key = nullptr;
    EVP_PKEY *pkey = X509_get0_pubkey(certificate);
    if (pkey && gost_key_alg(EVP_PKEY_get_base_id(pkey))) {
        p11_gost2012_key *key = gost_key_record(pkey);
        if (!key || !pkcs11_id_gen(key->pub_key, key->pub_key_len, key->key_id))
            return false;
        std::memcpy(id, key->key_id, kGostKeyIdLen);
        *gost_key = key;
        return true;
    }
    const ASN1_BIT_STRING *bits = X509_get0_pubkey_bitstr(certificate);
    if (!bits)
        return false;
    SHA1(ASN1_STRING_get0_data(bits), static_cast<size_t>(ASN1_STRING_length(bits)), id);
    return true;
}

int store_certificate(P11_ENGINE_CTX *ctx, X509 *certificate, const OPENSSL_ITEM *attributes,
                      OPENSSL_ITEM *handle_out) {
    unsigned char default_id[kGostKeyIdLen];
    p11_gost2012_key *gost_key = nullptr;
    if (!certificate_key_id(certificate, default_id, &gost_key)) {
        std::fprintf(stderr, "store_object: certificate has no usable public key\n");
        return 0;
    }
    CertificateObjectId id;
    {
        P11Session session;
        if (!session.open_or_report(ctx) ||
            !token_certificate_id(ctx->function_list, session.handle(), certificate, default_id,
                                  gost_key ? gost_key->pub_key : nullptr, gost_key ? gost_key->pub_key_len : 0, id))
            return 0;
    }
    std::string label = store_label(attributes, true, "Cert");
    CK_OBJECT_HANDLE object = CK_INVALID_HANDLE;
    if (!token_create_certificate(ctx->function_list, ctx->session, on_token(ctx), certificate, id, label, &object))
        return 0;
    hand_back(handle_out, object);
    return 1;
}

}  // namespace

int zk_store_store_object(STORE *store, int type, STORE_OBJECT *data, OPENSSL_ITEM attributes[],
                          OPENSSL_ITEM parameters[]) {
    if (!data)
        return 0;
    if (type != STORE_OBJECT_TYPE_X509_CERTIFICATE && type != STORE_OBJECT_TYPE_PRIVATE_KEY &&
        type != STORE_OBJECT_TYPE_PUBLIC_KEY)
        return 0;
    P11_ENGINE_CTX *ctx = store_ctx(store);
    if (!ctx)
        return 0;
    if (!ctx->function_list) {
        std::fprintf(stderr, "store_object: api not attached\n");
        return 0;
    }
    OPENSSL_ITEM *handle_out = nullptr;
    if (!handle_output(parameters, &handle_out)) {
        std::fprintf(stderr, "store_object: the object handle parameter cannot hold a handle\n");
        return 0;
    }
    if (type == STORE_OBJECT_TYPE_X509_CERTIFICATE)
        return data->data.x509.certificate
                   ? store_certificate(ctx, data->data.x509.certificate, attributes, handle_out)
                   : 0;
    return data->data.key ? store_key(ctx, type, data->data.key, attributes, handle_out) : 0;
}
