// Walking the token's objects of one kind through the store
// (list_object_start/next/end/endp), and generating key pairs on it.
#define OPENSSL_SUPPRESS_DEPRECATED  // ENGINE
#include "gost_objects.h"
#include "p11_engine_session.h"
#include "pkcs11_gost3410_2012.h"
#include "pkcs11_store_ops.h"

#include <openssl/x509.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace {

constexpr CK_ULONG kListLabelCap = 128;
constexpr const char *kListAttrLine = "C_GetAttributeValue failed, rc = 0x%.2x\n";

// One walk: the class searched, the caller's output buffers and pointers,
// the walk's own session, and an object already fetched by endp.
struct ListHandle {
    CK_OBJECT_CLASS cls = 0;
    int type = 0;
    unsigned char *label = nullptr;  // caller's, room for 128 bytes
    unsigned char *id = nullptr;     // caller's, room for 20 bytes (the first 20 of a longer CKA_ID)
    int *param_nid = nullptr;        // caller's, optional
    P11Session session;
    CK_FUNCTION_LIST *f = nullptr;
    CK_OBJECT_HANDLE ahead = 0;  // fetched by endp, handed out by the next call
    bool has_ahead = false;
};

}  // namespace

void *zk_store_list_start(STORE *store, int type, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]) {
    P11_ENGINE_CTX *ctx = store_ctx(store);
    if (!ctx)
        return nullptr;
    CK_OBJECT_CLASS cls;
    if (!store_type_class(type, &cls)) {
        std::fprintf(stderr, "Invalid store object type:%d\n", type);
        return nullptr;
    }
    std::unique_ptr<ListHandle> list(new (std::nothrow) ListHandle);
    if (!list)
        return nullptr;
    list->cls = cls;
    list->type = type;
    list->f = ctx->function_list;
    if (!list->session.open_or_report(ctx))
        return nullptr;
    for (const OPENSSL_ITEM *item = attributes; item && item->code != STORE_ATTR_END; ++item) {
        if (item->code == STORE_ATTR_FRIENDLYNAME)
            list->label = static_cast<unsigned char *>(item->value);
        else if (item->code == STORE_ATTR_KEYID)
            list->id = static_cast<unsigned char *>(item->value);
    }
    for (const OPENSSL_ITEM *item = parameters; item && item->code != 0; ++item) {
        if (item->code == STORE_PARAM_EVP_TYPE)
            list->param_nid = static_cast<int *>(item->value);
    }
    if (!list->label || !list->id) {
        std::fprintf(stderr, "Bad list attributes\n");
        return nullptr;
    }
    CK_ATTRIBUTE templ = {CKA_CLASS, &list->cls, sizeof(list->cls)};
    CK_RV rv = list->f->C_FindObjectsInit(list->session.handle(), &templ, 1);
    if (rv != CKR_OK) {
        std::fprintf(stderr, "C_FindObjectsInit failed, rc = 0x%x\n", static_cast<unsigned>(rv));
        return nullptr;
    }
    return list.release();
}

namespace {

// The next object of the walk: the one endp saw, or a new one. False at the
// end or after the failing call's line.
bool next_handle(ListHandle *list, CK_OBJECT_HANDLE *object) {
    if (list->has_ahead) {
        list->has_ahead = false;
        *object = list->ahead;
        return true;
    }
    CK_ULONG found = 0;
    CK_RV rv = list->f->C_FindObjects(list->session.handle(), object, 1, &found);
    if (rv != CKR_OK) {
        std::fprintf(stderr, "C_FindObjects failed, rc = 0x%x\n", static_cast<unsigned>(rv));
        return false;
    }
    return found > 0;
}

}  // namespace

STORE_OBJECT *zk_store_list_next(STORE *store, void *handle) {
    ListHandle *list = static_cast<ListHandle *>(handle);
    if (!list)
        return nullptr;
    CK_OBJECT_HANDLE object = 0;
    if (!next_handle(list, &object))
        return nullptr;
    ENGINE *engine = STORE_get0_engine(store);
    std::memset(list->label, 0, kListLabelCap);
    std::memset(list->id, 0, kGostKeyIdLen);
    if (list->type == STORE_OBJECT_TYPE_X509_CERTIFICATE) {
        unsigned char id[kGostKeyIdMax];
        CK_ATTRIBUTE names[2] = {{CKA_LABEL, list->label, kListLabelCap}, {CKA_ID, id, sizeof(id)}};
        CK_RV rv = list->f->C_GetAttributeValue(list->session.handle(), object, names, 2);
        if (rv != CKR_OK) {
            std::fprintf(stderr, kListAttrLine, static_cast<unsigned>(rv));
            return nullptr;
        }
        std::memcpy(list->id, id, std::min<CK_ULONG>(names[1].ulValueLen, kGostKeyIdLen));
        X509 *certificate = read_token_certificate(engine, list->f, list->session.handle(), object, kListAttrLine);
        return certificate ? wrap_certificate(certificate) : nullptr;
    }
    EVP_PKEY *pkey = read_token_key(engine, list->f, list->session.handle(), object,
                                    list->type == STORE_OBJECT_TYPE_PUBLIC_KEY, nullptr, kListAttrLine,
                                    list->param_nid, nullptr, nullptr, list->label, kListLabelCap, list->id);
    return pkey ? wrap_key(list->type, pkey) : nullptr;
}

int zk_store_list_end(STORE *, void *handle) {
    ListHandle *list = static_cast<ListHandle *>(handle);
    if (!list)
        return 0;
    CK_RV rv = list->f->C_FindObjectsFinal(list->session.handle());
    if (rv != CKR_OK) {
        std::fprintf(stderr, "C_FindObjectsFinal failed, rc = 0x%x\n", static_cast<unsigned>(rv));
        return 0;
    }
    delete list;  // closes the walk's session
    return 1;
}

int zk_store_list_endp(STORE *, void *handle) {
    ListHandle *list = static_cast<ListHandle *>(handle);
    if (!list)
        return 1;
    if (list->has_ahead)
        return 0;
    CK_ULONG found = 0;
    CK_RV rv = list->f->C_FindObjects(list->session.handle(), &list->ahead, 1, &found);
    if (rv != CKR_OK) {
        std::fprintf(stderr, "C_FindObjects failed, rc = 0x%x\n", static_cast<unsigned>(rv));
        return 1;
    }
    // The object seen here is kept for the next list_object_next.
    list->has_ahead = found > 0;
    return list->has_ahead ? 0 : 1;
}

STORE_OBJECT *zk_store_generate_object(STORE *store, int type, OPENSSL_ITEM attributes[],
                                       OPENSSL_ITEM parameters[]) {
    if (type != STORE_OBJECT_TYPE_PRIVATE_KEY)
        return nullptr;
    P11_ENGINE_CTX *ctx = store_ctx(store);
    if (!ctx)
        return nullptr;
    int alg = gost_nid(GostObj::gost2001);
    int paramset = gost_nid(GostObj::gost2001_cryptopro_a_paramset);
    for (const OPENSSL_ITEM *item = parameters; item && item->code != 0; ++item) {
        if (item->code == STORE_PARAM_EVP_TYPE && item->value)
            alg = *static_cast<const int *>(item->value);
        else if (item->code == STORE_PARAM_KEY_PARAMETERS && item->value)
            paramset = *static_cast<const int *>(item->value);
    }
    KeyRecordPtr record(p11_gost2012_key_new());
    if (!record || !fill_GOST2012_params(record.get(), alg, paramset)) {
        std::fprintf(stderr, "fill_GOST2001_params failed\n");
        return nullptr;
    }
    ENGINE *engine = STORE_get0_engine(store);
    CK_OBJECT_HANDLE pub = 0, priv = 0;
    int rc = pkcs11_gost2012_keygen_wrapper(engine, record.get(), ctx->session, &pub, &priv);
    if (rc != 1) {
        std::fprintf(stderr, "pkcs11_gost2012_keygen_wrapper failed, rc = %d\n", rc);
        return nullptr;
    }
    std::string label = store_label(attributes, false, "Priv key");
    if (!p11_label_key_pair(ctx->function_list, ctx->session, pub, priv, label.c_str()))
        return nullptr;
    EVP_PKEY *pkey = key_from_record(alg, record, engine);
    return pkey ? wrap_key(STORE_OBJECT_TYPE_PRIVATE_KEY, pkey) : nullptr;
}
