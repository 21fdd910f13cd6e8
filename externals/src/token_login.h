// The token layer's user login: whether a PIN may be tried on a token, and
// the login itself. Messages stay with the callers.
#ifndef TOKEN_LOGIN_H
#define TOKEN_LOGIN_H

#include "pkcs11_vendor.h"

#include <cstddef>

enum class TokenPinVerdict {
    may_try,
    locked,        // CKF_USER_PIN_LOCKED: no PIN is tried
    final_try,     // CKF_USER_PIN_FINAL_TRY: a configured PIN is not tried
    info_failed,   // C_GetTokenInfo failed: a configured PIN is not tried
};

// Whether a PIN may be tried on the token in `slot`: never on a locked user
// PIN; a configured PIN neither on one with one try left nor when the
// token's state is unknown (an entered PIN may be, C_Login answers for
// itself). *info_rv is the code of C_GetTokenInfo.
TokenPinVerdict token_user_pin_verdict(CK_FUNCTION_LIST *f, CK_SLOT_ID slot, bool configured_pin, CK_RV *info_rv);

// C_Login as the user; CKR_USER_ALREADY_LOGGED_IN counts as CKR_OK.
CK_RV token_user_login(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, const char *pin, std::size_t pin_len);

#endif
