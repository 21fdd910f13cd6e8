// The object-store front end: handles, objects, and the calls that reach the
// back end's method.
#define OPENSSL_SUPPRESS_DEPRECATED  // ENGINE_init/ENGINE_finish and ENGINE ex_data
#include "store.h"

#include <openssl/bn.h>
#include <openssl/buffer.h>
#include <openssl/crypto.h>
#include <openssl/engine.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <mutex>
#include <new>

struct STORE {
    const STORE_METHOD *meth;
    ENGINE *engine;
};

namespace {

// The ENGINE ex_data slot that links an engine to its store method.
int store_method_index() {
    static int index = -1;
    static std::once_flag once;
    std::call_once(once, [] { index = ENGINE_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr); });
    return index;
}

const STORE_METHOD *method_of(const STORE *store) { return store ? store->meth : nullptr; }

STORE_OBJECT *get_object(STORE *store, int type, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]) {
    const STORE_METHOD *m = method_of(store);
    if (!m || !m->get_object)
        return nullptr;
    return m->get_object(store, type, attributes, parameters);
}

int handle_object(STORE *store, int type, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[],
                  STORE_HANDLE_OBJECT_FUNC_PTR STORE_METHOD::*slot) {
    const STORE_METHOD *m = method_of(store);
    if (!m || !(m->*slot))
        return 0;
    return (m->*slot)(store, type, attributes, parameters) ? 1 : 0;
}

// Hands a wrapped payload to the method's store_object. The object's own
// type stays 0: the method reads the payload that belongs to `type`.
int store_wrapped(STORE *store, int type, STORE_OBJECT *object, OPENSSL_ITEM attributes[],
                  OPENSSL_ITEM parameters[]) {
    const STORE_METHOD *m = method_of(store);
    int ok = (m && m->store_object) ? (m->store_object(store, type, object, attributes, parameters) ? 1 : 0) : 0;
    return ok;
}

X509 *take_certificate(STORE_OBJECT *object) {
    if (!object)
        return nullptr;
    X509 *cert = object->data.x509.certificate;
    if (cert && !X509_up_ref(cert))
        cert = nullptr;
    STORE_OBJECT_free(object);
    return cert;
}

EVP_PKEY *take_key(STORE_OBJECT *object) {
    if (!object)
        return nullptr;
    EVP_PKEY *key = object->data.key;
    if (key && !EVP_PKEY_up_ref(key))
        key = nullptr;
    STORE_OBJECT_free(object);
    return key;
}

int store_key(STORE *store, int type, EVP_PKEY *key, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]) {
    if (!method_of(store) || !key)
        return 0;
    STORE_OBJECT *object = STORE_OBJECT_new();
    if (!object)
        return 0;
    if (!EVP_PKEY_up_ref(key)) {
        STORE_OBJECT_free(object);
        return 0;
    }
    object->data.key = key;
    // The payload belongs to `type`; say so for STORE_OBJECT_free only.
    int ok = store_wrapped(store, type, object, attributes, parameters);
    object->type = type;
    STORE_OBJECT_free(object);
    return ok;
}

}  // namespace

// --- The engine-to-method link.

int ENGINE_set_STORE(ENGINE *e, const STORE_METHOD *method) {
    int index = store_method_index();
    if (!e || index < 0)
        return 0;
    return ENGINE_set_ex_data(e, index, const_cast<STORE_METHOD *>(method)) ? 1 : 0;
}

const STORE_METHOD *ENGINE_get_STORE(const ENGINE *e) {
    int index = store_method_index();
    if (!e || index < 0)
        return nullptr;
    return static_cast<const STORE_METHOD *>(ENGINE_get_ex_data(e, index));
}

int ENGINE_register_STORE(ENGINE *e) { return ENGINE_get_STORE(e) ? 1 : 0; }

// --- Handles.

STORE *STORE_new_engine(ENGINE *engine) {
    if (!engine || !ENGINE_init(engine))
        return nullptr;
    const STORE_METHOD *meth = ENGINE_get_STORE(engine);
    if (!meth) {
        ENGINE_finish(engine);
        return nullptr;
    }
    STORE *store = new (std::nothrow) STORE{meth, nullptr};
    if (!store) {
        ENGINE_finish(engine);
        return nullptr;
    }
    if (meth->init && !meth->init(store)) {
        delete store;
        ENGINE_finish(engine);
        return nullptr;
    }
    store->engine = engine;
    return store;
}

void STORE_free(STORE *store) {
    if (!store)
        return;
    if (store->meth && store->meth->clean)
        store->meth->clean(store);
    if (store->engine)
        ENGINE_finish(store->engine);
    delete store;
}

const STORE_METHOD *STORE_get_method(const STORE *store) { return method_of(store); }

ENGINE *STORE_get0_engine(const STORE *store) { return store ? store->engine : nullptr; }

int STORE_ctrl(STORE *store, int cmd, long i, void *p, void (*f)(void)) {
    const STORE_METHOD *m = method_of(store);
    if (!m || !m->ctrl)
        return 0;
    return m->ctrl(store, cmd, i, p, f);
}

// --- Objects.

STORE_OBJECT *STORE_OBJECT_new(void) { return new (std::nothrow) STORE_OBJECT{}; }

void STORE_OBJECT_free(STORE_OBJECT *object) {
    if (!object)
        return;
    switch (object->type) {
    case STORE_OBJECT_TYPE_X509_CERTIFICATE:
        X509_free(object->data.x509.certificate);
        break;
    case STORE_OBJECT_TYPE_X509_CRL:
        X509_CRL_free(object->data.crl);
        break;
    case STORE_OBJECT_TYPE_PRIVATE_KEY:
    case STORE_OBJECT_TYPE_PUBLIC_KEY:
        EVP_PKEY_free(object->data.key);
        break;
    case STORE_OBJECT_TYPE_NUMBER:
        BN_free(object->data.number);
        break;
    case STORE_OBJECT_TYPE_ARBITRARY:
        BUF_MEM_free(object->data.arbitrary);
        break;
    default:
        break;
    }
    delete object;
}

// --- Certificates.

X509 *STORE_get_certificate(STORE *store, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]) {
    return take_certificate(get_object(store, STORE_OBJECT_TYPE_X509_CERTIFICATE, attributes, parameters));
}

int STORE_store_certificate(STORE *store, X509 *certificate, OPENSSL_ITEM attributes[],
                            OPENSSL_ITEM parameters[]) {
    if (!method_of(store) || !certificate)
        return 0;
    STORE_OBJECT *object = STORE_OBJECT_new();
    if (!object)
        return 0;
    if (!X509_up_ref(certificate)) {
        STORE_OBJECT_free(object);
        return 0;
    }
    object->data.x509.certificate = certificate;
    object->data.x509.status = STORE_X509_VALID;
    int ok = store_wrapped(store, STORE_OBJECT_TYPE_X509_CERTIFICATE, object, attributes, parameters);
    object->type = STORE_OBJECT_TYPE_X509_CERTIFICATE;
    STORE_OBJECT_free(object);
    return ok;
}

int STORE_delete_certificate(STORE *store, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]) {
    return handle_object(store, STORE_OBJECT_TYPE_X509_CERTIFICATE, attributes, parameters,
                         &STORE_METHOD::delete_object);
}

int STORE_revoke_certificate(STORE *store, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]) {
    return handle_object(store, STORE_OBJECT_TYPE_X509_CERTIFICATE, attributes, parameters,
                         &STORE_METHOD::revoke_object);
}

int STORE_modify_certificate(STORE *store, OPENSSL_ITEM search_attributes[], OPENSSL_ITEM add_attributes[],
                             OPENSSL_ITEM modify_attributes[], OPENSSL_ITEM delete_attributes[],
                             OPENSSL_ITEM parameters[]) {
    const STORE_METHOD *m = method_of(store);
    if (!m || !m->modify_object)
        return 0;
    return m->modify_object(store, STORE_OBJECT_TYPE_X509_CERTIFICATE, search_attributes, add_attributes,
                            modify_attributes, delete_attributes, parameters)
               ? 1
               : 0;
}

// --- Keys.

EVP_PKEY *STORE_get_private_key(STORE *store, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]) {
    return take_key(get_object(store, STORE_OBJECT_TYPE_PRIVATE_KEY, attributes, parameters));
}

int STORE_store_private_key(STORE *store, EVP_PKEY *key, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]) {
    return store_key(store, STORE_OBJECT_TYPE_PRIVATE_KEY, key, attributes, parameters);
}

int STORE_delete_private_key(STORE *store, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]) {
    return handle_object(store, STORE_OBJECT_TYPE_PRIVATE_KEY, attributes, parameters,
                         &STORE_METHOD::delete_object);
}

EVP_PKEY *STORE_generate_key(STORE *store, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]) {
    const STORE_METHOD *m = method_of(store);
    if (!m || !m->generate_object)
        return nullptr;
    return take_key(m->generate_object(store, STORE_OBJECT_TYPE_PRIVATE_KEY, attributes, parameters));
}

EVP_PKEY *STORE_get_public_key(STORE *store, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]) {
    return take_key(get_object(store, STORE_OBJECT_TYPE_PUBLIC_KEY, attributes, parameters));
}

int STORE_store_public_key(STORE *store, EVP_PKEY *key, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]) {
    return store_key(store, STORE_OBJECT_TYPE_PUBLIC_KEY, key, attributes, parameters);
}

int STORE_delete_public_key(STORE *store, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]) {
    return handle_object(store, STORE_OBJECT_TYPE_PUBLIC_KEY, attributes, parameters,
                         &STORE_METHOD::delete_object);
}

// --- Listing.

void *STORE_list_start(STORE *store, int type, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]) {
    const STORE_METHOD *m = method_of(store);
    if (!m || !m->list_object_start)
        return nullptr;
    return m->list_object_start(store, type, attributes, parameters);
}

STORE_OBJECT *STORE_list_next(STORE *store, void *handle) {
    const STORE_METHOD *m = method_of(store);
    if (!m || !m->list_object_next || !handle)
        return nullptr;
    return m->list_object_next(store, handle);
}

int STORE_list_end(STORE *store, void *handle) {
    const STORE_METHOD *m = method_of(store);
    if (!m || !m->list_object_end || !handle)
        return 0;
    return m->list_object_end(store, handle);
}

int STORE_list_endp(STORE *store, void *handle) {
    const STORE_METHOD *m = method_of(store);
    if (!m || !m->list_object_endp || !handle)
        return 0;
    return m->list_object_endp(store, handle);
}

// --- The store as a whole.

int STORE_update_store(STORE *store, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]) {
    const STORE_METHOD *m = method_of(store);
    return (m && m->update_store) ? m->update_store(store, attributes, parameters) : 0;
}

int STORE_lock_store(STORE *store, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]) {
    const STORE_METHOD *m = method_of(store);
    return (m && m->lock_store) ? m->lock_store(store, attributes, parameters) : 0;
}

int STORE_unlock_store(STORE *store, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]) {
    const STORE_METHOD *m = method_of(store);
    return (m && m->unlock_store) ? m->unlock_store(store, attributes, parameters) : 0;
}
