#include "run_process.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

std::vector<char *> c_argv(const std::vector<std::string> &argv)
{
    std::vector<char *> out;
    for (const std::string &arg : argv)
        out.push_back(const_cast<char *>(arg.c_str()));
    out.push_back(nullptr);
    return out;
}

void set_environment(const ProcessOptions &options)
{
    for (const auto &[name, value] : options.env)
        setenv(name.c_str(), value.c_str(), 1);
}

[[noreturn]] void exec_child(const std::vector<std::string> &argv, const ProcessOptions &options)
{
    set_environment(options);
    std::vector<char *> args = c_argv(argv);
    execvp(args[0], args.data());
    _exit(127);
}

int remaining_ms(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

void reap(pid_t pid, ProcessResult &result, Clock::time_point deadline)
{
    int status = 0;
    for (;;) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (done < 0 && errno != EINTR)
            return;
        if (remaining_ms(deadline) == 0) {
            result.timed_out = true;
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        usleep(2000);
    }
    if (WIFEXITED(status))
        result.exit_status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
}

// Forks a child in a session of its own with its standard streams on pipes,
// runs `child` in it (which never returns), feeds and drains the pipes until
// the child closes them or the timeout passes, and reaps it.
ProcessResult run_child(const std::function<void()> &child, const ProcessOptions &options)
{
    ProcessResult result;
    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0 ||
        pipe2(err_pipe, O_CLOEXEC) != 0)
        return result;
    std::fflush(nullptr);  // nothing buffered is written twice
    pid_t pid = fork();
    if (pid < 0)
        return result;
    if (pid == 0) {
        setsid();  // no controlling terminal: prompts fall back to standard input
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        // A child that does not exec must not hold the parent's ends open.
        for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
            if (fd > 2)
                close(fd);
        child();
        _exit(127);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    const Clock::time_point deadline = Clock::now() + options.timeout;

    // Write standard input without blocking, so a child that never reads it
    // cannot hold the test up.
    fcntl(in_pipe[1], F_SETFL, O_NONBLOCK);
    size_t written = 0;
    int in_fd = in_pipe[1];
    if (options.stdin_text.empty()) {
        close(in_fd);
        in_fd = -1;
    }
    int out_fd = out_pipe[0], err_fd = err_pipe[0];
    signal(SIGPIPE, SIG_IGN);
    while ((out_fd >= 0 || err_fd >= 0) && remaining_ms(deadline) > 0) {
        pollfd fds[3];
        int n = 0;
        if (out_fd >= 0)
            fds[n++] = {out_fd, POLLIN, 0};
        if (err_fd >= 0)
            fds[n++] = {err_fd, POLLIN, 0};
        if (in_fd >= 0)
            fds[n++] = {in_fd, POLLOUT, 0};
        int ready = poll(fds, n, remaining_ms(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        for (int i = 0; i < n; ++i) {
            if (fds[i].revents == 0)
                continue;
            if (fds[i].fd == in_fd) {
                ssize_t w = write(in_fd, options.stdin_text.data() + written,
                                  options.stdin_text.size() - written);
                if (w > 0)
                    written += static_cast<size_t>(w);
                if (w < 0 || written == options.stdin_text.size()) {
                    close(in_fd);
                    in_fd = -1;
                }
                continue;
            }
            char buffer[4096];
            ssize_t r = read(fds[i].fd, buffer, sizeof(buffer));
            std::string &sink = fds[i].fd == out_fd ? result.out : result.err;
            if (r > 0) {
                sink.append(buffer, static_cast<size_t>(r));
            } else if (r == 0 || errno != EINTR) {
                close(fds[i].fd);
                (fds[i].fd == out_fd ? out_fd : err_fd) = -1;
            }
        }
    }
    for (int fd : {in_fd, out_fd, err_fd})
        if (fd >= 0)
            close(fd);
    reap(pid, result, deadline);
    return result;
}

}  // namespace

ProcessResult run_process(const std::vector<std::string> &argv, const ProcessOptions &options)
{
    return run_child([&] { exec_child(argv, options); }, options);
}

ProcessResult run_function(const std::function<int()> &body, const ProcessOptions &options)
{
    return run_child(
        [&] {
            set_environment(options);
            int status = body();
            std::fflush(nullptr);
            _exit(status);
        },
        options);
}

ProcessResult run_in_terminal(const std::vector<std::string> &argv,
                              const std::vector<TerminalStep> &script, const ProcessOptions &options)
{
    ProcessResult result;
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0)
        return result;
    if (pid == 0)
        exec_child(argv, options);
    const Clock::time_point deadline = Clock::now() + options.timeout;
    size_t step = 0;
    size_t searched_from = 0;
    for (;;) {
        if (step < script.size()) {
            size_t at = result.out.find(script[step].wait_for, searched_from);
            if (at != std::string::npos) {
                searched_from = at + script[step].wait_for.size();
                // A password prompt switches echo off after writing its
                // prompt: wait (a bounded while) for that before typing.
                for (int i = 0; i < 100; ++i) {
                    termios mode{};
                    if (tcgetattr(master, &mode) != 0 || !(mode.c_lflag & ECHO))
                        break;
                    usleep(20000);
                }
                const std::string &text = script[step].type;
                if (write(master, text.data(), text.size()) < 0)
                    break;
                ++step;
                continue;
            }
        }
        if (remaining_ms(deadline) == 0)
            break;
        pollfd fd = {master, POLLIN, 0};
        int ready = poll(&fd, 1, remaining_ms(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        char buffer[4096];
        ssize_t r = read(master, buffer, sizeof(buffer));
        if (r <= 0)
            break;  // EIO once the child has gone
        result.out.append(buffer, static_cast<size_t>(r));
    }
    close(master);
    reap(pid, result, deadline);
    return result;
}
