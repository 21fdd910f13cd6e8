// The user login of the actions that change the token (import, removal):
// the PIN from its source or the prompt, handed to the token layer.
#ifndef TOKENCERT_USER_LOGIN_H
#define TOKENCERT_USER_LOGIN_H

// Asks for the user PIN ("Enter token user PIN:") and logs in: true when
// logged in; false after "Can't get user PIN" or "Token LOGIN failed".
bool login_with_pin();

#endif
