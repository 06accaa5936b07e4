// The translator's costs beside their baselines, measured in the same run:
//   - CTranslator::Translate of a known text and of a new text, beside a
//     boost::recursive_mutex lock/unlock pair, one look-up in a map of the
//     same size as the translator's table, and the two together;
//   - reading a 100,000-entry .trl file (CTranslatorFile::Read), in bytes per
//     second, beside memchr scans of the same mapped bytes: one call for an
//     absent byte (pure memory bandwidth) and one call per line feed.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include <boost/filesystem/operations.hpp>
#include <boost/iostreams/device/mapped_file.hpp>
#include <boost/thread/recursive_mutex.hpp>

#include <vidOderavev/Internationalisation/Translator.h>
#include <vidOderavev/Internationalisation/TranslatorFile.h>

#include "support/BenchSupport.h"

using Qz::Varnel::Internationalisation::CTranslator;
using Qz::Varnel::Internationalisation::CTranslatorData;
using Qz::Varnel::Internationalisation::CTranslatorFile;

namespace {

const int g_nKnownTexts = 200;
const int g_nFileEntries = 100000;
const std::string g_sKnownText = "Total Runtime: %1%s";

Bench::CBenchDirectory& Directory()
{
    static Bench::CBenchDirectory s_oDirectory;
    return s_oDirectory;
}

std::string KnownText(int index) { return "Known text number " + std::to_string(index) + " of the table"; }

// The translator's table as the look-up baseline sees it.
std::map<std::string, std::string> MakeKnownMap()
{
    std::map<std::string, std::string> map;
    for (int i = 0; i < g_nKnownTexts; ++i)
        map.emplace(KnownText(i), KnownText(i));
    map.emplace(g_sKnownText, g_sKnownText);
    return map;
}

void PrepareTranslator()
{
    CTranslator::Init(Directory().Path(), "bench", "Default");
    for (int i = 0; i < g_nKnownTexts; ++i)
        CTranslator::Translate(KnownText(i));
    CTranslator::Translate(g_sKnownText);
}

void LockPair(benchmark::State& state)
{
    boost::recursive_mutex mutex;
    for (auto _ : state) {
        mutex.lock();
        benchmark::ClobberMemory();
        mutex.unlock();
    }
}
BENCHMARK(LockPair);

void MapLookUp(benchmark::State& state)
{
    const std::map<std::string, std::string> map = MakeKnownMap();
    for (auto _ : state)
        benchmark::DoNotOptimize(map.find(g_sKnownText));
}
BENCHMARK(MapLookUp);

void LockPairAndLookUp(benchmark::State& state)
{
    const std::map<std::string, std::string> map = MakeKnownMap();
    boost::recursive_mutex mutex;
    for (auto _ : state) {
        mutex.lock();
        benchmark::DoNotOptimize(map.find(g_sKnownText));
        mutex.unlock();
    }
}
BENCHMARK(LockPairAndLookUp);

void TranslateKnownText(benchmark::State& state)
{
    PrepareTranslator();
    for (auto _ : state)
        benchmark::DoNotOptimize(CTranslator::Translate(g_sKnownText));
}
BENCHMARK(TranslateKnownText);

void TranslateNewText(benchmark::State& state)
{
    PrepareTranslator();
    // The texts are made before the clock runs; each is new to the table.
    std::vector<std::string> texts;
    texts.reserve(static_cast<std::size_t>(state.max_iterations));
    for (benchmark::IterationCount i = 0; i < state.max_iterations; ++i)
        texts.push_back("New text number " + std::to_string(i) + " of the run");
    std::size_t next = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(CTranslator::Translate(texts[next++]));
    // Nothing of this is written back.
    CTranslator::Init(Directory().Path() + "/none", "bench", "Default");
}
BENCHMARK(TranslateNewText)->Iterations(200000);

const std::string& LargeFile()
{
    static const std::string s_sFileName = []() {
        CTranslatorData table;
        table.Init("large", "Default");
        for (int i = 0; i < g_nFileEntries; ++i)
            table.SetTranslation("Source text " + std::to_string(i) + " with \"quotes\"",
                                 "Translated text " + std::to_string(i) + ", a little longer than its source");
        std::string fileName = Directory().File("largeDefault.trl");
        CTranslatorFile(fileName).Write(table);
        return fileName;
    }();
    return s_sFileName;
}

void ReadTrlFile(benchmark::State& state)
{
    const std::string& fileName = LargeFile();
    const auto size = boost::filesystem::file_size(fileName);
    for (auto _ : state) {
        CTranslatorData table;
        if (!CTranslatorFile(fileName).Read(table) || table.GetTranslatorMap().size() != g_nFileEntries)
            state.SkipWithError("the file did not read");
        // Dropping the table is not part of reading.
        state.PauseTiming();
        table.Init("", "");
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}
BENCHMARK(ReadTrlFile)->Unit(benchmark::kMillisecond);

void MemchrAbsentByte(benchmark::State& state)
{
    boost::iostreams::mapped_file_source file(LargeFile());
    for (auto _ : state)
        benchmark::DoNotOptimize(std::memchr(file.data(), '\x01', file.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
}
BENCHMARK(MemchrAbsentByte)->Unit(benchmark::kMillisecond);

void MemchrLineFeeds(benchmark::State& state)
{
    boost::iostreams::mapped_file_source file(LargeFile());
    for (auto _ : state) {
        std::size_t lines = 0;
        const char* position = file.data();
        const char* const end = file.data() + file.size();
        while (const void* found = std::memchr(position, '\n', static_cast<std::size_t>(end - position))) {
            ++lines;
            position = static_cast<const char*>(found) + 1;
        }
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
}
BENCHMARK(MemchrLineFeeds)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
