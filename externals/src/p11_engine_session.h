// The token layer's session as the engine's parts use it: on the engine's
// slot with its flags. Messages stay with the callers.
#ifndef P11_ENGINE_SESSION_H
#define P11_ENGINE_SESSION_H

#include "pkcs11_core_eng.h"
#include "token_session.h"

#include <vector>

// A session of its own on the engine's slot with the engine's session flags,
// closed when the guard goes out of scope.
class P11Session : public TokenSession {
public:
    using TokenSession::open;
    // C_OpenSession on ctx's slot with ctx's flags; CKR_OK or its code
    // (CKR_GENERAL_ERROR when no module is attached).
    CK_RV open(const P11_ENGINE_CTX *ctx);
    // open(), printing "C_OpenSession failed, rc = 0x%x\n" when it fails
    // ("open_session: api not attached\n" without a module); true when the
    // session is open.
    bool open_or_report(const P11_ENGINE_CTX *ctx);
};

// Gives a new key pair the label (stored with its zero byte) on both
// objects; when that fails, prints "C_SetAttributeValue failed, rc = 0x%x\n"
// and destroys both, so that no unlabelled pair is left behind.
bool p11_label_key_pair(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE pub, CK_OBJECT_HANDLE priv,
                        const char *label);

#endif
