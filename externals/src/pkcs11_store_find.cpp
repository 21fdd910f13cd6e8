// Finding, reading, relabelling and deleting token objects through the
// store: get_object, delete_object and modify_object. Each works in a
// session of its own on the engine's slot, closed before it returns.
#define OPENSSL_SUPPRESS_DEPRECATED  // ENGINE
#include "p11_engine_session.h"
#include "pkcs11_store_ops.h"

#include <openssl/x509.h>

#include <cstdio>
#include <vector>

namespace {

void report_rv(const char *call, CK_RV rv) {
    std::fprintf(stderr, "%s failed, rc = 0x%x\n", call, static_cast<unsigned>(rv));
}

// The objects matching the search: by identifier when `id_wins` and one was
// given, else by label (with and without its zero byte), else by identifier.
// `cls` null searches every class. max_objects as p11_find_objects. False
// after the failing call's line.
bool find_matching(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, const CK_OBJECT_CLASS *cls,
                   const StoreSearch &search, bool id_wins, CK_ULONG max_objects,
                   std::vector<CK_OBJECT_HANDLE> &handles) {
    CK_OBJECT_CLASS class_value = cls ? *cls : 0;
    CK_ATTRIBUTE templ[2];
    CK_ULONG n = 0;
    if (cls)
        templ[n++] = {CKA_CLASS, &class_value, sizeof(class_value)};
    P11FindResult found;
    if (search.has_id && (id_wins || !search.has_label)) {
        templ[n] = {CKA_ID, const_cast<unsigned char *>(search.id), search.id_len};
        found = p11_find_objects(f, session, templ, n + 1, max_objects);
    } else {
        found = p11_find_by_label(f, session, templ, n + 1, search.label.c_str(), max_objects);
    }
    handles = std::move(found.handles);
    if (!found.ok())
        report_rv(found.failed_call, found.rv);
    return found.ok();
}

// Runs `call` (named `call_name` in its failure line) on every object the
// search matches, in a session of its own; the identifier wins over the
// label. Every match is collected first, so the search is finished before
// the first object changes. 1, or 0 after the failing call's line.
template <typename Call>
int apply_to_matches(P11_ENGINE_CTX *ctx, const CK_OBJECT_CLASS *cls, const StoreSearch &search,
                     const char *call_name, Call call) {
    P11Session session;
    if (!session.open_or_report(ctx))
        return 0;
    std::vector<CK_OBJECT_HANDLE> handles;
    if (!find_matching(ctx->function_list, session.handle(), cls, search, true, 0, handles))
        return 0;
    for (CK_OBJECT_HANDLE h : handles) {
        CK_RV rv = call(ctx->function_list, session.handle(), h);
        if (rv != CKR_OK) {
            report_rv(call_name, rv);
            return 0;
        }
    }
    return 1;
}

}  // namespace

STORE_OBJECT *zk_store_get_object(STORE *store, int type, OPENSSL_ITEM attributes[], OPENSSL_ITEM[]) {
    P11_ENGINE_CTX *ctx = store_ctx(store);
    if (!ctx)
        return nullptr;
    CK_OBJECT_CLASS cls;
    if (!store_type_class(type, &cls))
        return nullptr;
    StoreSearch search = read_search_attributes(attributes);
    if (search.bad_id) {
        report_bad_key_id("get_object");
        return nullptr;
    }
    if (!search.any())
        return nullptr;
    CK_FUNCTION_LIST *f = ctx->function_list;
    P11Session session;
    if (!session.open_or_report(ctx))
        return nullptr;
    std::vector<CK_OBJECT_HANDLE> handles;
    if (!find_matching(f, session.handle(), &cls, search, false, 1, handles) || handles.empty())
        return nullptr;

    ENGINE *engine = STORE_get0_engine(store);
    if (type == STORE_OBJECT_TYPE_X509_CERTIFICATE) {
        X509 *certificate = read_token_certificate(engine, f, session.handle(), handles[0],
                                                   "C_GetAttributeValue failed, rc = 0x%x\n");
        session.close();
        return certificate ? wrap_certificate(certificate) : nullptr;
    }
    // Searched by label, a key keeps the identifier read from its object.
    EVP_PKEY *pkey = read_token_key(engine, f, session.handle(), handles[0], type == STORE_OBJECT_TYPE_PUBLIC_KEY,
                                    search.has_label ? nullptr : &search, "C_GetAttributeValue failed, rc = 0x%x\n");
    session.close();
    return pkey ? wrap_key(type, pkey) : nullptr;
}

int zk_store_delete_object(STORE *store, int type, OPENSSL_ITEM attributes[], OPENSSL_ITEM[]) {
    P11_ENGINE_CTX *ctx = store_ctx(store);
    if (!ctx)
        return 0;
    CK_OBJECT_CLASS cls;
    const bool any_class = type == STORE_OBJECT_TYPE_ARBITRARY;
    if (!any_class && !store_type_class(type, &cls))
        return 0;
    StoreSearch search = read_search_attributes(attributes);
    if (search.bad_id)
        return report_bad_key_id("delete_object");
    if (!search.any())
        return 0;
    return apply_to_matches(ctx, any_class ? nullptr : &cls, search, "C_DestroyObject",
                            [](CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE h) {
                                return f->C_DestroyObject(session, h);
                            });
}

int zk_store_modify_object(STORE *store, int type, OPENSSL_ITEM search_attributes[], OPENSSL_ITEM[],
                           OPENSSL_ITEM modify_attributes[], OPENSSL_ITEM[], OPENSSL_ITEM[]) {
    P11_ENGINE_CTX *ctx = store_ctx(store);
    if (!ctx)
        return 0;
    StoreSearch change = read_search_attributes(modify_attributes);
    if (change.bad_id)
        return report_bad_key_id("modify_object");
    // The new label is written with its terminating NUL.
    CK_ATTRIBUTE set[2];
    CK_ULONG set_count = 0;
    if (change.has_label)
        set[set_count++] = {CKA_LABEL, change.label.data(), static_cast<CK_ULONG>(change.label.size() + 1)};
    if (change.has_id)
        set[set_count++] = {CKA_ID, change.id, change.id_len};
    if (set_count == 0) {
        std::fprintf(stderr, "modify_object: No legal attributes to modify\n");
        return 0;
    }
    if (!search_attributes)
        return 1;
    StoreSearch search = read_search_attributes(search_attributes);
    if (search.bad_id)
        return report_bad_key_id("modify_object");
    if (!search.any()) {
        std::fprintf(stderr, "modify_object: No legal search attributes\n");
        return 0;
    }
    CK_OBJECT_CLASS cls;
    const bool has_class = store_type_class(type, &cls);
    return apply_to_matches(ctx, has_class ? &cls : nullptr, search, "C_SetAttributeValue",
                            [&](CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE h) {
                                return f->C_SetAttributeValue(session, h, set, set_count);
                            });
}
