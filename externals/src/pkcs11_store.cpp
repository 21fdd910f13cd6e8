// The engine's object-store method "ZK PKCS11", and what its operations
// share: the attribute list, the class of a store type, key and certificate
// objects read from the token and bound to the store's engine.
#define OPENSSL_SUPPRESS_DEPRECATED  // ENGINE, EVP_PKEY_assign
#include "pkcs11_store.h"

#include "gost_objects.h"
#include "gost_params.h"
#include "oid_der.h"
#include "p11_key_objects.h"
#include "pkcs11_ameth.h"
#include "pkcs11_store_ops.h"

#include <openssl/engine.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <memory>
#include <vector>

P11_ENGINE_CTX *store_ctx(STORE *store) { return p11_engine_ctx_or_report(STORE_get0_engine(store)); }

StoreSearch read_search_attributes(const OPENSSL_ITEM *attributes) {
    StoreSearch search;
    for (const OPENSSL_ITEM *item = attributes; item && item->code != STORE_ATTR_END; ++item) {
        if (item->code == STORE_ATTR_FRIENDLYNAME && item->value) {
            const char *text = static_cast<const char *>(item->value);
            // The size counts the terminating NUL; a label never runs past it.
            size_t size = item->value_size;
            search.label.assign(text, size > 0 ? strnlen(text, size) : 0);
            search.has_label = true;
        } else if (item->code == STORE_ATTR_KEYID && item->value) {
            // The token's own CKA_ID, of whatever length another tool gave it.
            search.bad_id = item->value_size == 0 || item->value_size > kGostKeyIdMax;
            search.has_id = !search.bad_id;
            if (search.has_id) {
                std::memcpy(search.id, item->value, item->value_size);
                search.id_len = item->value_size;
            }
        }
    }
    return search;
}

int report_bad_key_id(const char *who) {
    std::fprintf(stderr, "%s: key identifier must be 1 to %u bytes\n", who, kGostKeyIdMax);
    return 0;
}

bool store_type_class(int type, CK_OBJECT_CLASS *cls) {
    switch (type) {
    case STORE_OBJECT_TYPE_X509_CERTIFICATE:
        *cls = CKO_CERTIFICATE;
        return true;
    case STORE_OBJECT_TYPE_PRIVATE_KEY:
        *cls = CKO_PRIVATE_KEY;
        return true;
    case STORE_OBJECT_TYPE_PUBLIC_KEY:
        *cls = CKO_PUBLIC_KEY;
        return true;
    default:
        return false;
    }
}

int alg_from_hash_params(int hash_param_nid) {
    if (hash_param_nid == gost_nid(GostObj::gost3411_2012_512))
        return gost_nid(GostObj::gost3410_2012_512);
    // A 256-bit GOST R 34.10-2012 key keeps its algorithm, so that its
    // default digest is GOST R 34.11-2012-256.
    if (hash_param_nid == gost_nid(GostObj::gost3411_2012_256))
        return gost_nid(GostObj::gost3410_2012_256);
    return gost_nid(GostObj::gost2001);
}

std::string store_label(const OPENSSL_ITEM *attributes, bool last_wins, const char *prefix) {
    std::string label;
    bool found = false;
    for (const OPENSSL_ITEM *item = attributes; item && item->code != STORE_ATTR_END; ++item) {
        if (item->code != STORE_ATTR_FRIENDLYNAME || !item->value || (found && !last_wins))
            continue;
        const char *text = static_cast<const char *>(item->value);
        label.assign(text, item->value_size > 0 ? strnlen(text, item->value_size) : 0);
        found = true;
    }
    return label.empty() ? time_stamped_label(prefix) : label;
}

void bind_key_to_engine(EVP_PKEY *pkey, ENGINE *engine) {
    if (!pkey || !engine || !gost_key_alg(EVP_PKEY_get_base_id(pkey)))
        return;
    EVP_PKEY_set1_engine(pkey, engine);
}

STORE_OBJECT *wrap_certificate(X509 *certificate) {
    STORE_OBJECT *object = STORE_OBJECT_new();
    if (!object) {
        X509_free(certificate);
        return nullptr;
    }
    object->type = STORE_OBJECT_TYPE_X509_CERTIFICATE;
    object->data.x509.status = STORE_X509_VALID;
    object->data.x509.certificate = certificate;
    return object;
}

STORE_OBJECT *wrap_key(int type, EVP_PKEY *pkey) {
    STORE_OBJECT *object = STORE_OBJECT_new();
    if (!object) {
        EVP_PKEY_free(pkey);
        return nullptr;
    }
    object->type = type;
    object->data.key = pkey;
    return object;
}

EVP_PKEY *key_from_record(int alg, KeyRecordPtr &record, ENGINE *engine) {
    EVP_PKEY *pkey = EVP_PKEY_new();
    if (!pkey || !EVP_PKEY_assign(pkey, alg, record.get())) {
        EVP_PKEY_free(pkey);
        std::fprintf(stderr, "EVP_PKEY_assign failed");
        return nullptr;
    }
    record.release();
    bind_key_to_engine(pkey, engine);
    return pkey;
}

EVP_PKEY *read_token_key(ENGINE *engine, CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                         bool is_public, const StoreSearch *searched, const char *attr_line, int *param_nid_out,
                         int *hash_nid_out, int *alg_out, unsigned char *label_out, CK_ULONG label_cap,
                         unsigned char *id_out) {
    unsigned char id[kGostKeyIdMax] = {};
    unsigned char params3410[16] = {};
    unsigned char params3411[16] = {};
    CK_KEY_TYPE key_type = 0;
    unsigned char value[kGostPubKeyMax] = {};
    CK_ATTRIBUTE templ[6];
    CK_ULONG n = 0;
    if (label_out)
        templ[n++] = {CKA_LABEL, label_out, label_cap};
    const CK_ULONG first = n;
    templ[n++] = {CKA_ID, id, sizeof(id)};
    templ[n++] = {CKA_GOSTR3410_PARAMS, params3410, sizeof(params3410)};
    templ[n++] = {CKA_GOSTR3411_PARAMS, params3411, sizeof(params3411)};
    templ[n++] = {CKA_KEY_TYPE, &key_type, sizeof(key_type)};
    if (is_public)
        templ[n++] = {CKA_VALUE, value, sizeof(value)};
    CK_RV rv = f->C_GetAttributeValue(session, object, templ, n);
    if (rv != CKR_OK) {
        std::fprintf(stderr, attr_line, static_cast<unsigned>(rv));
        return nullptr;
    }
    const CK_ULONG id_len = templ[first].ulValueLen;
    // The caller's buffer has room for our 20-byte identifiers.
    if (id_out)
        std::memcpy(id_out, id, kGostKeyIdLen);

    int param_nid = NID_undef, hash_nid = NID_undef;
    if (!oid_der_to_nid(params3410, templ[first + 1].ulValueLen, &param_nid)) {
        std::fprintf(stderr, "Invalid GOST 3410 param set OID\n");
        return nullptr;
    }
    if (!oid_der_to_nid(params3411, templ[first + 2].ulValueLen, &hash_nid)) {
        std::fprintf(stderr, "Invalid GOST 3411 param set OID\n");
        return nullptr;
    }
    const int alg = alg_from_hash_params(hash_nid);
    if (param_nid_out)
        *param_nid_out = param_nid;
    if (hash_nid_out)
        *hash_nid_out = hash_nid;
    if (alg_out)
        *alg_out = alg;

    KeyRecordPtr record(p11_gost2012_key_new());
    if (!record || !fill_GOST2012_params(record.get(), alg, param_nid))
        return nullptr;
    if (searched)
        gost_key_set_id(*record, searched->id, searched->id_len);
    else
        gost_key_set_id(*record, id, id_len);
    // No key leaves here without its public value: a private key takes it
    // from the public object of its pair, or else from its certificate.
    if (is_public ? !gost_key_take_public_value(*record, value, templ[first + 4].ulValueLen, record->pub_key_len)
                  : !get_pub_key_value(engine, record.get()))
        return nullptr;

    return key_from_record(alg, record, engine);
}

X509 *read_token_certificate(ENGINE *engine, CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session,
                             CK_OBJECT_HANDLE object, const char *attr_line) {
    X509 *certificate = p11_read_certificate(f, session, object, attr_line);
    if (certificate)
        bind_key_to_engine(X509_get0_pubkey(certificate), engine);
    return certificate;
}

namespace {

int zk_store_init(STORE *) { return 1; }

// Nothing is held per handle: only the context is checked.
void zk_store_clean(STORE *store) { (void)store_ctx(store); }

int zk_store_revoke_object(STORE *, int, OPENSSL_ITEM[], OPENSSL_ITEM[]) { return 1; }

int zk_store_update_store(STORE *, OPENSSL_ITEM[], OPENSSL_ITEM[]) { return 1; }

int zk_store_lock_store(STORE *store, OPENSSL_ITEM[], OPENSSL_ITEM[]) { return store_ctx(store) ? 1 : 0; }

int zk_store_unlock_store(STORE *store, OPENSSL_ITEM[], OPENSSL_ITEM[]) { return store_ctx(store) ? 1 : 0; }

int zk_store_ctrl(STORE *, int, long, void *, void (*)(void)) { return 1; }

STORE_METHOD make_method() {
    STORE_METHOD m{};
    m.name = "ZK PKCS11";
    m.init = zk_store_init;
    m.clean = zk_store_clean;
    m.generate_object = zk_store_generate_object;
    m.get_object = zk_store_get_object;
    m.store_object = zk_store_store_object;
    m.modify_object = zk_store_modify_object;
    m.revoke_object = zk_store_revoke_object;
    m.delete_object = zk_store_delete_object;
    m.list_object_start = zk_store_list_start;
    m.list_object_next = zk_store_list_next;
    m.list_object_end = zk_store_list_end;
    m.list_object_endp = zk_store_list_endp;
    m.update_store = zk_store_update_store;
    m.lock_store = zk_store_lock_store;
    m.unlock_store = zk_store_unlock_store;
    m.ctrl = zk_store_ctrl;
    return m;
}

}  // namespace

const STORE_METHOD *pkcs11_store_method(void) {
    static const STORE_METHOD method = make_method();
    return &method;
}
