// What a reporting thread pays for a message sent to a buffered log file, and
// what the writer thread pays to drain a large queue, each beside a baseline
// measured in the same run and beside spdlog's asynchronous logger (file sink,
// blocking queue of 8192) as a peer; the ratios are printed at the end, with
// the resident memory before and after a burst of a million messages.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <list>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/make_shared.hpp>
#include <boost/thread/mutex.hpp>

#include <vidOderavev/Progress/BufferedFileVisualizer.h>
#include <vidOderavev/Progress/Logger.h>

#include "support/BenchSupport.h"

#if VIDODERAVEV_BENCH_SPDLOG
#include <spdlog/async.h>
#include <spdlog/async_logger.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/basic_file_sink.h>
#endif

using namespace Qz::Varnel::Progress;

namespace {

// 32 bytes, like the string copies of the baseline.
const std::string g_sText = "Processed block 1234, 56 dropped";
const std::string g_sStamp = "2026-12-05 03:49:11";
const std::string g_sTask = "17";
const int g_nDrainLines = 1000000;

const std::string& Directory()
{
    static const Bench::CBenchDirectory s_oDirectory;
    return s_oDirectory.Path();
}

// The producer benchmarks write through /dev/null, so that the writer thread
// costs little of the two cores the producers run on.
struct SProducerSetup
{
    SProducerSetup()
    {
        const std::string link = Directory() + "/producer.log";
        if (::symlink("/dev/null", link.c_str()) != 0)
            std::perror("symlink");
        m_oVisualizer = boost::make_shared<CBufferedFileVisualizer>(Directory(), "producer", false);
        m_oLogger = boost::make_shared<CLogger>("bench");
        m_oLogger->AddVisualizer(m_oVisualizer);
    }
    boost::shared_ptr<CBufferedFileVisualizer> m_oVisualizer;
    boost::shared_ptr<CLogger> m_oLogger;
};
SProducerSetup* g_pProducer = nullptr;

BENCHMARK(Bench::MutexPair)->Name("BM_MutexPair");

void BM_StringCopy(benchmark::State& state)
{
    for (auto _ : state) {
        std::string copy(g_sText);
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(BM_StringCopy);

void BM_LoggerMessage(benchmark::State& state)
{
    CLogger& logger = *g_pProducer->m_oLogger;
    for (auto _ : state)
        logger.Message(VerbosityInfo, g_sText, g_sTask);
}
BENCHMARK(BM_LoggerMessage)->Threads(1)->Threads(2)->UseRealTime();

// The visualizer alone, without the logger in front of it.
void BM_ShowMessage(benchmark::State& state)
{
    Detail::CVisualizer& visualizer = *g_pProducer->m_oVisualizer;
    for (auto _ : state)
        visualizer.ShowMessage(g_sText, VerbosityInfo, g_sStamp, g_sTask);
}
BENCHMARK(BM_ShowMessage)->Threads(1)->UseRealTime();

#if VIDODERAVEV_BENCH_SPDLOG
// spdlog's asynchronous logger as the peer: one worker thread, a queue of
// 8192 that blocks a producer when full, a plain file sink.
struct SSpdlog
{
    explicit SSpdlog(const std::string& file)
        : m_oPool(std::make_shared<spdlog::details::thread_pool>(8192, 1)),
          m_oLogger(std::make_shared<spdlog::async_logger>(
              "bench", std::make_shared<spdlog::sinks::basic_file_sink_mt>(file), m_oPool,
              spdlog::async_overflow_policy::block))
    {
        // A line much like ours: time stamp, level and text.
        m_oLogger->set_formatter(std::unique_ptr<spdlog::formatter>(new spdlog::pattern_formatter(
            "%Y-%m-%d %H:%M:%S %l: %v", spdlog::pattern_time_type::local, "\r\n")));
    }
    // Returns when the worker has written everything and ended.
    void Finish()
    {
        m_oLogger.reset();
        m_oPool.reset();
    }
    std::shared_ptr<spdlog::details::thread_pool> m_oPool;
    std::shared_ptr<spdlog::async_logger> m_oLogger;
};

void BM_SpdlogMessage(benchmark::State& state)
{
    const std::string link = Directory() + "/spdlog-producer.log";
    ::unlink(link.c_str());
    if (::symlink("/dev/null", link.c_str()) != 0)
        std::perror("symlink");
    SSpdlog peer(link);
    for (auto _ : state)
        peer.m_oLogger->info(g_sText);
    peer.Finish();
}
BENCHMARK(BM_SpdlogMessage)->Threads(1)->UseRealTime();

// A million messages from one thread until the last is in the file.
void BM_SpdlogEndToEnd(benchmark::State& state)
{
    const std::string file = Directory() + "/spdlog-drain.log";
    for (auto _ : state) {
        ::unlink(file.c_str());
        SSpdlog peer(file);
        for (int i = 0; i < g_nDrainLines; ++i)
            peer.m_oLogger->info(g_sText);
        peer.Finish();
    }
    state.SetItemsProcessed(state.iterations() * g_nDrainLines);
}
BENCHMARK(BM_SpdlogEndToEnd)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
#endif

// The same for the buffered output: a million messages, then the destructor,
// which returns when all are in the file (it waits out one poll of at most
// 100 ms, which this figure includes).
void BM_BufferedEndToEnd(benchmark::State& state)
{
    const std::string file = Directory() + "/e2e.log";
    for (auto _ : state) {
        ::unlink(file.c_str());
        CBufferedFileVisualizer visualizer(Directory(), "e2e", false);
        for (int i = 0; i < g_nDrainLines; ++i)
            visualizer.ShowMessage(g_sText, VerbosityInfo, g_sStamp, g_sTask);
    }
    state.SetItemsProcessed(state.iterations() * g_nDrainLines);
}
BENCHMARK(BM_BufferedEndToEnd)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// Reaches the batch writer, which the writer thread calls with what it took.
class CDrainVisualizer : public CBufferedFileVisualizer
{
public:
    CDrainVisualizer() : CBufferedFileVisualizer(Directory(), "drain", false) {}
    // The pending flag stays clear, so the writer thread leaves the queue to
    // this thread.
    void Drain(std::list<_SLogData>& batch)
    {
        {
            Qz::Varnel::Detail::CScopedLock<Qz::Varnel::Detail::CMutex> lock(m_oQueueMutex);
            m_oQueue.swap(batch);
        }
        DrainQueue();
        _CloseLogFile(m_nLogFile, m_oLogFilePath);
    }
    // Only the lines and their writes, without freeing the entries.
    void WriteOnly(const std::list<_SLogData>& batch)
    {
        _Write(batch);
        _CloseLogFile(m_nLogFile, m_oLogFilePath);
    }
};

// A fresh batch of g_nDrainLines entries, to be written to a file that does
// not exist yet.
std::list<_SLogData> FreshBatch(const std::string& file)
{
    ::unlink(file.c_str());
    std::list<_SLogData> batch;
    for (int i = 0; i < g_nDrainLines; ++i)
        batch.emplace_back(g_sText, VerbosityInfo, g_sStamp, g_sTask);
    return batch;
}

void BM_DrainQueue(benchmark::State& state)
{
    const std::string file = Directory() + "/drain.log";
    CDrainVisualizer visualizer;
    for (auto _ : state) {
        state.PauseTiming();
        std::list<_SLogData> batch = FreshBatch(file);
        state.ResumeTiming();
        // Written, freed and closed, as the writer thread does with a batch.
        visualizer.Drain(batch);
    }
    state.SetItemsProcessed(state.iterations() * g_nDrainLines);
}
BENCHMARK(BM_DrainQueue)->Unit(benchmark::kMillisecond)->Iterations(5);

// The share of the drain that is not freeing the entries.
void BM_WriteBatch(benchmark::State& state)
{
    const std::string file = Directory() + "/drain.log";
    CDrainVisualizer visualizer;
    for (auto _ : state) {
        state.PauseTiming();
        std::list<_SLogData> batch = FreshBatch(file);
        state.ResumeTiming();
        visualizer.WriteOnly(batch);
        state.PauseTiming();
        batch.clear();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * g_nDrainLines);
}
BENCHMARK(BM_WriteBatch)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_RawWriteLoop(benchmark::State& state)
{
    const std::string file = Directory() + "/raw.log";
    const std::string line = "[" + g_sTask + "] " + g_sStamp + " INFO: " + g_sText + "\r\n";
    std::vector<std::string> lines(g_nDrainLines, line);
    for (auto _ : state) {
        state.PauseTiming();
        ::unlink(file.c_str());
        state.ResumeTiming();
        const int handle = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
        for (const std::string& text : lines) {
            if (::write(handle, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
                std::abort();
        }
        ::close(handle);
    }
    state.SetItemsProcessed(state.iterations() * g_nDrainLines);
}
BENCHMARK(BM_RawWriteLoop)->Unit(benchmark::kMillisecond)->Iterations(5);

long ResidentKiB()
{
    long pages = 0;
    long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// Resident memory before a burst of a million messages, at its peak, and
// once the writer has written them all, with the visualizer still alive.
void MeasureBurstMemory()
{
    const std::string file = Directory() + "/burst.log";
    const std::string line = "[" + g_sTask + "] " + g_sStamp + " INFO: " + g_sText + "\r\n";
    const off_t expected = static_cast<off_t>(line.size()) * g_nDrainLines;
    CBufferedFileVisualizer visualizer(Directory(), "burst", false);
    // One message written first, so that the writer's own buffers exist.
    visualizer.ShowMessage(g_sText, VerbosityInfo, g_sStamp, g_sTask);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long before = ResidentKiB();
    for (int i = 0; i < g_nDrainLines - 1; ++i)
        visualizer.ShowMessage(g_sText, VerbosityInfo, g_sStamp, g_sTask);
    const long peak = ResidentKiB();
    for (int waited = 0; waited < 600; ++waited) {
        struct stat status;
        if (::stat(file.c_str(), &status) == 0 && status.st_size >= expected)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    // The last piece is handed back just after its write.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long after = ResidentKiB();
    std::printf("\nresident memory around a burst of %d messages: before %ld KiB, peak %+ld KiB, drained %+ld KiB\n",
                g_nDrainLines, before, peak - before, after - before);
}

} // namespace

int main(int argc, char** argv)
{
    if (Directory().empty())
        return 1;
    // First, while the heap holds nothing of the benchmarks.
    MeasureBurstMemory();
    g_pProducer = new SProducerSetup;
    Bench::CTimesReporter reporter;
    if (!Bench::RunBenchmarks(argc, argv, reporter)) {
        delete g_pProducer;
        return 1;
    }

    // Wall-clock times suffer most when other work shares the cores; the
    // CPU times of the measuring threads are given beside them.
    const char* const kinds[] = {"real", "cpu"};
    for (const char* kind : kinds) {
        const bool real = kind[0] == 'r';
        auto time = [&](const char* name) { return real ? reporter.RealTime(name) : reporter.CpuTime(name); };
        const double budget = time("BM_MutexPair") + 3.0 * time("BM_StringCopy");
        const double single = time("BM_LoggerMessage/real_time/threads:1");
        const double dual = time("BM_LoggerMessage/real_time/threads:2");
        const double direct = time("BM_ShowMessage");
        const double peer = time("BM_SpdlogMessage");
        const double peerEnd = time("BM_SpdlogEndToEnd");
        const double ourEnd = time("BM_BufferedEndToEnd");
        const double drain = time("BM_DrainQueue");
        const double raw = time("BM_RawWriteLoop");
        const double writeOnly = time("BM_WriteBatch");
        std::printf("\n%s time:\n", kind);
        if (budget > 0.0) {
            std::printf("  baseline, mutex pair + three string copies: %.1f ns\n", budget);
            if (single > 0.0)
                std::printf("  Message, 1 thread:  %.2f x baseline (target <= 4)\n", single / budget);
            // Over both threads, the wall time per iteration counts the
            // messages of both: a thread waits twice that for one of its own.
            if (dual > 0.0)
                std::printf("  Message, 2 threads: %.2f x baseline per message of a thread (target <= 4)\n",
                            (real ? 2.0 : 1.0) * dual / budget);
        }
        if (budget > 0.0 && direct > 0.0)
            std::printf("  ShowMessage, 1 thread: %.2f x baseline\n", direct / budget);
        if (peer > 0.0) {
            std::printf("  spdlog async info(), 1 thread: %.2f x baseline\n", peer / budget);
            if (single > 0.0)
                std::printf("  Message vs spdlog: %.2f x (target <= 0.25)\n", single / peer);
            if (direct > 0.0)
                std::printf("  ShowMessage vs spdlog: %.2f x\n", direct / peer);
        }
        if (ourEnd > 0.0 && raw > 0.0)
            std::printf("  %d messages until all are in the file: %.2f x one write(2) per line\n", g_nDrainLines,
                        ourEnd / raw);
        if (peerEnd > 0.0 && raw > 0.0)
            std::printf("  the same through spdlog: %.2f x one write(2) per line\n", peerEnd / raw);
        if (drain > 0.0 && raw > 0.0)
            std::printf("  drain of %d lines: %.2f x one write(2) per line (target <= 1.0)\n", g_nDrainLines,
                        drain / raw);
        if (writeOnly > 0.0 && raw > 0.0)
            std::printf("  the same without freeing the entries: %.2f x\n", writeOnly / raw);
    }

    delete g_pProducer;
    return 0;
}
