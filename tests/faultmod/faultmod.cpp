// A PKCS#11 module for tests: forwards every call to a real module and makes
// one named function fail, as the test's environment asks:
//   FAULTMOD_TARGET   path of the real module (default: SoftHSM2)
//   FAULTMOD_FUNC     name of the function to fail, e.g. C_OpenSession, or several,
//                     comma-separated, each with "@N" for a skip count of its own
//   FAULTMOD_RV       the code it returns (C syntax, default 0x5)
//   FAULTMOD_RUN      a shell command the failing call runs first (kill -9 $PPID: a crash)
//   FAULTMOD_SKIP     calls of that function that pass before it fails (default 0)
//   FAULTMOD_ATTR     for C_GetAttributeValue: fail only queries of this type
//   FAULTMOD_CLEAR_TOKEN_FLAGS  bits removed from C_GetTokenInfo's flags
//   FAULTMOD_SET_TOKEN_FLAGS    bits added to them (after the removal)
//   FAULTMOD_CLEAR_SLOT_FLAGS   bits removed from C_GetSlotInfo's flags
//   FAULTMOD_ZERO_SLOTS         when set, C_GetSlotList reports no slot
//   FAULTMOD_READ_ONLY          when set, the token refuses read-write sessions
//                               (CKR_TOKEN_WRITE_PROTECTED), as a trust store does
//   FAULTMOD_HUGE_LENGTH        when set, C_GetAttributeValue answers length
//                               queries (no value buffer) of the FAULTMOD_ATTR
//                               type, or of every type, with an absurd length
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>

#include <dlfcn.h>
#include <unistd.h>
#include <p11-kit/pkcs11.h>

namespace {

CK_FUNCTION_LIST *real = nullptr;
CK_FUNCTION_LIST wrapped;
std::map<std::string, unsigned long> calls_seen;

const char *env(const char *name)
{
    const char *value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

unsigned long env_number(const char *name, unsigned long fallback)
{
    const char *value = env(name);
    return value != nullptr ? std::strtoul(value, nullptr, 0) : fallback;
}

// True when this call of `function` is to fail.
bool fault_now(const char *function)
{
    std::istringstream targets(env("FAULTMOD_FUNC") != nullptr ? env("FAULTMOD_FUNC") : "");
    for (std::string target; std::getline(targets, target, ',');) {
        size_t at = target.find('@');
        if (target.substr(0, at) != function)
            continue;
        unsigned long skip = at == std::string::npos ? env_number("FAULTMOD_SKIP", 0)
                                                     : std::strtoul(target.c_str() + at + 1, nullptr, 0);
        if (calls_seen[function]++ < skip)
            return false;
        if (env("FAULTMOD_RUN") != nullptr && std::system(env("FAULTMOD_RUN")) == -1)
            _exit(8);
        return true;
    }
    return false;
}

CK_RV fault_rv() { return env_number("FAULTMOD_RV", CKR_GENERAL_ERROR); }

#define FORWARD(name, params, args)                 \
    CK_RV wrap_##name params                        \
    {                                               \
        if (fault_now(#name))                       \
            return fault_rv();                      \
        return real->name args;                     \
    }

FORWARD(C_Initialize, (void *a), (a))
FORWARD(C_Finalize, (void *a), (a))
FORWARD(C_GetInfo, (CK_INFO_PTR a), (a))
CK_RV wrap_C_OpenSession(CK_SLOT_ID a, CK_FLAGS b, void *c, CK_NOTIFY d, CK_SESSION_HANDLE_PTR e)
{
    if (fault_now("C_OpenSession"))
        return fault_rv();
    if ((b & CKF_RW_SESSION) && env("FAULTMOD_READ_ONLY") != nullptr)
        return CKR_TOKEN_WRITE_PROTECTED;
    return real->C_OpenSession(a, b, c, d, e);
}
FORWARD(C_CloseSession, (CK_SESSION_HANDLE a), (a))
FORWARD(C_GetSessionInfo, (CK_SESSION_HANDLE a, CK_SESSION_INFO_PTR b), (a, b))
FORWARD(C_Login, (CK_SESSION_HANDLE a, CK_USER_TYPE b, CK_UTF8CHAR_PTR c, CK_ULONG d), (a, b, c, d))
FORWARD(C_Logout, (CK_SESSION_HANDLE a), (a))
FORWARD(C_CreateObject, (CK_SESSION_HANDLE a, CK_ATTRIBUTE_PTR b, CK_ULONG c, CK_OBJECT_HANDLE_PTR d),
        (a, b, c, d))
FORWARD(C_DestroyObject, (CK_SESSION_HANDLE a, CK_OBJECT_HANDLE b), (a, b))
FORWARD(C_SetAttributeValue, (CK_SESSION_HANDLE a, CK_OBJECT_HANDLE b, CK_ATTRIBUTE_PTR c, CK_ULONG d),
        (a, b, c, d))
FORWARD(C_FindObjectsInit, (CK_SESSION_HANDLE a, CK_ATTRIBUTE_PTR b, CK_ULONG c), (a, b, c))
FORWARD(C_FindObjects, (CK_SESSION_HANDLE a, CK_OBJECT_HANDLE_PTR b, CK_ULONG c, CK_ULONG_PTR d),
        (a, b, c, d))
FORWARD(C_FindObjectsFinal, (CK_SESSION_HANDLE a), (a))

CK_RV wrap_C_GetAttributeValue(CK_SESSION_HANDLE a, CK_OBJECT_HANDLE b, CK_ATTRIBUTE_PTR c, CK_ULONG d)
{
    const char *type = env("FAULTMOD_ATTR");
    bool selected = type == nullptr || (d > 0 && c[0].type == std::strtoul(type, nullptr, 0));
    if (selected && fault_now("C_GetAttributeValue"))
        return fault_rv();
    CK_RV rv = real->C_GetAttributeValue(a, b, c, d);
    if (rv == CKR_OK && env("FAULTMOD_HUGE_LENGTH") != nullptr) {
        for (CK_ULONG i = 0; i < d; ++i) {
            bool wanted = type == nullptr || c[i].type == std::strtoul(type, nullptr, 0);
            if (wanted && c[i].pValue == nullptr)
                c[i].ulValueLen = static_cast<CK_ULONG>(-2);
        }
    }
    return rv;
}

CK_RV wrap_C_GetSlotList(CK_BBOOL a, CK_SLOT_ID_PTR b, CK_ULONG_PTR c)
{
    if (fault_now("C_GetSlotList"))
        return fault_rv();
    if (env("FAULTMOD_ZERO_SLOTS") != nullptr) {
        if (c == nullptr)
            return CKR_ARGUMENTS_BAD;
        *c = 0;
        return CKR_OK;
    }
    return real->C_GetSlotList(a, b, c);
}

CK_RV wrap_C_GetSlotInfo(CK_SLOT_ID a, CK_SLOT_INFO_PTR b)
{
    if (fault_now("C_GetSlotInfo"))
        return fault_rv();
    CK_RV rv = real->C_GetSlotInfo(a, b);
    if (rv == CKR_OK)
        b->flags &= ~env_number("FAULTMOD_CLEAR_SLOT_FLAGS", 0);
    return rv;
}

CK_RV wrap_C_GetTokenInfo(CK_SLOT_ID a, CK_TOKEN_INFO_PTR b)
{
    if (fault_now("C_GetTokenInfo"))
        return fault_rv();
    CK_RV rv = real->C_GetTokenInfo(a, b);
    if (rv == CKR_OK)
        b->flags = (b->flags & ~env_number("FAULTMOD_CLEAR_TOKEN_FLAGS", 0)) |
                   env_number("FAULTMOD_SET_TOKEN_FLAGS", 0);
    return rv;
}

CK_RV load_real_module()
{
    if (real != nullptr)
        return CKR_OK;
    const char *path = env("FAULTMOD_TARGET");
    void *library = dlopen(path != nullptr ? path : "/usr/lib/softhsm/libsofthsm2.so",
                           RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        return CKR_GENERAL_ERROR;
    auto get_list = reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList"));
    if (get_list == nullptr || get_list(&real) != CKR_OK || real == nullptr)
        return CKR_GENERAL_ERROR;
    wrapped = *real;
#define INSTALL(name) wrapped.name = wrap_##name
    INSTALL(C_Initialize);
    INSTALL(C_Finalize);
    INSTALL(C_GetInfo);
    INSTALL(C_GetSlotList);
    INSTALL(C_GetSlotInfo);
    INSTALL(C_GetTokenInfo);
    INSTALL(C_OpenSession);
    INSTALL(C_CloseSession);
    INSTALL(C_GetSessionInfo);
    INSTALL(C_Login);
    INSTALL(C_Logout);
    INSTALL(C_CreateObject);
    INSTALL(C_DestroyObject);
    INSTALL(C_GetAttributeValue);
    INSTALL(C_SetAttributeValue);
    INSTALL(C_FindObjectsInit);
    INSTALL(C_FindObjects);
    INSTALL(C_FindObjectsFinal);
#undef INSTALL
    return CKR_OK;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list)
{
    if (fault_now("C_GetFunctionList"))
        return fault_rv();
    if (list == nullptr)
        return CKR_ARGUMENTS_BAD;
    CK_RV rv = load_real_module();
    if (rv != CKR_OK)
        return rv;
    *list = &wrapped;
    return CKR_OK;
}
