// The user PIN asked for through the caller's OpenSSL UI, for the key
// loaders: the openssl command hands its own UI to ENGINE_load_private_key
// (its -passin value answers the prompt; without one it asks on the
// terminal), and so may any program.
#ifndef PKCS11_UI_PIN_H
#define PKCS11_UI_PIN_H

#include <openssl/types.h>

// Logs the user in with the PIN kept by LOGIN_ON_USE, if any; else with a
// PIN read through ui_method (callback_data is the UI's user data), unless
// the engine has logged in already or no UI is given (both: true, nothing
// done). Opens the engine's session first when
// it has none. False after a line on stderr, prefixed with `who`.
bool p11_login_through_ui(ENGINE *e, UI_METHOD *ui_method, void *callback_data, const char *who);

#endif
