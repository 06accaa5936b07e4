// CLogger::Message through a CStdoutVisualizer, against writing and flushing
// the same record bytes with std::cout directly; standard output goes to
// /dev/null while a benchmark runs (the report still reaches the terminal).
// The CPU times are printed at the end as multiples of the direct write's.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include <boost/make_shared.hpp>

#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/Progress/StdoutVisualizer.h>

#include "support/BenchSupport.h"

using namespace Qz::Varnel::Progress;

namespace {

const char g_acText[] = "Processed block 12345 of 99999: checksum 0x3fa2 verified";

class CDevNull
{
public:
    CDevNull()
    {
        std::cout.flush();
        std::fflush(stdout);
        m_nSaved = dup(STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    ~CDevNull()
    {
        std::cout.flush();
        std::fflush(stdout);
        dup2(m_nSaved, STDOUT_FILENO);
        close(m_nSaved);
    }

private:
    int m_nSaved;
};

void BM_DirectCout(benchmark::State& state)
{
    // The record the visualizer writes for the same message.
    const std::string record = "<LOG>\n<TIME>2026-12-06 10:00:00</TIME>\n<TYPE>INFO</TYPE>\n<TEXT>" +
                               std::string(g_acText) + "</TEXT>\n</LOG>\n";
    CDevNull devNull;
    for (auto _ : state)
        std::cout << record << std::endl;
}
BENCHMARK(BM_DirectCout);

void BM_LoggerMessageThroughStdoutVisualizer(benchmark::State& state)
{
    auto logger = boost::make_shared<CLogger>("bench");
    const std::string text = g_acText;
    CDevNull devNull;
    auto visualizer = boost::make_shared<CStdoutVisualizer>();
    visualizer->AddLogger(logger);
    for (auto _ : state)
        logger->Message(VerbosityInfo, text);
    visualizer->Clear();
}
BENCHMARK(BM_LoggerMessageThroughStdoutVisualizer);

void BM_ShowMessageOnStdoutVisualizer(benchmark::State& state)
{
    const std::string text = g_acText;
    const std::string stamp = "2026-12-06 10:00:00";
    const std::string task;
    CDevNull devNull;
    auto visualizer = boost::make_shared<CStdoutVisualizer>();
    for (auto _ : state)
        visualizer->ShowMessage(text, VerbosityInfo, stamp, task);
}
BENCHMARK(BM_ShowMessageOnStdoutVisualizer);

// The logger's share of the cost: the same message to an output that does nothing.
void BM_LoggerMessageToSilentVisualizer(benchmark::State& state)
{
    class CSilent : public Detail::CVisualizerBase
    {
    };
    auto logger = boost::make_shared<CLogger>("bench");
    const std::string text = g_acText;
    auto visualizer = boost::make_shared<CSilent>();
    visualizer->AddLogger(logger);
    for (auto _ : state)
        logger->Message(VerbosityInfo, text);
    visualizer->Clear();
}
BENCHMARK(BM_LoggerMessageToSilentVisualizer);

} // namespace

int main(int argc, char** argv)
{
    return Bench::RunAndPrintCpuRatios(argc, argv, "BM_DirectCout", "writing and flushing the record with std::cout");
}
