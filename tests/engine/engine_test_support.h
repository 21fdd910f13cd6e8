// Helpers for the engine tests: a fresh engine object per test, stderr
// capture, and a forked child without a terminal for prompts.
#ifndef TOKENCERT_ENGINE_TEST_SUPPORT_H
#define TOKENCERT_ENGINE_TEST_SUPPORT_H

#include "pkcs11_core_eng.h"

#include <functional>
#include <string>

// DER of the OID of the 28147-89 parameter set Z, the engine's default.
inline constexpr unsigned char kParamZDer[] = {0x06, 0x09, 0x2A, 0x85, 0x03, 0x07, 0x01, 0x02, 0x05, 0x01, 0x01};

// An engine bound with bind_zk_p11_core but not added to OpenSSL's list;
// unregistered and freed (its destroy step runs) at scope exit.
class FreshEngine {
public:
    explicit FreshEngine(const char *id = ZK_P11_ENGINE_ID);
    ~FreshEngine();
    FreshEngine(const FreshEngine &) = delete;
    FreshEngine &operator=(const FreshEngine &) = delete;

    bool bound() const { return bound_; }
    ENGINE *get() const { return engine_; }
    P11_ENGINE_CTX *ctx() const { return p11_engine_ctx(engine_); }

    // ENGINE_ctrl with the engine; the captured stderr in *err when given.
    int ctrl(int cmd, long i, void *p, void (*f)(void) = nullptr, std::string *err = nullptr) const;
    // ENGINE_ctrl_cmd_string by command name.
    int ctrl_string(const char *name, const char *arg, std::string *err = nullptr) const;

private:
    ENGINE *engine_ = nullptr;
    bool bound_ = false;
};

struct ChildResult {
    bool finished = false;  // exited on its own within the timeout
    int status = -1;
    std::string err;        // its standard error
};

// Runs body in a forked child that has no controlling terminal and reads
// `stdin_text` on its standard input; the child's exit status is body's
// result. The child is killed after timeout_ms.
ChildResult run_in_child(const std::function<int()> &body, const std::string &stdin_text, int timeout_ms = 20000);

#endif
