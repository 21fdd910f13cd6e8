#include "p11_engine_session.h"

#include <cstdio>
#include <cstring>

CK_RV p11_token_slots(CK_FUNCTION_LIST *f, std::vector<CK_SLOT_ID> &slots) {
    slots.clear();
    if (!f)
        return CKR_GENERAL_ERROR;
    CK_ULONG count = 0;
    CK_RV rv = f->C_GetSlotList(CK_TRUE, nullptr, &count);
    if (rv != CKR_OK)
        return rv;
    if (count == 0)
        return CKR_OK;
    slots.resize(count);
    rv = f->C_GetSlotList(CK_TRUE, slots.data(), &count);
    if (rv != CKR_OK) {
        slots.clear();
        return rv;
    }
    slots.resize(count);
    return CKR_OK;
}

CK_RV P11Session::open(const P11_ENGINE_CTX *ctx) {
    close();
    if (!ctx || !ctx->function_list)
        return CKR_GENERAL_ERROR;
    CK_SESSION_HANDLE session = 0;
    CK_RV rv = ctx->function_list->C_OpenSession(ctx->slot_id, ctx->session_flags, nullptr, nullptr, &session);
    if (rv != CKR_OK)
        return rv;
    f_ = ctx->function_list;
    handle_ = session;
    return CKR_OK;
}

bool P11Session::open_or_report(const P11_ENGINE_CTX *ctx) {
    // Without a module no call is made: say so rather than quote a code.
    if (ctx && !ctx->function_list) {
        std::fputs("open_session: api not attached\n", stderr);
        return false;
    }
    CK_RV rv = open(ctx);
    if (rv != CKR_OK)
        std::fprintf(stderr, "C_OpenSession failed, rc = 0x%x\n", static_cast<unsigned>(rv));
    return rv == CKR_OK;
}

CK_RV P11Session::close() {
    if (!handle_)
        return CKR_OK;
    CK_RV rv = f_->C_CloseSession(handle_);
    handle_ = 0;
    f_ = nullptr;
    return rv;
}

P11FindResult p11_find_objects(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_ATTRIBUTE *templ,
                               CK_ULONG count, CK_ULONG max_objects) {
    P11FindResult result;
    if (!f) {
        result.rv = CKR_GENERAL_ERROR;
        result.failed_call = "C_FindObjectsInit";
        return result;
    }
    CK_RV rv = f->C_FindObjectsInit(session, templ, count);
    if (rv != CKR_OK) {
        result.rv = rv;
        result.failed_call = "C_FindObjectsInit";
        return result;
    }
    const CK_ULONG batch = max_objects ? max_objects : 16;
    for (;;) {
        size_t have = result.handles.size();
        CK_ULONG want = max_objects ? max_objects - have : batch;
        if (want == 0)
            break;
        result.handles.resize(have + want);
        CK_ULONG found = 0;
        rv = f->C_FindObjects(session, result.handles.data() + have, want, &found);
        if (rv != CKR_OK) {
            result.handles.clear();
            result.rv = rv;
            result.failed_call = "C_FindObjects";
            f->C_FindObjectsFinal(session);
            return result;
        }
        result.handles.resize(have + found);
        if (found < want)
            break;
    }
    rv = f->C_FindObjectsFinal(session);
    if (rv != CKR_OK) {
        result.handles.clear();
        result.rv = rv;
        result.failed_call = "C_FindObjectsFinal";
    }
    return result;
}

bool p11_label_key_pair(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE pub, CK_OBJECT_HANDLE priv,
                        const char *label) {
    CK_ATTRIBUTE set = {CKA_LABEL, const_cast<char *>(label), static_cast<CK_ULONG>(std::strlen(label) + 1)};
    for (CK_OBJECT_HANDLE h : {pub, priv}) {
        CK_RV rv = f->C_SetAttributeValue(session, h, &set, 1);
        if (rv != CKR_OK) {
            std::fprintf(stderr, "C_SetAttributeValue failed, rc = 0x%x\n", static_cast<unsigned>(rv));
            f->C_DestroyObject(session, pub);
            f->C_DestroyObject(session, priv);
            return false;
        }
    }
    return true;
}
