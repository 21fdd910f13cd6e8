// Logging in when a token key is first used (LOGIN_ON_USE), and the check
// that keeps a PIN away from a token whose user PIN is locked or, for a
// configured PIN, has one try left.
#ifndef PKCS11_LOGIN_ON_USE_H
#define PKCS11_LOGIN_ON_USE_H

#include "pkcs11_core_eng.h"

// LOGIN_ON_USE: keeps the PIN text p until a token key is first used; the
// module is not called. 0 after one line when p is missing or empty.
int ctrl_login_on_use(P11_ENGINE_CTX *ctx, const char *p);

// Whether a PIN may be tried on the token in ctx's slot (C_GetTokenInfo):
// never on a locked user PIN, and a configured PIN neither on one with one
// try left nor when the token's state is unknown. False after one line.
bool p11_user_pin_may_be_tried(const P11_ENGINE_CTX *ctx, bool configured_pin);

// For every step that needs the user logged in to use a token key. With a
// PIN kept by LOGIN_ON_USE and no login yet, opens the engine's session when
// it has none and logs the user in; the PIN is tried at most once and
// dropped whatever the outcome. True when logged in or nothing is to be
// done; false after one line.
bool p11_login_on_use(ENGINE *e);

#endif
