#include "p11_module.h"

#include <dlfcn.h>

#include <string>

#include <openssl/bio.h>

#include "p11_errors.h"
#include "tool_state.h"

namespace {

// The loader's message for its last failure, without the path it begins with
// when that is the path already named.
std::string loader_reason(const char *path)
{
    const char *message = dlerror();
    if (message == nullptr)
        return "unknown error";
    std::string reason(message);
    const std::string prefix = std::string(path) + ": ";
    if (reason.compare(0, prefix.size(), prefix) == 0)
        reason.erase(0, prefix.size());
    return reason;
}

}  // namespace

int load_p11_module()
{
    module_handle = dlopen(module_path, RTLD_NOW | RTLD_LOCAL);
    if (module_handle == nullptr) {
        BIO_printf(bio_err, "Couldn't load %s: %s\n", module_path, loader_reason(module_path).c_str());
        return 0;
    }
    auto get_function_list =
        reinterpret_cast<CK_C_GetFunctionList>(dlsym(module_handle, "C_GetFunctionList"));
    if (get_function_list == nullptr) {
        BIO_printf(bio_err, "Couldn't get C_GetFunctionList address: %s\n", loader_reason(module_path).c_str());
        return 0;
    }
    CK_RV rv = get_function_list(&p11_functions);
    if (rv != CKR_OK) {
        print_p11_error("C_GetFunctionList", rv);
        return 0;
    }
    if (p11_functions == nullptr) {
        // A module that reports success without a list is no module to use.
        print_p11_error("C_GetFunctionList", CKR_GENERAL_ERROR);
        return 0;
    }
    return 1;
}

int init_p11_module()
{
    if (!load_p11_module())
        return 5;
    CK_RV rv = p11_functions->C_Initialize(nullptr);
    if (rv != CKR_OK) {
        print_p11_error("C_Initialize", rv);
        finalize_and_exit(rv);
    }
    return 0;
}

void finalize_and_exit(CK_RV failure)
{
    slot_list.clear();
    slot_list.shrink_to_fit();
    CK_RV rv = p11_functions->C_Finalize(nullptr);
    if (module_handle != nullptr) {
        dlclose(module_handle);
        module_handle = nullptr;
    }
    // A module whose C_Finalize succeeds must not turn the failure into success.
    exit_tool(exit_status_for(rv != CKR_OK ? rv : failure));
}

CK_RV get_slot_list()
{
    CK_ULONG count = 0;
    CK_RV rv = p11_functions->C_GetSlotList(CK_TRUE, nullptr, &count);
    if (rv != CKR_OK) {
        print_p11_error("C_GetSlotList", rv);
        return rv;
    }
    if (count == 0) {
        BIO_printf(failure_stream(),
                   "C_GetSlotCount returned 0 slots.\n"
                   "Check that your tokens are installed correctly.\n");
        return TOOL_FAILURE;
    }
    slot_list.assign(count, 0);
    rv = p11_functions->C_GetSlotList(CK_TRUE, slot_list.data(), &count);
    if (rv != CKR_OK) {
        print_p11_error("C_GetSlotList", rv);
        slot_list.clear();
        return rv;
    }
    // The second call may report fewer slots when a token went away between the calls.
    slot_list.resize(count);
    slot_count = count;
    return CKR_OK;
}

CK_RV find_first_token_slot()
{
    for (CK_SLOT_ID slot : slot_list) {
        CK_SLOT_INFO info{};
        if (p11_functions->C_GetSlotInfo(slot, &info) != CKR_OK)
            continue;
        if (info.flags & CKF_TOKEN_PRESENT) {
            token_slot = slot;
            return CKR_OK;
        }
    }
    return CKR_TOKEN_NOT_PRESENT;
}

bool token_has_flags(CK_FLAGS mask)
{
    CK_TOKEN_INFO info{};
    CK_RV rv = p11_functions->C_GetTokenInfo(token_slot, &info);
    if (rv != CKR_OK) {
        print_p11_error("C_GetTokenInfo", rv);
        return false;
    }
    return (info.flags & mask) == mask;
}
