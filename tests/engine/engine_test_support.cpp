#define OPENSSL_SUPPRESS_DEPRECATED
#include "engine_test_support.h"

#include <gtest/gtest.h>
#include <openssl/engine.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

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
    ChildResult result;
    int in[2], err[2];
    if (pipe(in) != 0)
        return result;
    if (pipe(err) != 0) {
        close(in[0]);
        close(in[1]);
        return result;
    }
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0)
        return result;
    if (pid == 0) {
        setsid();  // no controlling terminal: prompts fall back to stdin
        dup2(in[0], 0);
        dup2(err[1], 2);
        close(in[1]);
        close(err[0]);
        int rc = body();
        fflush(nullptr);
        _exit(rc);
    }
    close(in[0]);
    close(err[1]);
    if (!stdin_text.empty()) {
        ssize_t ignored = write(in[1], stdin_text.data(), stdin_text.size());
        (void)ignored;
    }
    close(in[1]);

    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    bool killed = false;
    char buf[4096];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            kill(pid, SIGKILL);
            killed = true;
            break;
        }
        pollfd p{err[0], POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(left.count()));
        if (r <= 0)
            continue;
        ssize_t n = read(err[0], buf, sizeof buf);
        if (n <= 0)
            break;
        result.err.append(buf, static_cast<size_t>(n));
    }
    close(err[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!killed && WIFEXITED(status)) {
        result.finished = true;
        result.status = WEXITSTATUS(status);
    }
    return result;
}
