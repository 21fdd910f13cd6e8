// The token engine's control commands: the command table, the control
// function, and the session and login steps that other engine parts share.
// Every step prints its own one-line message on stderr and returns 1/0.
#ifndef PKCS11_CTRL_H
#define PKCS11_CTRL_H

#include "pkcs11_core_eng.h"

#include <openssl/types.h>

struct ENGINE_CMD_DEFN_st;

// The command table, terminated by an all-zero record.
const struct ENGINE_CMD_DEFN_st *pkcs11_engine_cmd_defns(void);

// The control function installed by the bind step.
int pkcs11_engine_ctrl(ENGINE *e, int cmd, long i, void *p, void (*f)(void));

// Chooses a slot when none is chosen (first slot with a token present) and
// opens a session with the context's flags into ctx->session.
int open_session(ENGINE *e);
// C_CloseSession on the current session; the handle stays in the context.
int close_session(ENGINE *e);
// C_Login as the user with the kept PIN (no module attached: succeeds).
int login(ENGINE *e);
// C_Login as the user with `pin` on the context's session (module attached);
// sets logged_in on success, else prints "C_Login failed, rc = 0x%x\n".
int user_login(P11_ENGINE_CTX *ctx, const SecretString &pin);
// C_Logout on the current session.
int logout(ENGINE *e);

#endif
