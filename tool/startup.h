// Start-up of a run: the GOST algorithms, the module, the slot, the session
// and the store.
#ifndef TOKENCERT_STARTUP_H
#define TOKENCERT_STARTUP_H

#include <p11-kit/pkcs11.h>

// Makes the GOST algorithms and the object store available; exits with -1
// when they cannot be.
void bind_token_backend();

// Loads and initialises the module and hands its function list on; exits on
// failure.
void attach_module();

// Opens the tool's session on token_slot, hands it on and opens the object
// store; exits on failure. A token that refuses read-write
// sessions gets a read-only one, unless the run is to write to it.
void open_session_and_store(bool writes);

// "OK", closes the tool's session and returns the exit status for `result`.
int finish_run(CK_RV result, bool print_ok);

#endif
