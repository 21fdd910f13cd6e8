// The tool's start-up cost. On a token holding 1000 certificates, measured in
// one run as child processes (output to /dev/null, each with a timeout):
//   tokencert -p11 <module> -slot <slot> -certlist   the real listing
//   tool_bench_reference <module> <slot>             the module's own calls for
//                                                    the same listing, nothing else
//   tokencert -p11 <module>                          start-up and library info only
//   tool_bench_reference <module>                    initialise, slot list, finalise
//   tokencert ... -print -label cert500              one certificate by label
//   tool_bench_reference <module> <slot> cert500     the module's calls for it
//   tokencert ... -remove -label cert500             login and removal (the
//                                                    certificate is put back
//                                                    between runs, not timed)
// on the software token and on SoftHSM2. A summary after the run gives the
// listing's time as a ratio to the reference: what the tool adds to the module.
// With TOKENCERT_NOENGINE naming the tokencert of a build without the engine,
// the same run times its listing, start-up and print too (rows "_noengine"),
// and the summary gives them as ratios to this build's.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "run_process.h"
#include "softhsm_token.h"
#include "test_certs.h"

extern char **environ;

namespace {

constexpr size_t kCertificates = 1000;
constexpr int kTimeoutMs = 60000;
const char *const kUserPin = "12345678";

// Runs argv in a session of its own, its output on /dev/null and `input` on
// its standard input; kills it after kTimeoutMs. Returns its exit status, or -1.
int run_quietly(const std::vector<std::string> &argv, const std::string &input = "")
{
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int in[2] = {-1, -1};
    if (!input.empty() && pipe(in) == 0) {
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_addclose(&actions, in[0]);
        posix_spawn_file_actions_addclose(&actions, in[1]);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (in[0] >= 0) {
        close(in[0]);
        // A PIN line fits the pipe: the write does not wait for the child.
        if (rc == 0 && write(in[1], input.data(), input.size()) < 0) {
        }
        close(in[1]);
    }
    if (rc != 0)
        return -1;
    // Wait on a process descriptor: no polling delay is added to the figure.
    int status = 0;
    int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        int ready;
        do
            ready = poll(&p, 1, kTimeoutMs);
        while (ready < 0 && errno == EINTR);
        close(pidfd);
        if (ready == 0)
            kill(pid, SIGKILL);
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    } else {
        for (int waited = 0; waitpid(pid, &status, WNOHANG) == 0; ++waited) {
            if (waited == kTimeoutMs * 10) {
                kill(pid, SIGKILL);
                while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
                }
                return -1;
            }
            usleep(100);
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A token holding kCertificates certificates, labelled cert1 ... certN.
struct ListingToken {
    std::string name;  // in the benchmark names
    std::string module;
    std::string slot;
    std::string pin;
    std::string error;  // why it could not be made, or empty
};

const std::vector<Bytes> &certificates()
{
    static const std::vector<Bytes> ders = [] {
        std::vector<Bytes> out;
        for (size_t i = 1; i <= kCertificates; ++i)
            out.push_back(make_certificate_der("cert" + std::to_string(i)));
        return out;
    }();
    return ders;
}

void fill(ListingToken &token, const std::string &pin)
{
    try {
        TokenClient client(token.module, std::strtoul(token.slot.c_str(), nullptr, 10), pin);
        for (size_t i = 0; i < kCertificates; ++i)
            client.put_certificate(certificates()[i], label_with_zero("cert" + std::to_string(i + 1)),
                                   make_id(20, static_cast<unsigned char>(i)));
    } catch (const std::exception &e) {
        token.error = e.what();
    }
}

// The software token, in a temporary directory of its own.
class SofttokenDir {
public:
    SofttokenDir()
    {
        std::string templ = (std::filesystem::temp_directory_path() / "tool-bench-XXXXXX").string();
        if (mkdtemp(templ.data()) != nullptr)
            dir_ = templ;
    }
    ~SofttokenDir()
    {
        if (!dir_.empty())
            std::filesystem::remove_all(dir_);
    }
    ListingToken make()
    {
        ListingToken token{"softtoken", SOFTTOKEN_MODULE_PATH, "", kUserPin, ""};
        if (dir_.empty()) {
            token.error = "mkdtemp failed";
            return token;
        }
        // Children inherit both; the low iteration count keeps set-up short.
        setenv("SOFTTOKEN_DIR", dir_.c_str(), 1);
        setenv("SOFTTOKEN_PBKDF2_ITERATIONS", "1000", 1);
        ProcessResult r = run_process({SOFTTOKEN_UTIL_PATH, "--init-token", "--free", "--label", "bench",
                                       "--so-pin", "87654321", "--pin", kUserPin});
        const std::string marker = "initialised in slot ";
        size_t at = r.out.find(marker);
        if (r.exit_status != 0 || at == std::string::npos) {
            token.error = "softtoken-util failed: " + r.out + r.err;
            return token;
        }
        token.slot = std::to_string(std::strtoul(r.out.c_str() + at + marker.size(), nullptr, 10));
        fill(token, kUserPin);
        return token;
    }

private:
    std::string dir_;
};

ListingToken make_softhsm(SoftHsmToken &softhsm)
{
    ListingToken token{"softhsm2", softhsm.module_path(), softhsm.slot_text(), SoftHsmToken::kUserPin, ""};
    if (!softhsm.ok())
        token.error = softhsm.error();
    else
        fill(token, SoftHsmToken::kUserPin);
    return token;
}

// The engine-free build's tokencert, or empty.
const std::string kNoEngine = std::getenv("TOKENCERT_NOENGINE") ? std::getenv("TOKENCERT_NOENGINE") : "";

std::vector<std::string> listing_command(const ListingToken &t, const std::string &tool = TOKENCERT_PATH)
{
    return {tool, "-p11", t.module, "-slot", t.slot, "-certlist"};
}
std::vector<std::string> reference_command(const ListingToken &t)
{
    return {REFERENCE_PATH, t.module, t.slot};
}
std::vector<std::string> startup_command(const ListingToken &t, const std::string &tool = TOKENCERT_PATH)
{
    return {tool, "-p11", t.module};
}
// One certificate among the thousand, by label.
const std::string kChosen = "cert500";
std::vector<std::string> print_command(const ListingToken &t, const std::string &tool = TOKENCERT_PATH)
{
    return {tool, "-p11", t.module, "-slot", t.slot, "-print", "-label", kChosen};
}
std::vector<std::string> print_reference_command(const ListingToken &t)
{
    return {REFERENCE_PATH, t.module, t.slot, kChosen};
}
std::vector<std::string> remove_command(const ListingToken &t)
{
    return {TOKENCERT_PATH, "-p11", t.module, "-slot", t.slot, "-remove", "-label", kChosen};
}
std::vector<std::string> startup_reference_command(const ListingToken &t) { return {REFERENCE_PATH, t.module}; }

// Both listings must show every certificate before either is timed.
std::string check_listings(const ListingToken &t)
{
    const std::string last = std::to_string(kCertificates) + ": label: 'cert";
    for (const auto &argv : {listing_command(t), reference_command(t)}) {
        ProcessOptions options;
        options.timeout = std::chrono::milliseconds(kTimeoutMs);
        ProcessResult r = run_process(argv, options);
        if (r.exit_status != 0 || r.out.find(last) == std::string::npos ||
            r.out.find(std::to_string(kCertificates + 1) + ": ") != std::string::npos)
            return argv[0] + " did not list " + std::to_string(kCertificates) + " certificates: " +
                   r.out.substr(0, 200) + r.err;
    }
    return "";
}

void run_child(benchmark::State &state, const std::vector<std::string> &argv, const std::string &error)
{
    if (!error.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    for (auto _ : state) {
        if (run_quietly(argv) != 0) {
            state.SkipWithError((argv[0] + " failed").c_str());
            return;
        }
    }
}

// The removal: each run deletes the chosen certificate, which is put back
// between runs (not timed).
void run_removal(benchmark::State &state, const ListingToken &token, const std::string &error)
{
    if (!error.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    TokenClient client(token.module, std::strtoul(token.slot.c_str(), nullptr, 10), token.pin);
    const std::vector<std::string> argv = remove_command(token);
    for (auto _ : state) {
        if (run_quietly(argv, token.pin + "\n") != 0) {
            state.SkipWithError("tokencert -remove failed");
            return;
        }
        state.PauseTiming();
        client.put_certificate(certificates()[499], label_with_zero(kChosen), make_id(20, 199));
        state.ResumeTiming();
    }
}

void register_token(const ListingToken &token)
{
    std::string error = token.error.empty() ? check_listings(token) : token.error;
    struct Row {
        const char *what;
        std::vector<std::string> argv;
    };
    std::vector<Row> rows = {
        {"Listing_tokencert", listing_command(token)},
        {"Listing_reference", reference_command(token)},
        {"Startup_tokencert", startup_command(token)},
        {"Startup_reference", startup_reference_command(token)},
        {"Print_tokencert", print_command(token)},
        {"Print_reference", print_reference_command(token)},
    };
    if (!kNoEngine.empty())
        rows.insert(rows.end(), {{"Listing_noengine", listing_command(token, kNoEngine)},
                                 {"Startup_noengine", startup_command(token, kNoEngine)},
                                 {"Print_noengine", print_command(token, kNoEngine)}});
    for (const auto &row : rows) {
        std::string name = std::string(row.what) + "/" + token.name;
        benchmark::RegisterBenchmark(name.c_str(), [argv = row.argv, error](benchmark::State &state) {
            run_child(state, argv, error);
        })->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
    }
    benchmark::RegisterBenchmark(("Remove_tokencert/" + token.name).c_str(), [token, error](benchmark::State &state) {
        run_removal(state, token, error);
    })->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
}

// Prints as usual and keeps each run's wall time per iteration (ms).
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal.
    CollectingReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred && run.iterations > 0)
                ms[run.run_name.function_name] = run.real_accumulated_time * 1e3 / static_cast<double>(run.iterations);
    }
    std::map<std::string, double> ms;
};

void print_summary(const CollectingReporter &r, const std::vector<std::string> &tokens)
{
    std::printf("\nListing %zu certificates, wall time per run of a child process:\n", kCertificates);
    std::printf("%-10s %13s %13s %6s %9s   %16s %16s %6s\n", "module", "tokencert ms", "reference ms",
                "ratio", "extra ms", "start-up tool ms", "start-up ref ms", "ratio");
    for (const std::string &t : tokens) {
        auto get = [&](const char *what) {
            auto it = r.ms.find(std::string(what) + "/" + t);
            return it == r.ms.end() ? 0.0 : it->second;
        };
        const double tool = get("Listing_tokencert"), ref = get("Listing_reference");
        const double start = get("Startup_tokencert"), start_ref = get("Startup_reference");
        if (tool == 0 || ref == 0 || start_ref == 0)
            continue;
        std::printf("%-10s %13.2f %13.2f %6.2f %9.2f   %16.2f %16.2f %6.2f\n", t.c_str(), tool, ref, tool / ref,
                    tool - ref, start, start_ref, start / start_ref);
    }
    std::printf("\nOne certificate of %zu by label, against the listing of all of them and the bare start-up:\n",
                kCertificates);
    std::printf("%-10s %10s %12s %7s %14s %10s %14s\n", "module", "print ms", "reference ms", "ratio",
                "print/listing", "remove ms", "remove/listing");
    for (const std::string &t : tokens) {
        auto get = [&](const char *what) {
            auto it = r.ms.find(std::string(what) + "/" + t);
            return it == r.ms.end() ? 0.0 : it->second;
        };
        const double print = get("Print_tokencert"), remove = get("Remove_tokencert");
        const double print_ref = get("Print_reference"), listing = get("Listing_tokencert");
        if (print == 0 || listing == 0 || print_ref == 0)
            continue;
        std::printf("%-10s %10.2f %12.2f %7.2f %14.2f %10.2f %14.2f\n", t.c_str(), print, print_ref,
                    print / print_ref, print / listing, remove, remove / listing);
    }
    if (kNoEngine.empty())
        return;
    std::printf("\nWithout the engine, as a ratio to this build's tokencert (1.00: as fast):\n");
    std::printf("%-10s %10s %10s %10s\n", "module", "listing", "start-up", "print");
    for (const std::string &t : tokens) {
        auto ratio = [&](const char *what) {
            auto ours = r.ms.find(std::string(what) + "_tokencert/" + t);
            auto other = r.ms.find(std::string(what) + "_noengine/" + t);
            return ours == r.ms.end() || other == r.ms.end() ? 0.0 : other->second / ours->second;
        };
        if (ratio("Listing") == 0 || ratio("Startup") == 0 || ratio("Print") == 0)
            continue;
        std::printf("%-10s %10.2f %10.2f %10.2f\n", t.c_str(), ratio("Listing"), ratio("Startup"), ratio("Print"));
    }
}

}  // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    SofttokenDir softtoken_dir;
    SoftHsmToken softhsm("bench");
    std::vector<std::string> names;
    for (const ListingToken &token : {softtoken_dir.make(), make_softhsm(softhsm)}) {
        register_token(token);
        names.push_back(token.name);
    }
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    print_summary(reporter, names);
    benchmark::Shutdown();
    return 0;
}
