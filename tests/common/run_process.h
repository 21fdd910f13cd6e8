// Runs a program as a child in a session of its own (no controlling
// terminal), feeds its standard input, captures its output and ends it when
// it outlives its timeout.
#ifndef TOKENCERT_TEST_RUN_PROCESS_H
#define TOKENCERT_TEST_RUN_PROCESS_H

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct ProcessResult {
    int exit_status = -1;  // 0..255, or -1 when killed or not run
    int signal = 0;        // the signal that ended it, if any
    bool timed_out = false;
    std::string out;
    std::string err;
};

struct ProcessOptions {
    std::string stdin_text;
    std::map<std::string, std::string> env;  // added to (or replacing in) the environment
    std::chrono::milliseconds timeout{20000};
};

// argv[0] is the program: a path, or a name looked up on PATH.
ProcessResult run_process(const std::vector<std::string> &argv, const ProcessOptions &options = {});

// The same for a forked copy of this process that runs `body` and exits with
// its result.
ProcessResult run_function(const std::function<int()> &body, const ProcessOptions &options = {});

// Runs the program on a new pseudo-terminal as its controlling terminal.
// `script` is a list of (text to wait for, text to type then); returns the
// whole screen output and the exit status.
struct TerminalStep {
    std::string wait_for;
    std::string type;
};
ProcessResult run_in_terminal(const std::vector<std::string> &argv,
                              const std::vector<TerminalStep> &script,
                              const ProcessOptions &options = {});

#endif
