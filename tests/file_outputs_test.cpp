// The file outputs: each rule once, over the simple, dated and buffered outputs that share it.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <regex>
#include <thread>

#include <sys/resource.h>
#include <sys/stat.h>

#include <vidOderavev/Progress/BufferedProgressFileVisualizer.h>
#include <vidOderavev/Progress/DateFileVisualizer.h>
#include <vidOderavev/Progress/SimpleFileVisualizer.h>

#include "support/FileTestSupport.h"
#include "support/RecordingVisualizer.h"

using namespace Qz::Varnel::Progress;
using namespace Test;
using namespace Test::FileSupport;

namespace {

const std::string g_sStamp = "2026-12-05 03:49:11";
enum EKind
{
    Simple,
    Dated,
    Buffered
};

// The clock of the buffered output: local time on 5 or 6 December 2026.
std::atomic<std::time_t> g_nFakeTime(0);
std::time_t FakeTime(std::time_t*) { return g_nFakeTime.load(); }
std::time_t December(int day, int hour, int second = 0)
{
    std::tm local = {};
    local.tm_year = 126;
    local.tm_mon = 11;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_isdst = -1;
    return std::mktime(&local) + second;
}

class CDatedVisualizer : public CDateFileVisualizer
{
public:
    using CDateFileVisualizer::CDateFileVisualizer;
    boost::gregorian::date m_oDate{2026, 12, 5};

protected:
    boost::gregorian::date _GetLocalDate() const override { return m_oDate; }
};

// On the test's clock; Changed() while a progress change waits for the writer thread.
class CBufferedVisualizer : public CBufferedProgressFileVisualizer
{
public:
    CBufferedVisualizer(const std::string& directory, const std::string& stem = "run", bool dated = false)
        : CBufferedProgressFileVisualizer(directory, stem, dated)
    {
        m_pTimeSource = &FakeTime;
    }
    bool Changed() const { return m_oSlots.Changed(); }
};

boost::shared_ptr<Detail::CVisualizerBase> Make(EKind kind, const std::string& directory,
                                                const std::string& name = "run.log")
{
    if (kind == Buffered)
        return boost::make_shared<CBufferedVisualizer>(directory);
    if (kind == Dated)
        return boost::make_shared<CDatedVisualizer>(directory + "/" + name);
    return boost::make_shared<CSimpleFileVisualizer>(directory + "/" + name);
}

void Send(Detail::CVisualizer& visualizer, const std::string& text)
{
    visualizer.ShowMessage(text, VerbosityInfo, g_sStamp, "");
}

std::string Lost(const std::string& file, const std::string& cause)
{
    return "Could not write to \"" + file + "\", output is being lost: " + cause + "\n";
}

class FileOutputs : public ::testing::TestWithParam<EKind>
{
protected:
    boost::shared_ptr<Detail::CVisualizerBase> Make() const { return ::Make(GetParam(), m_oDir.Path()); }
    std::string LogFile() const { return m_oDir / (GetParam() == Dated ? "run2026-12-05.log" : "run.log"); }
    // The dated layout leaves the task out, the buffered one puts it first.
    std::string Line(const std::string& text, const std::string& level = "INFO", const std::string& task = "") const
    {
        const std::string tag = task.empty() || GetParam() == Dated ? "" : "[" + task + "] ";
        const std::string head = GetParam() == Buffered ? tag + g_sStamp : g_sStamp;
        return head + " " + level + ": " + (GetParam() == Simple ? tag : "") + text + "\r\n";
    }

    CFailHandlerScope m_oNoDialogue{nullptr};
    CTemporaryDirectory m_oDir;
};

INSTANTIATE_TEST_SUITE_P(Kinds, FileOutputs, ::testing::Values(Simple, Dated, Buffered));

} // namespace

TEST_P(FileOutputs, LogLinesAreAppendedByteForByte)
{
    WriteTextFile(LogFile(), "earlier\r\n");
    WriteTextFile(m_oDir / "run.progress", "old\n"); // kept until the first rewrite
    auto visualizer = Make();
    visualizer->ShowMessage("Disk full", VerbosityWarning, g_sStamp, "7");
    visualizer->ShowMessage("odd\rbytes\x01\xff", VerbosityNone, g_sStamp, "");
    auto logger = MakeLogger("Root");
    visualizer->AddLogger(logger);
    logger->Message(VerbosityError, "first\nsecond", "job");
    visualizer->Clear();
    visualizer.reset();
    std::string log =
        std::regex_replace(ReadFile(LogFile()), std::regex("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d"), g_sStamp);
    log = std::regex_replace(log, std::regex("Runtime: [0-9:.]+s"), "Runtime: T");
    EXPECT_EQ(log, "earlier\r\n" + Line("Disk full", "WARNING", "7") + Line("odd\rbytes\x01\xff", "") +
                       Line("Startup") + Line("first", "ERROR", "job") + Line("second", "ERROR", "job") +
                       Line("Total Runtime: T"));
    EXPECT_EQ(ReadFile(m_oDir / "run.progress"), "old\n");
}

// Sets the top layer's progress (unless value < 0), tells the output at once (unless value is -2:
// the logger's own notification) and expects the file without ETA brackets; buffered is the
// expectation where that output differs (it leaves out rows at 0 %).
class ProgressFile : public FileOutputs
{
protected:
    void SetUp() override { m_oVisualizer->AddLogger(m_oLogger); }
    void TearDown() override { m_oVisualizer->Clear(); }
    void Expect(double value, const std::string& expected, const std::string& buffered = "\x01")
    {
        if (value >= 0.0)
            m_oLogger->SetProgress(value);
        if (value > -2.0)
            m_oVisualizer->ProgressChanged(m_oLogger, true);
        const std::string wanted = GetParam() == Buffered && buffered != "\x01" ? buffered : expected;
        auto content = [&] {
            return std::regex_replace(ReadFileOrEmpty(m_oDir / "run.progress"), std::regex(" \\[ETA: [0-9hms ]+\\]"),
                                      "");
        };
        if (auto* writer = dynamic_cast<CBufferedVisualizer*>(m_oVisualizer.get()))
            WaitFor(5.0, [&] { return !writer->Changed() && content() == wanted; });
        EXPECT_EQ(content(), wanted);
    }

    boost::shared_ptr<CLogger> m_oLogger = MakeLogger("Root", 1.0, 1000.0);
    boost::shared_ptr<Detail::CVisualizerBase> m_oVisualizer = Make();
};

INSTANTIATE_TEST_SUITE_P(Kinds, ProgressFile, ::testing::Values(Simple, Dated, Buffered));

TEST_P(ProgressFile, Rows)
{
    // No progress yet: the time remaining is unbounded and has no bracket.
    Expect(-1, "Root: 0 %\n\n", "\n");
    // A fraction must move by more than 0.01.
    Expect(10.0, "Root: 0 %\n\n", "\n");
    Expect(11.0, "Root: 1.1 %\n\n");
    Expect(100.0, "Root: 10 %\n\n");
    Expect(110.0, "Root: 10 %\n\n");
    Expect(111.0, "Root: 11.1 %\n\n");
    // The innermost step layer adds a row.
    m_oLogger->Push("Other", 500.0, 10.0, 0.0, false, LayerClassOther);
    m_oLogger->Push("Step", 10.0, 100.0, 0.0, false, LayerClassStep);
    m_oLogger->Push("Inner", 1.0, 10.0, 0.0, false, LayerClassOther);
    Expect(-1, "Root: 11.1 %\nStep: 0 %\n\n", "Root: 11.1 %\n\n");
    m_oLogger->Pop();
    Expect(50.0, "Root: 36.1 %\nStep: 50 %\n\n");
    Expect(50.5, "Root: 36.1 %\nStep: 50 %\n\n");
    // A new root text rewrites: the root keeps its percent, the step row
    // follows because an earlier row changed.
    m_oLogger->SetText(0, "Renamed");
    Expect(-1, "Renamed: 36.1 %\nStep: 50.5 %\n\n");
    // Pop notifies at once, the completed layer still there; its row goes with the next rewrite.
    m_oLogger->Pop();
    Expect(-2, "Renamed: 61.1 %\nStep: 100 %\n\n");
    m_oLogger->Pop();
    Expect(1000.0, "Renamed: 100 %\n\n");
    // A root layer of the step class is shown twice once another layer is on it.
    m_oLogger->SetClass(0, LayerClassStep);
    m_oLogger->Push("Other", 10.0, 10.0, 0.0, false, LayerClassOther);
    Expect(-1, "Renamed: 100 %\nRenamed: 100 %\n\n");
}

// A change that the 0.2 s throttle dropped just before Clear() is in the file once the output is gone.
TEST_P(ProgressFile, ClearWritesTheDroppedProgress)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // past the window construction opened
    m_oLogger->SetProgress(500.0);
    m_oLogger->SetProgress(1000.0); // dropped by the throttle
    m_oVisualizer->Clear();
    m_oVisualizer = Make(); // the old one is gone; the new one writes nothing yet
    EXPECT_EQ(ReadFile(m_oDir / "run.progress"), "Root: 100 %\n\n");
}

TEST(FileOutputNames, FromTheGivenNameTheStemAndTheDayOfWriting)
{
    const std::vector<std::array<std::string, 3>> cases = {
        {"run.log", "run.log run.progress", "run.progress run2026-12-05.log"},
        {"run", "run.log run.progress", "run.progress run2026-12-05.log"},
        {"run.final.log", "run.final.log run.final.progress", "run.final.progress run.final2026-12-05.log"},
    };
    for (const auto& names : cases)
        for (EKind kind : {Simple, Dated}) {
            CTemporaryDirectory dir;
            Send(*Make(kind, dir.Path(), names[0]), "x");
            std::string made;
            for (const std::string& entry : dir.Entries())
                made += (made.empty() ? "" : " ") + entry;
            EXPECT_EQ(made, names[kind + 1]) << names[0];
        }
}

// The day of writing names a dated log, not the message's time stamp.
TEST(FileOutputNames, EntriesAcrossMidnight)
{
    CTemporaryDirectory dir;
    auto dated = boost::make_shared<CDatedVisualizer>(dir / "sync.log");
    g_nFakeTime = December(5, 23, 3599);
    {
        CBufferedVisualizer buffered(dir.Path(), "buffered", true);
        auto send = [&](const std::string& text) {
            Send(*dated, text);
            Send(buffered, text);
        };
        send("late");
        ASSERT_TRUE(WaitFor(5.0, [&] { return FileExists(dir / "buffered2026-12-05.log"); }));
        g_nFakeTime = December(6, 0, 1);
        dated->m_oDate = boost::gregorian::date(2026, 12, 6);
        send("early");
    }
    for (const char* stem : {"sync", "buffered"}) {
        EXPECT_EQ(ReadFile(dir / (stem + std::string("2026-12-05.log"))), g_sStamp + " INFO: late\r\n");
        EXPECT_EQ(ReadFile(dir / (stem + std::string("2026-12-06.log"))), g_sStamp + " INFO: early\r\n");
    }
}

// A missing directory: the simple output raises at once, without asking, naming its log, the dated
// one its progress file, which it opens first; the buffered one drops entries silently until the
// directory exists. A full disk: the synchronous outputs raise on every message, the buffered one
// reports the loss once. Neither leaves a descriptor open.
TEST_P(FileOutputs, MissingDirectoryAndFullDisk)
{
    auto handler = boost::make_shared<CScriptedFailHandler>("yyy");
    CFailHandlerScope scope(handler);
    const std::string missing = m_oDir / "missing";
    ASSERT_EQ(::symlink("/dev/full", LogFile().c_str()), 0);
    CStderrRedirect errors;
    const int before = CountOpenDescriptors();
    std::string raised;
    auto run = [&](const std::string& directory) {
        auto visualizer = ::Make(GetParam(), directory);
        for (int i = 0; i < 2; ++i)
            raised += DescribeFileioError([&] { Send(*visualizer, "lost"); }) + "\n";
        if (directory == missing) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            ASSERT_EQ(::mkdir(missing.c_str(), 0777), 0);
            Send(*visualizer, "kept");
        }
    };
    for (const std::string& directory : {missing, m_oDir.Path()}) {
        raised += DescribeFileioError([&] { run(directory); }) + "\n";
        EXPECT_EQ(CountOpenDescriptors(), before);
    }
    const std::string open = "Failed to open the file \"" + missing, full = "Failed to write to a file";
    const std::string none = "no exception\n", fails = full + "|28\n" + full + "|28\n" + none;
    const std::string expected[] = {open + "/run.log\"|2\n" + fails, open + "/run.progress\"|2\n" + fails,
                                    none + none + none + none + none + none +
                                        Lost(LogFile(), full + " (No space left on device)")};
    EXPECT_EQ(raised + errors.Text(), expected[GetParam()]);
    EXPECT_EQ(handler->m_nOpenQuestions, 0);
    if (GetParam() == Buffered) {
        EXPECT_EQ(SplitCrLfLines(ReadFile(missing + "/run.log")).back(), g_sStamp + " INFO: kept");
    }
}

// A write cut short at the file size limit (as on a full disk) leaves no part of the line for the
// next one to be glued to, and later lines land once there is room. The buffered writer never
// asks, even with the console handler and answers waiting. Runs in a child, whose limit is its own.
TEST_P(FileOutputs, AFailedWriteLeavesNoTornLine)
{
    const SChildResult child = RunInChild(
        [&] {
            ::signal(SIGXFSZ, SIG_IGN);
            if (GetParam() == Buffered)
                Qz::Varnel::Fileio::g_oFailHandler.reset(new Qz::Varnel::Fileio::CStdioFailHandler);
            std::string raised;
            auto visualizer = Make();
            auto send = [&](const std::string& text) {
                raised += DescribeFileioError([&] { Send(*visualizer, text); }) + "\n";
            };
            send("whole");
            WaitFor(5.0, [&] { return !ReadFileOrEmpty(LogFile()).empty(); });
            rlimit limit;
            ::getrlimit(RLIMIT_FSIZE, &limit);
            const rlimit unlimited = limit;
            limit.rlim_cur = 2 * Line("whole").size() + 10;
            ::setrlimit(RLIMIT_FSIZE, &limit);
            const int open = CountOpenDescriptors();
            send("a");
            send("b");
            // The buffered writer closes a file that failed.
            WaitFor(5.0, [&] { return GetParam() != Buffered || CountOpenDescriptors() < open; });
            ::setrlimit(RLIMIT_FSIZE, &unlimited);
            send("next");
            visualizer.reset();
            return raised + ReadFile(LogFile());
        },
        "y\ny\ny\ny\n");
    const std::string none = "no exception\n", cut = "Failed to write enough data to a file";
    const std::string report =
        GetParam() == Buffered ? Lost(LogFile(), cut) + none + none + none + none : none + none + cut + "|0\n" + none;
    EXPECT_EQ(child.m_sStderr + child.m_sReport, report + Line("whole") + Line("a") + Line("next"));
}

// Lines from several threads arrive whole, in order and none lost, also 4 x 250,000 buffered ones.
TEST_P(FileOutputs, ConcurrentReportersLoseNoLine)
{
#if defined(__SANITIZE_THREAD__)
    const int load = 5000;
#elif defined(__SANITIZE_ADDRESS__)
    const int load = 50000;
#else
    const int load = 250000;
#endif
    const int perThread = GetParam() == Buffered ? load : 100;
    auto visualizer = Make();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i)
                Send(*visualizer, std::to_string(t) + " " + std::to_string(i));
        });
    for (auto& thread : threads)
        thread.join();
    visualizer.reset();
    const std::string log = ReadFile(LogFile()), head = g_sStamp + " INFO: ";
    ASSERT_EQ(log.substr(log.size() - 2), "\r\n");
    std::vector<int> next(4, 0);
    for (const std::string& line : SplitCrLfLines(log)) {
        const int t = line.size() > head.size() ? line[head.size()] - '0' : -1;
        ASSERT_TRUE(t >= 0 && t < 4) << line;
        ASSERT_EQ(line, head + std::to_string(t) + " " + std::to_string(next[t]++));
    }
    EXPECT_EQ(next, std::vector<int>(4, perThread));
}
