// The token layer's sessions and searches: the slots with a token, a
// session that closes itself, an object search that always finishes, a
// session object destroyed when its step is done, and reading one attribute
// of any length. Plain PKCS#11: messages stay with the callers.
#ifndef TOKEN_SESSION_H
#define TOKEN_SESSION_H

#include "pkcs11_vendor.h"

#include <vector>

// The slots reporting a token present (C_GetSlotList twice). CKR_OK or the
// failing call's code.
CK_RV p11_token_slots(CK_FUNCTION_LIST *f, std::vector<CK_SLOT_ID> &slots);

// A session on a slot, closed when the guard goes out of scope.
class TokenSession {
public:
    TokenSession() = default;
    TokenSession(const TokenSession &) = delete;
    TokenSession &operator=(const TokenSession &) = delete;
    ~TokenSession() { close(); }

    // C_OpenSession (closing the session held before); CKR_OK or its code
    // (CKR_GENERAL_ERROR without a function list).
    CK_RV open(CK_FUNCTION_LIST *f, CK_SLOT_ID slot, CK_FLAGS flags);
    // C_CloseSession, when open; the code of that call (CKR_OK when closed).
    CK_RV close();
    // Forgets the session without calling the module (left to the module's
    // own end, when the module may be gone already).
    void release() { f_ = nullptr, handle_ = 0; }

    CK_SESSION_HANDLE handle() const { return handle_; }
    bool is_open() const { return handle_ != 0; }

private:
    CK_FUNCTION_LIST *f_ = nullptr;
    CK_SESSION_HANDLE handle_ = 0;
};

// The outcome of an object search: the handles found, or the call that
// failed ("C_FindObjectsInit", "C_FindObjects", "C_FindObjectsFinal") and
// its code.
struct P11FindResult {
    CK_RV rv = CKR_OK;
    const char *failed_call = nullptr;
    std::vector<CK_OBJECT_HANDLE> handles;
    bool ok() const { return rv == CKR_OK; }
};

// Searches `session` with the template, up to max_objects handles (0: all
// of them, fetched in batches). C_FindObjectsFinal is called whenever the
// search was started.
P11FindResult p11_find_objects(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_ATTRIBUTE *templ,
                               CK_ULONG count, CK_ULONG max_objects = 0);

// The same, with the template's last entry set to CKA_LABEL = `label`: with
// the label's zero byte and, when that finds nothing, without it (as
// search_label_both_ways). The result of the last search made.
P11FindResult p11_find_by_label(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_ATTRIBUTE *templ,
                                CK_ULONG count, const char *label, CK_ULONG max_objects = 0);

// A session object made during one step, destroyed when the step is done.
class TokenObjectGuard {
public:
    TokenObjectGuard(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session) : f_(f), session_(session) {}
    TokenObjectGuard(const TokenObjectGuard &) = delete;
    TokenObjectGuard &operator=(const TokenObjectGuard &) = delete;
    ~TokenObjectGuard() { destroy(); }
    CK_OBJECT_HANDLE *out() { return &handle_; }
    CK_OBJECT_HANDLE get() const { return handle_; }
    // C_DestroyObject, once; CKR_OK when there is nothing to destroy.
    CK_RV destroy();

private:
    CK_FUNCTION_LIST *f_;
    CK_SESSION_HANDLE session_;
    CK_OBJECT_HANDLE handle_ = CK_INVALID_HANDLE;
};

// The whole value of one attribute (its length asked first). CKR_OK, the
// call's code, CKR_ATTRIBUTE_TYPE_INVALID for a value the token does not
// give, or CKR_HOST_MEMORY for a length no memory can hold.
CK_RV token_read_attribute(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                           CK_ATTRIBUTE_TYPE type, std::vector<unsigned char> &value);

#endif
