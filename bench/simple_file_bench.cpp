// A message through CSimpleFileVisualizer beside the bare system-call cycle
// that it is made of (open, seek to the end, write, close) for the same line,
// appended to files in the same temporary directory; the CPU times are
// printed at the end as multiples of the bare cycle's.

#include <benchmark/benchmark.h>

#include <string>

#include <fcntl.h>
#include <unistd.h>

#include <boost/make_shared.hpp>

#include <vidOderavev/Progress/SimpleFileVisualizer.h>

#include "support/BenchSupport.h"

using namespace Qz::Varnel::Progress;

namespace {

const char* const g_pStamp = "2026-12-05 03:49:11";
const char* const g_pText = "Processed block 4711 of the input";
const std::string g_sLine = std::string(g_pStamp) + " INFO: " + g_pText + "\r\n";

void BareCycle(benchmark::State& state)
{
    Bench::CBenchDirectory dir;
    const std::string name = dir.File("bare.log");
    ::close(::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
    for (auto _ : state) {
        const int handle = ::open(name.c_str(), O_WRONLY | O_CLOEXEC);
        ::lseek(handle, 0, SEEK_END);
        benchmark::DoNotOptimize(::write(handle, g_sLine.data(), g_sLine.size()));
        ::close(handle);
    }
}
BENCHMARK(BareCycle);

void SimpleFileVisualizerMessage(benchmark::State& state)
{
    Bench::CBenchDirectory dir;
    auto visualizer = boost::make_shared<CSimpleFileVisualizer>(dir.File("visualizer.log"));
    for (auto _ : state)
        visualizer->ShowMessage(g_pText, VerbosityInfo, g_pStamp, std::string());
}
BENCHMARK(SimpleFileVisualizerMessage);

} // namespace

int main(int argc, char** argv)
{
    return Bench::RunAndPrintCpuRatios(argc, argv, "BareCycle", "the bare open, seek, write, close cycle");
}
