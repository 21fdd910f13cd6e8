#include "token_login.h"

TokenPinVerdict token_user_pin_verdict(CK_FUNCTION_LIST *f, CK_SLOT_ID slot, bool configured_pin, CK_RV *info_rv) {
    CK_TOKEN_INFO info;
    CK_RV rv = f->C_GetTokenInfo(slot, &info);
    if (info_rv)
        *info_rv = rv;
    if (rv != CKR_OK)
        return configured_pin ? TokenPinVerdict::info_failed : TokenPinVerdict::may_try;
    if (info.flags & CKF_USER_PIN_LOCKED)
        return TokenPinVerdict::locked;
    if (configured_pin && (info.flags & CKF_USER_PIN_FINAL_TRY))
        return TokenPinVerdict::final_try;
    return TokenPinVerdict::may_try;
}

CK_RV token_user_login(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, const char *pin, std::size_t pin_len) {
    // C_Login does not write through the PIN pointer.
    CK_UTF8CHAR *text = reinterpret_cast<CK_UTF8CHAR *>(const_cast<char *>(pin));
    CK_RV rv = f->C_Login(session, CKU_USER, text, static_cast<CK_ULONG>(pin_len));
    return rv == CKR_USER_ALREADY_LOGGED_IN ? CKR_OK : rv;
}
