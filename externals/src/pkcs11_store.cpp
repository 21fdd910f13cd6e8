// The engine's object-store method "ZK PKCS11". The slots for storing,
// finding, deleting, listing and generating objects on the token are filled
// in as those operations arrive; a NULL slot makes the front end fail.
#include "pkcs11_store.h"

#include "pkcs11_core_eng.h"

namespace {

P11_ENGINE_CTX *store_ctx(STORE *store) { return p11_engine_ctx_or_report(STORE_get0_engine(store)); }

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
    m.generate_object = nullptr;
    m.get_object = nullptr;
    m.store_object = nullptr;
    m.modify_object = nullptr;
    m.revoke_object = zk_store_revoke_object;
    m.delete_object = nullptr;
    m.list_object_start = nullptr;
    m.list_object_next = nullptr;
    m.list_object_end = nullptr;
    m.list_object_endp = nullptr;
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
