// What the benchmark programs share: a console reporter that also keeps the
// counters of every run for the summary a program prints after its runs
// (ratios to a reference of the same run), and the main function that runs
// them and prints it. Colours only on a terminal.
#ifndef TOKENCERT_BENCH_SUMMARY_H
#define TOKENCERT_BENCH_SUMMARY_H

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class SummaryReporter : public benchmark::ConsoleReporter {
public:
    SummaryReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            // With repetitions the median stands for the run.
            if (run.error_occurred || (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median"))
                continue;
            for (const auto &c : run.counters)
                values_[run.run_name.str()][c.first] = c.second.value;
        }
    }
    // A counter of the run with that name (as printed, without an aggregate
    // suffix); 0 when there is none.
    double get(const std::string &name, const std::string &counter) const
    {
        auto run = values_.find(name);
        if (run == values_.end())
            return 0;
        auto c = run->second.find(counter);
        return c == run->second.end() ? 0 : c->second;
    }

private:
    std::map<std::string, std::map<std::string, double>> values_;
};

// n bytes of a fixed pseudo-random pattern: every run hashes and encrypts
// the same input.
inline std::vector<uint8_t> bench_input(size_t n)
{
    std::vector<uint8_t> v(n);
    uint32_t s = 0x12345678u;
    for (auto &b : v) {
        s = s * 1103515245u + 12345u;
        b = uint8_t(s >> 24);
    }
    return v;
}

// Runs the benchmarks registered so far, then `summary`.
inline int run_benchmarks(int argc, char **argv, void (*summary)(const SummaryReporter &))
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    summary(reporter);
    benchmark::Shutdown();
    return 0;
}

#endif
