#include "token_module.h"

#include <dlfcn.h>

#include <cstring>

TokenModuleLoad token_module_load(const char *path, CK_FUNCTION_LIST **list) {
    void *library = path ? dlopen(path, RTLD_NOW | RTLD_LOCAL) : nullptr;
    if (!library)
        return TokenModuleLoad::not_loaded;
    auto get_function_list = reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList"));
    if (!get_function_list)
        return TokenModuleLoad::no_entry;
    CK_FUNCTION_LIST *found = nullptr;
    (void)get_function_list(&found);
    if (!found)
        return TokenModuleLoad::no_list;
    *list = found;
    return TokenModuleLoad::ok;
}

bool token_module_initialize(CK_FUNCTION_LIST *f) {
    CK_C_INITIALIZE_ARGS args;
    std::memset(&args, 0, sizeof args);
    args.flags = CKF_OS_LOCKING_OK;
    CK_RV rv = f->C_Initialize(&args);
    if (rv != CKR_OK && rv != CKR_CRYPTOKI_ALREADY_INITIALIZED) {
        rv = f->C_Initialize(nullptr);
        if (rv != CKR_OK && rv != CKR_CRYPTOKI_ALREADY_INITIALIZED)
            return false;
    }
    return true;
}
