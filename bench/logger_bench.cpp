// The hot paths of CLogger beside an uncontended boost::mutex lock/unlock
// pair measured in the same run:
// - IncrementProgress below the 5 % step, without visualizers: the update is
//   only stored in the top layer;
// - IncrementProgress on a layer of max value 1000 with a recording
//   visualizer: every 50th step is passed outward and notified;
// - Message of one 32-byte line to one output that does nothing: the
//   filter, the time stamp and the hand-over, without any output's cost;
// - GetTimeStamp, whose facet formatting is rebuilt once per second;
// - the facet formatting itself, for reference.
// The ratios to the mutex pair are printed at the end; on a busy machine run
// with --benchmark_repetitions=10 --benchmark_enable_random_interleaving=true
// so that the medians are compared.

#include <benchmark/benchmark.h>

#include <string>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/make_shared.hpp>

#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/Progress/TimeStamp.h>
#include <vidOderavev/Progress/Visualizer.h>

#include "support/BenchSupport.h"

using namespace Qz::Varnel::Progress;

namespace {

// Records what a logger tells it, as the test suite's recorder does; keeps
// counts only so that long runs need no memory.
class CCountingVisualizer : public Detail::CVisualizer
{
public:
    void LoggerChanged(const boost::shared_ptr<CLogger>&) override { ++m_nLoggerChanged; }
    void ProgressChanged(const boost::shared_ptr<CLogger>&, bool immediate) override
    {
        ++(immediate ? m_nImmediate : m_nProgress);
    }

    long m_nLoggerChanged = 0;
    long m_nProgress = 0;
    long m_nImmediate = 0;
};

BENCHMARK(Bench::MutexPair)->Name("MutexPair");

void IncrementBelowStep(benchmark::State& state)
{
    // A max value so large that no step reaches 5 % of it.
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    logger->Push("layer", 50.0, 1e15);
    for (auto _ : state)
        logger->IncrementProgress();
    state.counters["passed"] = logger->GetTimeRemaining(0).is_pos_infinity() ? 0 : 1;
}
BENCHMARK(IncrementBelowStep);

void IncrementWithVisualizer(benchmark::State& state)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    logger->Push("layer", 50.0, 1000.0);
    auto visualizer = boost::make_shared<CCountingVisualizer>();
    logger->AddVisualizer(visualizer);
    int step = 0;
    for (auto _ : state) {
        logger->IncrementProgress();
        // Start the layer over after its last step: a forced update back to 0.
        if (++step == 1000) {
            step = 0;
            logger->SetProgress(0.0, true);
        }
    }
    state.counters["notified"] =
        benchmark::Counter(static_cast<double>(visualizer->m_nProgress), benchmark::Counter::kAvgIterations);
}
BENCHMARK(IncrementWithVisualizer);

void MessageToIdleOutput(benchmark::State& state)
{
    auto logger = boost::make_shared<CLogger>("root");
    logger->AddVisualizer(boost::make_shared<Detail::CVisualizer>());
    const std::string text(32, 'm');
    for (auto _ : state)
        logger->Message(VerbosityInfo, text);
}
BENCHMARK(MessageToIdleOutput);

void GetTimeStamp(benchmark::State& state)
{
    auto logger = boost::make_shared<CLogger>("root");
    for (auto _ : state)
        benchmark::DoNotOptimize(logger->GetTimeStamp());
}
BENCHMARK(GetTimeStamp);

void FacetFormatting(benchmark::State& state)
{
    const boost::posix_time::ptime now = boost::posix_time::second_clock::local_time();
    for (auto _ : state)
        benchmark::DoNotOptimize(Detail::FormatTimeStamp(now));
}
BENCHMARK(FacetFormatting);

} // namespace

int main(int argc, char** argv)
{
    return Bench::RunAndPrintCpuRatios(argc, argv, "MutexPair", "one uncontended boost::mutex lock/unlock pair",
                                       "Targets: IncrementBelowStep <= 1.5x, MessageToIdleOutput <= 4x, GetTimeStamp <= 10x\n");
}
