// The token layer's modules: loading a PKCS#11 library and initialising it.
// The library stays loaded for the life of the process. Messages stay with
// the callers.
#ifndef TOKEN_MODULE_H
#define TOKEN_MODULE_H

#include "pkcs11_vendor.h"

enum class TokenModuleLoad {
    ok,
    not_loaded,  // no library at the path (or no path)
    no_entry,    // no C_GetFunctionList in it
    no_list,     // C_GetFunctionList gave no function list
};

// dlopen and C_GetFunctionList; *list is set on ok only.
TokenModuleLoad token_module_load(const char *path, CK_FUNCTION_LIST **list);

// C_Initialize with OS locking, then without arguments; a module already
// initialised counts as initialised. False when both fail.
bool token_module_initialize(CK_FUNCTION_LIST *f);

#endif
