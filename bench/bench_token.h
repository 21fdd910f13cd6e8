// A fresh software token for a benchmark, in a temporary directory of its
// own: initialised, its user PIN set ("user-pin"), and a read-write session
// logged in as the user. A program that can't have it ends with a line.
#ifndef BENCH_TOKEN_H
#define BENCH_TOKEN_H

#include <dlfcn.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <string>

#include <p11-kit/pkcs11.h>

struct BenchToken {
    CK_FUNCTION_LIST *f = nullptr;
    std::string dir;
    CK_SLOT_ID slot = 0;
    CK_SESSION_HANDLE s = 0;
};

// The entry point of the module at `path`, or nullptr.
inline CK_C_GetFunctionList module_entry(const char *path)
{
    void *h = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    return h ? reinterpret_cast<CK_C_GetFunctionList>(dlsym(h, "C_GetFunctionList")) : nullptr;
}

// `prefix` names the directory; `get` is the module's entry point (the
// module reads its directory when initialised).
inline BenchToken fresh_bench_token(const char *prefix, CK_C_GetFunctionList get)
{
    BenchToken t;
    std::string tmpl = std::string("/tmp/") + prefix + "-XXXXXX";
    t.dir = mkdtemp(tmpl.data());
    setenv("SOFTTOKEN_DIR", t.dir.c_str(), 1);
    setenv("SOFTTOKEN_PBKDF2_ITERATIONS", "1000", 1);
    auto text = [](const char *s) { return reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char *>(s)); };
    unsigned char label[32];
    std::memset(label, ' ', sizeof label);
    CK_ULONG n = 1;
    if (!get || get(&t.f) != CKR_OK || t.f->C_Initialize(nullptr) != CKR_OK ||
        t.f->C_GetSlotList(CK_TRUE, &t.slot, &n) != CKR_OK || t.f->C_InitToken(t.slot, text("so-pin-1"), 8, label) != CKR_OK ||
        t.f->C_OpenSession(t.slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &t.s) != CKR_OK ||
        t.f->C_Login(t.s, CKU_SO, text("so-pin-1"), 8) != CKR_OK || t.f->C_InitPIN(t.s, text("user-pin"), 8) != CKR_OK ||
        t.f->C_Logout(t.s) != CKR_OK || t.f->C_Login(t.s, CKU_USER, text("user-pin"), 8) != CKR_OK) {
        std::fprintf(stderr, "cannot set up a software token in %s\n", t.dir.c_str());
        std::exit(1);
    }
    return t;
}

#endif
