#include "p11_engine_session.h"

#include <cstdio>
#include <cstring>

CK_RV P11Session::open(const P11_ENGINE_CTX *ctx) {
    if (!ctx) {
        close();
        return CKR_GENERAL_ERROR;
    }
    return open(ctx->function_list, ctx->slot_id, ctx->session_flags);
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
