#pragma once
// Same-run comparisons for the benchmark programs. Every contestant is
// registered once per round, the order reversed from one round to the next,
// so that a change of the machine's load touches both sides of a pair
// alike. The summary gives, for each pair, the median of the per-round
// ratios: one disturbed round cannot swing it. The k-th run of one side is
// paired with the k-th run of the other, so a round whose run failed on
// either side is left out.
//
// Threads: registration, runs and the summary all happen on the main
// thread; nothing here is shared.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace bench {

struct Contestant {
    std::string name;  // "BM_Plain", or "BM_Load/1" with an argument
    std::function<void(benchmark::State&)> run;
    // Iterations, time unit, real time ...; may be empty.
    std::function<void(benchmark::internal::Benchmark*)> configure;
};

struct Ratio {
    enum class Kind {
        Speed,  // reference time / subject time: above 1 the subject is faster
        Time,   // subject time / reference time: above 1 the subject is slower
    };
    Ratio(std::string label, std::string subject, std::string reference, Kind kind, double goal,
          std::string counter = {})
        : label(std::move(label)), subject(std::move(subject)), reference(std::move(reference)), kind(kind),
          goal(goal), counter(std::move(counter))
    {
    }

    std::string label;
    std::string subject;  // contestant names
    std::string reference;
    Kind kind;
    // Speed: at least this; Time: at most this; 0: no goal.
    double goal;
    // Compares this counter of the runs, a time per iteration, instead of
    // the run's own time; kThreadCpu is the processor time of the thread
    // that ran the benchmark.
    std::string counter;
};

inline const char* const kThreadCpu = "thread_cpu";

// Takes "--rounds N" or "--rounds=N" out of the arguments; the default
// when absent.
inline int TakeRounds(int& argc, char** argv, int fallback)
{
    int rounds = fallback;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--rounds=", 9) == 0)
            rounds = std::max(1, std::atoi(argv[i] + 9));
        else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    return rounds;
}

inline void RegisterRounds(int rounds, const std::vector<Contestant>& contestants)
{
    for (int round = 0; round < rounds; ++round) {
        for (size_t k = 0; k < contestants.size(); ++k) {
            const Contestant& c = contestants[round % 2 ? contestants.size() - 1 - k : k];
            // Registered under the function part of the name: the reporter
            // puts the arguments back from the run.
            const std::string function = c.name.substr(0, c.name.find('/'));
            auto* b = benchmark::RegisterBenchmark(function.c_str(), c.run);
            if (c.name.size() > function.size())
                b->Arg(std::atoll(c.name.c_str() + function.size() + 1));
            if (c.configure)
                c.configure(b);
        }
    }
}

class RoundRatioReporter : public benchmark::ConsoleReporter {
public:
    explicit RoundRatioReporter(std::vector<Ratio> ratios) : ConsoleReporter(OO_None), m_ratios(std::move(ratios)) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration)
                continue;
            std::string name = run.run_name.function_name;
            if (!run.run_name.args.empty())
                name += "/" + run.run_name.args;
            // Benchmarks that measure real time are compared on it, the
            // others on the time of their own thread.
            const double seconds =
                run.run_name.time_type.empty() ? run.cpu_accumulated_time : run.real_accumulated_time;
            const bool usable = !run.error_occurred && run.iterations > 0 && seconds > 0;
            m_perIteration[name].push_back(usable ? seconds / static_cast<double>(run.iterations) : 0);
            m_perIteration[name + " " + kThreadCpu].push_back(
                usable ? run.cpu_accumulated_time / static_cast<double>(run.iterations) : 0);
            for (const auto& [counter, value] : run.counters)
                m_perIteration[name + " " + counter].push_back(usable ? value.value : 0);
        }
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        for (const Ratio& r : m_ratios)
            Print(r);
    }

private:
    void Print(const Ratio& r)
    {
        const std::string suffix = r.counter.empty() ? "" : " " + r.counter;
        const std::vector<double>& subject = m_perIteration[r.subject + suffix];
        const std::vector<double>& reference = m_perIteration[r.reference + suffix];
        std::vector<double> ratios;
        for (size_t k = 0; k < std::min(subject.size(), reference.size()); ++k) {
            if (subject[k] > 0 && reference[k] > 0)
                ratios.push_back(r.kind == Ratio::Kind::Speed ? reference[k] / subject[k] : subject[k] / reference[k]);
        }
        if (ratios.empty()) {
            std::printf("%s: no complete round\n", r.label.c_str());
            return;
        }
        std::string rounds;
        for (double v : ratios) {
            char text[16];
            std::snprintf(text, sizeof text, " %.2f", v);
            rounds += text;
        }
        std::vector<double> sorted = ratios;
        std::sort(sorted.begin(), sorted.end());
        const size_t n = sorted.size();
        const double median = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
        std::printf("%s: median %.2f over %zu rounds (%s )", r.label.c_str(), median, n, rounds.c_str());
        if (r.goal > 0) {
            const bool met = r.kind == Ratio::Kind::Speed ? median >= r.goal : median <= r.goal;
            std::printf(", goal %s %.2f: %s", r.kind == Ratio::Kind::Speed ? "at least" : "at most", r.goal,
                        met ? "met" : "NOT MET");
        }
        std::printf("\n");
    }

    std::vector<Ratio> m_ratios;
    // Seconds per iteration of each run, in run order, by name and by name
    // and counter; 0 for a failed run.
    std::map<std::string, std::vector<double>> m_perIteration;
};

// Runs what was registered and prints the ratios after the table.
inline int RunAndReport(int argc, char** argv, std::vector<Ratio> ratios)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RoundRatioReporter reporter(std::move(ratios));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

}  // namespace bench
