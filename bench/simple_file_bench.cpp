// A message through CSimpleFileVisualizer beside the bare system-call cycle
// that it is made of (open, seek to the end, write, close) for the same line,
// appended to files in the same temporary directory.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include <boost/filesystem/operations.hpp>
#include <boost/make_shared.hpp>

#include <vidOderavev/Progress/SimpleFileVisualizer.h>

using namespace Qz::Varnel::Progress;

namespace {

const char* const g_pStamp = "2026-12-05 03:49:11";
const char* const g_pText = "Processed block 4711 of the input";
const std::string g_sLine = std::string(g_pStamp) + " INFO: " + g_pText + "\r\n";

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
        boost::filesystem::remove_all(m_sPath, error);
    }
    std::string File(const std::string& name) const { return m_sPath + "/" + name; }

private:
    std::string m_sPath;
};

void BareCycle(benchmark::State& state)
{
    CBenchDirectory dir;
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
    CBenchDirectory dir;
    auto visualizer = boost::make_shared<CSimpleFileVisualizer>(dir.File("visualizer.log"));
    for (auto _ : state)
        visualizer->ShowMessage(g_pText, VerbosityInfo, g_pStamp, std::string());
}
BENCHMARK(SimpleFileVisualizerMessage);

} // namespace

BENCHMARK_MAIN();
