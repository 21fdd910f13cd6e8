// Loading the PKCS#11 module, its slot list and the token check.
#ifndef TOKENCERT_P11_MODULE_H
#define TOKENCERT_P11_MODULE_H

#include <p11-kit/pkcs11.h>

// Loads module_path and fills p11_functions: 1 on success, 0 after its line.
int load_p11_module();

// load_p11_module, then C_Initialize: 0 on success, 5 when the library could
// not be loaded. A failing C_Initialize ends the process (finalize_and_exit).
int init_p11_module();

// Releases the slot list, finalizes and unloads the module and exits with
// the result of C_Finalize (or `failure` when that result is CKR_OK).
[[noreturn]] void finalize_and_exit(CK_RV failure);

// Reads the slots with a token present into slot_list / slot_count:
// 0, the failing call's code, or 6 when the module reports no slot.
CK_RV get_slot_list();

// Sets token_slot to the first listed slot that reports a token present:
// 0, or CKR_TOKEN_NOT_PRESENT with token_slot unchanged.
CK_RV find_first_token_slot();

// True when C_GetTokenInfo on token_slot succeeds and every bit of `mask`
// is set in the token's flags.
bool token_has_flags(CK_FLAGS mask);

#endif
