// Small PKCS#11 helpers shared by the engine's parts: the list of slots with
// a token, a short session that closes itself, and an object search that
// always finishes. Messages stay with the callers.
#ifndef P11_ENGINE_SESSION_H
#define P11_ENGINE_SESSION_H

#include "pkcs11_core_eng.h"

#include <vector>

// The slots reporting a token present (C_GetSlotList twice). CKR_OK or the
// failing call's code.
CK_RV p11_token_slots(CK_FUNCTION_LIST *f, std::vector<CK_SLOT_ID> &slots);

// A session of its own on the engine's slot with the engine's session flags,
// closed when the guard goes out of scope.
class P11Session {
public:
    P11Session() = default;
    P11Session(const P11Session &) = delete;
    P11Session &operator=(const P11Session &) = delete;
    ~P11Session() { close(); }

    // C_OpenSession on ctx's slot with ctx's flags; CKR_OK or its code
    // (CKR_GENERAL_ERROR when no module is attached).
    CK_RV open(const P11_ENGINE_CTX *ctx);
    // open(), printing "C_OpenSession failed, rc = 0x%x\n" when it fails
    // ("open_session: api not attached\n" without a module); true when the
    // session is open.
    bool open_or_report(const P11_ENGINE_CTX *ctx);
    // C_CloseSession, when open; the code of that call (CKR_OK when closed).
    CK_RV close();

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

// Gives a new key pair the label (stored with its zero byte) on both
// objects; when that fails, prints "C_SetAttributeValue failed, rc = 0x%x\n"
// and destroys both, so that no unlabelled pair is left behind.
bool p11_label_key_pair(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE pub, CK_OBJECT_HANDLE priv,
                        const char *label);

#endif
