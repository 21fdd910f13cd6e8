#include "token_session.h"

#include "p11_label_search.h"

#include <exception>

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

CK_RV TokenSession::open(CK_FUNCTION_LIST *f, CK_SLOT_ID slot, CK_FLAGS flags) {
    close();
    if (!f)
        return CKR_GENERAL_ERROR;
    CK_SESSION_HANDLE session = 0;
    CK_RV rv = f->C_OpenSession(slot, flags, nullptr, nullptr, &session);
    if (rv != CKR_OK)
        return rv;
    f_ = f;
    handle_ = session;
    return CKR_OK;
}

CK_RV TokenSession::close() {
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

CK_RV TokenObjectGuard::destroy() {
    if (handle_ == CK_INVALID_HANDLE)
        return CKR_OK;
    CK_OBJECT_HANDLE h = handle_;
    handle_ = CK_INVALID_HANDLE;
    return f_->C_DestroyObject(session_, h);
}

CK_RV token_read_attribute(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                           CK_ATTRIBUTE_TYPE type, std::vector<unsigned char> &value) {
    value.clear();
    CK_ATTRIBUTE attr = {type, nullptr, 0};
    CK_RV rv = f->C_GetAttributeValue(session, object, &attr, 1);
    if (rv == CKR_OK) {
        if (attr.ulValueLen == CK_UNAVAILABLE_INFORMATION)
            rv = CKR_ATTRIBUTE_TYPE_INVALID;
        else {
            try {
                value.resize(attr.ulValueLen);
            } catch (const std::exception &) {
                rv = CKR_HOST_MEMORY;  // a length no memory can hold
            }
        }
    }
    if (rv == CKR_OK) {
        attr.pValue = value.data();
        rv = f->C_GetAttributeValue(session, object, &attr, 1);
    }
    if (rv == CKR_OK)
        value.resize(attr.ulValueLen);
    else
        value.clear();
    return rv;
}

P11FindResult p11_find_by_label(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_ATTRIBUTE *templ,
                                CK_ULONG count, const char *label, CK_ULONG max_objects) {
    P11FindResult result;
    search_label_both_ways(label, [&](const char *text, CK_ULONG len) {
        templ[count - 1] = {CKA_LABEL, const_cast<char *>(text), len};
        result = p11_find_objects(f, session, templ, count, max_objects);
        return !result.ok() || !result.handles.empty();
    });
    return result;
}
