// The operator's actions, run in their fixed order after start-up.
#ifndef TOKENCERT_ACTIONS_H
#define TOKENCERT_ACTIONS_H

#include <p11-kit/pkcs11.h>

#include "options.h"

struct ActionsOutcome {
    CK_RV result = CKR_OK;
    bool print_ok = true;  // false after a failed action
};

// Runs the requested actions; exits at once when a token check fails.
ActionsOutcome run_actions(const CommandLine &cmd, CK_RV result_so_far);

#endif
