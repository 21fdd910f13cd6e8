#define OPENSSL_SUPPRESS_DEPRECATED
#include "engine_test_support.h"

#include <gtest/gtest.h>
#include <openssl/engine.h>

#include <chrono>
#include <utility>

#include "run_process.h"

FreshEngine::FreshEngine(const char *id) {
    engine_ = ENGINE_new();
    if (engine_)
        bound_ = bind_zk_p11_core(id, engine_) == 1;
}

FreshEngine::~FreshEngine() {
    if (!engine_)
        return;
    ENGINE_unregister_ciphers(engine_);
    ENGINE_unregister_digests(engine_);
    ENGINE_unregister_pkey_meths(engine_);
    ENGINE_unregister_pkey_asn1_meths(engine_);
    ENGINE_free(engine_);
}

int FreshEngine::ctrl(int cmd, long i, void *p, void (*f)(void), std::string *err) const {
    if (err)
        testing::internal::CaptureStderr();
    int rc = ENGINE_ctrl(engine_, cmd, i, p, f);
    if (err)
        *err = testing::internal::GetCapturedStderr();
    return rc;
}

int FreshEngine::ctrl_string(const char *name, const char *arg, std::string *err) const {
    if (err)
        testing::internal::CaptureStderr();
    int rc = ENGINE_ctrl_cmd_string(engine_, name, arg, 0);
    if (err)
        *err = testing::internal::GetCapturedStderr();
    return rc;
}

ChildResult run_in_child(const std::function<int()> &body, const std::string &stdin_text, int timeout_ms) {
    ProcessOptions options;
    options.stdin_text = stdin_text;
    options.timeout = std::chrono::milliseconds(timeout_ms);
    ProcessResult r = run_function(body, options);
    ChildResult result;
    result.finished = !r.timed_out && r.signal == 0 && r.exit_status >= 0;
    result.status = result.finished ? r.exit_status : -1;
    result.err = std::move(r.err);
    return result;
}
