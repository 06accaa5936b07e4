#ifndef VIDODERAVEV_BENCH_BENCHSUPPORT_H
#define VIDODERAVEV_BENCH_BENCHSUPPORT_H

// What the benchmark programs share: a directory for the files they write,
// the lock/unlock baseline, and a reporter that keeps every run's times so
// that a program can print its figures as multiples of a baseline measured in
// the same run.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <boost/filesystem/operations.hpp>
#include <boost/thread/mutex.hpp>

namespace Bench {

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it
// when the object goes; Path() is empty when none could be made.
class CBenchDirectory
{
public:
    CBenchDirectory()
    {
        const char* root = std::getenv("TMPDIR");
        std::string pattern = std::string(root && *root ? root : "/tmp") + "/vidOderavev-bench-XXXXXX";
        if (::mkdtemp(&pattern[0]))
            m_sPath = pattern;
    }
    ~CBenchDirectory()
    {
        boost::system::error_code error;
        if (!m_sPath.empty())
            boost::filesystem::remove_all(m_sPath, error);
    }
    CBenchDirectory(const CBenchDirectory&) = delete;
    CBenchDirectory& operator=(const CBenchDirectory&) = delete;

    const std::string& Path() const { return m_sPath; }
    std::string File(const std::string& name) const { return m_sPath + "/" + name; }

private:
    std::string m_sPath;
};

// An uncontended boost::mutex lock/unlock pair: the baseline for calls that
// take a lock.
inline void MutexPair(benchmark::State& state)
{
    boost::mutex mutex;
    for (auto _ : state) {
        mutex.lock();
        benchmark::ClobberMemory();
        mutex.unlock();
    }
}

// Shows the runs on the console as usual and keeps the real and CPU time per
// iteration of each, in nanoseconds. With repetitions the median stands for
// the benchmark; a single run stands for itself.
class CTimesReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const double toNanoseconds = 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
            const STimes times = {run.GetAdjustedRealTime() * toNanoseconds, run.GetAdjustedCPUTime() * toNanoseconds};
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                m_oMedians[run.run_name.str()] = times;
            else if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                m_oSingles[run.run_name.str()] = times;
        }
    }

    // The times of the first benchmark, in name order, whose name begins with
    // the prefix; 0 when none ran.
    double RealTime(const std::string& prefix) const { return Find(prefix).m_dReal; }
    double CpuTime(const std::string& prefix) const { return Find(prefix).m_dCpu; }

    // Prints the CPU time of every benchmark as a multiple of the baseline's;
    // false, with nothing printed, when the baseline did not run.
    bool PrintCpuRatios(const std::string& baseline, const std::string& description) const
    {
        const double base = CpuTime(baseline);
        if (base <= 0.0)
            return false;
        const std::map<std::string, STimes> all = All();
        int width = 0;
        for (const auto& entry : all)
            width = std::max(width, static_cast<int>(entry.first.size()));
        std::printf("\nCPU time as a multiple of %s (%.2f ns):\n", description.c_str(), base);
        for (const auto& entry : all)
            std::printf("  %-*s %8.2fx\n", width, entry.first.c_str(), entry.second.m_dCpu / base);
        return true;
    }

private:
    struct STimes
    {
        double m_dReal;
        double m_dCpu;
    };

    std::map<std::string, STimes> All() const
    {
        std::map<std::string, STimes> all = m_oSingles;
        for (const auto& median : m_oMedians)
            all[median.first] = median.second;
        return all;
    }

    STimes Find(const std::string& prefix) const
    {
        for (const auto& entry : All()) {
            if (entry.first.compare(0, prefix.size(), prefix) == 0)
                return entry.second;
        }
        return STimes{0.0, 0.0};
    }

    std::map<std::string, STimes> m_oSingles;
    std::map<std::string, STimes> m_oMedians;
};

// Runs the benchmarks the command line selects through the reporter; false
// when the command line has an argument that the library does not know.
inline bool RunBenchmarks(int argc, char** argv, CTimesReporter& reporter)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return false;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return true;
}

// The whole of a main() that runs the benchmarks and prints their CPU times
// as multiples of the baseline's, then the footnote (such as the targets).
inline int RunAndPrintCpuRatios(int argc, char** argv, const std::string& baseline, const std::string& description,
                                const std::string& footnote = std::string())
{
    CTimesReporter reporter;
    if (!RunBenchmarks(argc, argv, reporter))
        return 1;
    if (reporter.PrintCpuRatios(baseline, description))
        std::printf("%s", footnote.c_str());
    return 0;
}

} // namespace Bench

#endif
