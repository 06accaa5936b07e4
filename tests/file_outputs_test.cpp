// The file outputs: log line bytes per output, the progress file of the
// simple and dated outputs, file names, and what happens when files fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <regex>
#include <thread>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/filesystem/operations.hpp>

#include <vidOderavev/Libraries/Fileio/FileioUnix.h>
#include <vidOderavev/Progress/BufferedProgressFileVisualizer.h>
#include <vidOderavev/Progress/DateFileVisualizer.h>
#include <vidOderavev/Progress/SimpleFileVisualizer.h>

#include "support/FileTestSupport.h"
#include "support/RecordingVisualizer.h"

using namespace Qz::Varnel::Progress;
using namespace Test::FileSupport;
using boost::gregorian::date;
using Test::CTemporaryDirectory;
using Test::FileExists;
using Test::MakeLogger;
using Test::ReadFile;
using Test::WriteTextFile;

namespace {

const std::string g_sStamp = "2026-12-05 03:49:11";
const std::string g_sStampPattern = "[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}";

// The time remaining depends on the wall clock; where a test cannot pin it,
// it compares the file without the brackets.
std::vector<std::string> Sorted(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

std::string WithoutEta(const std::string& content)
{
    return std::regex_replace(content, std::regex(" \\[ETA: [0-9hms ]+\\]"), "");
}

// A calendar that the test turns; the descriptor of the progress file.
class CDatedVisualizer : public CDateFileVisualizer
{
public:
    using CDateFileVisualizer::CDateFileVisualizer;
    date m_oDate{2026, 12, 5};
    int ProgressFile() const { return m_nProgressFile; }

protected:
    date _GetLocalDate() const override { return m_oDate; }
};

class CExposedVisualizer : public CSimpleFileVisualizer
{
public:
    using CSimpleFileVisualizer::CSimpleFileVisualizer;
    int ProgressFile() const { return m_nProgressFile; }
};

// The simple and the dated output share the progress file and differ in the
// log: the parameter says which one a test runs on.
class FileOutput : public ::testing::TestWithParam<bool>
{
protected:
    bool Dated() const { return GetParam(); }
    boost::shared_ptr<Detail::CVisualizerBase> Make(const std::string& name) const
    {
        if (Dated())
            return boost::make_shared<CDatedVisualizer>(name);
        return boost::make_shared<CSimpleFileVisualizer>(name);
    }
    std::string LogFile(const std::string& base = "run") const
    {
        return m_oDir / (base + (Dated() ? "2026-12-05.log" : ".log"));
    }
    // An output on run.log that shows the logger.
    void Show(const boost::shared_ptr<CLogger>& logger)
    {
        m_oLogger = logger;
        m_oVisualizer = Make(m_oDir / "run.log");
        m_oVisualizer->AddLogger(logger);
    }
    // Tells the output that the progress changed and must show at once, and
    // returns the progress file then.
    std::string Refresh()
    {
        m_oVisualizer->ProgressChanged(m_oLogger, true);
        return WithoutEta(ReadFile(m_oDir / "run.progress"));
    }
    std::string Refresh(double value)
    {
        m_oLogger->SetProgress(value);
        return Refresh();
    }
    void TearDown() override
    {
        if (m_oVisualizer)
            m_oVisualizer->Clear();
    }

    // No dialogue: a failure raises at once.
    CFailHandlerScope m_oNoHandler{boost::shared_ptr<Qz::Varnel::Fileio::CFailHandler>()};
    CTemporaryDirectory m_oDir;
    boost::shared_ptr<CLogger> m_oLogger;
    boost::shared_ptr<Detail::CVisualizerBase> m_oVisualizer;
};

} // namespace

INSTANTIATE_TEST_SUITE_P(SimpleAndDated, FileOutput, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Dated" : "Simple"; });

TEST_P(FileOutput, LogLinesAreAppendedByteForByte)
{
    WriteTextFile(LogFile(), "earlier\r\n");
    WriteTextFile(m_oDir / "run.progress", "old progress\n");
    auto visualizer = Make(m_oDir / "run.log");
    visualizer->ShowMessage("Disk full", VerbosityWarning, g_sStamp, "7");
    visualizer->ShowMessage("plain", VerbosityTrace, g_sStamp, "");
    visualizer->ShowMessage("odd\rbytes\x01\xff", VerbosityNone, g_sStamp, "");
    // The dated output never writes the task.
    EXPECT_EQ(ReadFile(LogFile()), std::string("earlier\r\n2026-12-05 03:49:11 WARNING: ") + (Dated() ? "" : "[7] ") +
                                       "Disk full\r\n2026-12-05 03:49:11 TRACE: plain\r\n"
                                       "2026-12-05 03:49:11 : odd\rbytes\x01\xff\r\n");
    // The progress file keeps its content until the first rewrite.
    EXPECT_EQ(ReadFile(m_oDir / "run.progress"), "old progress\n");

    // Notes and message lines through a logger.
    auto logger = MakeLogger("Root");
    visualizer->AddLogger(logger);
    logger->Message(VerbosityError, "first\nsecond", "job");
    visualizer->Clear();
    const std::string task = Dated() ? "" : "\\[job\\] ";
    const std::string log = ReadFile(LogFile());
    EXPECT_TRUE(
        std::regex_search(log, std::regex(g_sStampPattern + " INFO: Startup\r\n" + g_sStampPattern + " ERROR: " + task +
                                          "first\r\n" + g_sStampPattern + " ERROR: " + task + "second\r\n" +
                                          g_sStampPattern + " INFO: Total Runtime: [0-9:.]+s\r\n$")))
        << log;
}

// The progress file is the same for the simple, dated and buffered outputs,
// except that the buffered one leaves out rows at 0 %.
class ProgressFile : public ::testing::TestWithParam<int>
{
protected:
    enum EKind
    {
        Simple,
        Dated,
        Buffered
    };
    // The buffered output's writer thread takes a change within 0.1 s.
    struct CBuffered : CBufferedProgressFileVisualizer
    {
        using CBufferedProgressFileVisualizer::CBufferedProgressFileVisualizer;
        bool Changed() const { return m_oSlots.Changed(); }
    };
    void SetUp() override
    {
        m_oLogger = MakeLogger("Root", 1.0, 1000.0);
        if (GetParam() == Buffered)
            m_oVisualizer.reset(m_pBuffered = new CBuffered(m_oDir.Path(), "run", false));
        else if (GetParam() == Dated)
            m_oVisualizer.reset(new CDatedVisualizer(m_oDir / "run.log"));
        else
            m_oVisualizer.reset(new CSimpleFileVisualizer(m_oDir / "run.log"));
        m_oVisualizer->AddLogger(m_oLogger);
    }
    void TearDown() override
    {
        if (m_oVisualizer)
            m_oVisualizer->Clear();
    }
    // Sets the progress of the top layer (unless value is negative), tells the
    // output that the progress changed and must show at once, and expects the
    // file then, with ETA brackets left out; buffered is the expectation for
    // that output where it differs.
    void Expect(double value, const std::string& expected, const std::string& buffered = "\x01")
    {
        if (value >= 0.0)
            m_oLogger->SetProgress(value);
        m_oVisualizer->ProgressChanged(m_oLogger, true);
        const std::string wanted = GetParam() == Buffered && buffered != "\x01" ? buffered : expected;
        auto content = [&] { return WithoutEta(::Test::ReadFileOrEmpty(m_oDir / "run.progress")); };
        if (m_pBuffered) {
            ::Test::WaitFor(5.0, [&] { return !m_pBuffered->Changed() && content() == wanted; });
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_EQ(content(), wanted);
    }

    CTemporaryDirectory m_oDir;
    boost::shared_ptr<CLogger> m_oLogger;
    boost::shared_ptr<Detail::CVisualizerBase> m_oVisualizer;
    CBuffered* m_pBuffered = nullptr;
};

INSTANTIATE_TEST_SUITE_P(SimpleDatedAndBuffered, ProgressFile, ::testing::Values(0, 1, 2),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == 0 ? "Simple" : info.param == 1 ? "Dated" : "Buffered");
                         });

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
    // A popped step row goes with the next rewrite.
    m_oLogger->Pop();
    m_oLogger->Pop();
    Expect(1000.0, "Renamed: 100 %\n\n");
    // A root layer of the step class is shown twice once another layer is on it.
    m_oLogger->SetClass(0, LayerClassStep);
    m_oLogger->Push("Other", 10.0, 10.0, 0.0, false, LayerClassOther);
    Expect(-1, "Renamed: 100 %\nRenamed: 100 %\n\n");
}

TEST_P(ProgressFile, PopRewritesAtOnceWhileTheLayerIsStillThere)
{
    m_oLogger->Push("Step", 500.0, 100.0, 0.0, false, LayerClassStep);
    Expect(-1, "Root: 0 %\nStep: 0 %\n\n", "\n");
    Expect(30.0, "Root: 15 %\nStep: 30 %\n\n");
    m_oLogger->Pop(); // no Expect: the logger's own notification
    const std::string popped = "Root: 50 %\nStep: 100 %\n\n";
    ::Test::WaitFor(5.0, [&] { return WithoutEta(::Test::ReadFileOrEmpty(m_oDir / "run.progress")) == popped; });
    EXPECT_EQ(WithoutEta(::Test::ReadFile(m_oDir / "run.progress")), popped);
}

// A progress file is a snapshot: a change that the 0.2 s throttle dropped
// just before Clear() is in the file once the output is gone.
TEST_P(ProgressFile, ClearWritesTheDroppedProgress)
{
    // Past the throttle's window that construction opened.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    m_oLogger->SetProgress(500.0);
    m_oLogger->SetProgress(1000.0); // dropped by the throttle
    m_oVisualizer->Clear();
    m_oVisualizer.reset();
    m_pBuffered = nullptr;
    EXPECT_EQ(ReadFile(m_oDir / "run.progress"), "Root: 100 %\n\n");
}

TEST_P(FileOutput, NamesBusyProgressFilesAndRelativeNames)
{
    const std::string day = Dated() ? "2026-12-05" : "";
    for (const char* given : {"a/run.log", "a/run"}) {
        ::mkdir((m_oDir / "a").c_str(), 0777);
        Make(m_oDir / given)->ShowMessage("x", VerbosityInfo, g_sStamp, "");
        EXPECT_EQ(Sorted(::Test::EntriesOf(m_oDir / "a")), Sorted({"run" + day + ".log", "run.progress"}));
    }
    ::mkdir((m_oDir / "b").c_str(), 0777);
    Make(m_oDir / "b/run.final.log")->ShowMessage("x", VerbosityInfo, g_sStamp, "");
    Make(m_oDir / "b/.run")->ShowMessage("x", VerbosityInfo, g_sStamp, ""); // loses its only dot
    EXPECT_EQ(Sorted(::Test::EntriesOf(m_oDir / "b")),
              Sorted({".progress", day + ".log", "run.final" + day + ".log", "run.final.progress"}));

    // A busy progress file gives the simple output a numbered pair; relative
    // names follow the current directory of each write.
    if (Dated())
        return;
    ASSERT_EQ(::mkdir((m_oDir / "run.progress").c_str(), 0777), 0);
    ASSERT_EQ(::mkdir((m_oDir / "run_1.progress").c_str(), 0777), 0);
    Show(MakeLogger("Root"));
    m_oVisualizer->ProgressChanged(m_oLogger, true);
    EXPECT_EQ(ReadFile(m_oDir / "run_2.progress"), "Root: 0 %\n\n");
    EXPECT_TRUE(FileExists(m_oDir / "run_2.log"));
    m_oVisualizer->Clear();

    const boost::filesystem::path previous = boost::filesystem::current_path();
    boost::filesystem::current_path(m_oDir.Path());
    auto relative = Make("rel.log");
    relative->ShowMessage("here", VerbosityInfo, g_sStamp, "");
    boost::filesystem::current_path(m_oDir / "a");
    const std::string raised =
        DescribeFileioError([&] { relative->ShowMessage("there", VerbosityInfo, g_sStamp, ""); });
    boost::filesystem::current_path(previous);
    EXPECT_EQ(ReadFile(m_oDir / "rel.log"), "2026-12-05 03:49:11 INFO: here\r\n");
    EXPECT_EQ(raised, "Failed to open the file \"rel.log\"|" + std::to_string(ENOENT));
}

TEST_P(FileOutput, FailuresRaiseAndLeaveNoDescriptorOpen)
{
    const int before = CountOpenDescriptors();
    // A missing directory: the simple output names its log, the dated one its
    // progress file, which it opens first, and neither asks.
    auto handler = boost::make_shared<CScriptedFailHandler>("yyy");
    {
        CFailHandlerScope scope(handler);
        const std::string name = m_oDir / "missing/run.log";
        EXPECT_EQ(DescribeFileioError([&] { Make(name); }), "Failed to open the file \"" +
                                                                (Dated() ? m_oDir / "missing/run.progress" : name) +
                                                                "\"|" + std::to_string(ENOENT));
    }
    EXPECT_EQ(handler->m_nOpenQuestions, 0);
    // A log that cannot be created.
    if (!Dated()) {
        ASSERT_EQ(::mkdir((m_oDir / "dir.log").c_str(), 0777), 0);
        EXPECT_EQ(DescribeFileioError([&] { Make(m_oDir / "dir.log"); }),
                  "Failed to open the file \"" + (m_oDir / "dir.log") + "\"|" + std::to_string(EISDIR));
    }
    EXPECT_EQ(CountOpenDescriptors(), before);

    // Failing writes (a log linked to /dev/full) raise ENOSPC every time and
    // leave no descriptor open.
    ASSERT_EQ(::symlink("/dev/full", LogFile("full").c_str()), 0);
    {
        auto visualizer = Make(m_oDir / "full.log");
        const int open = CountOpenDescriptors();
        for (int i = 0; i < 300; ++i)
            ASSERT_EQ(DescribeFileioError([&] { visualizer->ShowMessage("x", VerbosityInfo, g_sStamp, ""); }),
                      "Failed to write to a file|" + std::to_string(ENOSPC));
        EXPECT_EQ(CountOpenDescriptors(), open);
    }
    // Destruction closes the progress file and survives a close that fails
    // because the file was closed behind the output's back.
    EXPECT_EQ(CountOpenDescriptors(), before);
    boost::shared_ptr<Detail::CVisualizerBase> exposed;
    int progressFile;
    if (Dated()) {
        auto dated = boost::make_shared<CDatedVisualizer>(m_oDir / "closed.log");
        progressFile = dated->ProgressFile();
        exposed = dated;
    } else {
        auto simple = boost::make_shared<CExposedVisualizer>(m_oDir / "closed.log");
        progressFile = simple->ProgressFile();
        exposed = simple;
    }
    ASSERT_NE(progressFile, -1);
    ASSERT_EQ(::close(progressFile), 0);
    EXPECT_NO_THROW(exposed.reset());
    EXPECT_EQ(CountOpenDescriptors(), before);

    // A progress file that cannot be created (a dangling link) means no
    // progress for the simple output, and the log goes on; the dated output
    // raises.
    ASSERT_EQ(::symlink((m_oDir / "nowhere/target").c_str(), (m_oDir / "run.progress").c_str()), 0);
    if (Dated()) {
        EXPECT_EQ(DescribeFileioError([&] { Show(MakeLogger("Root")); }),
                  "Failed to open the file \"" + (m_oDir / "run.progress") + "\"|" + std::to_string(ENOENT));
        return;
    }
    Show(MakeLogger("Root"));
    m_oLogger->SetProgress(0.5);
    m_oVisualizer->ProgressChanged(m_oLogger, true);
    m_oLogger->Message(VerbosityInfo, "still logging");
    EXPECT_FALSE(boost::filesystem::exists(m_oDir / "run.progress"));
    EXPECT_NE(ReadFile(LogFile()).find("INFO: still logging\r\n"), std::string::npos);

    // A deleted log raises on the next message, and the mutex is released on
    // the way out.
    ASSERT_EQ(::unlink(LogFile().c_str()), 0);
    EXPECT_EQ(DescribeFileioError([&] { m_oLogger->Message(VerbosityInfo, "lost"); }),
              "Failed to open the file \"" + LogFile() + "\"|" + std::to_string(ENOENT));
    WriteTextFile(LogFile(), "");
    std::thread other([&] { m_oVisualizer->ShowMessage("back", VerbosityInfo, g_sStamp, ""); });
    other.join();
    EXPECT_EQ(ReadFile(LogFile()), "2026-12-05 03:49:11 INFO: back\r\n");
}

// A write that stops part way through a line (here at the file size limit, as
// on a disk that fills up) raises, and leaves no part of the line behind for
// the next line to be glued to. Runs in a child process, whose limit is its own.
TEST_P(FileOutput, AFailedWriteLeavesNoTornLine)
{
    const SChildResult child = RunInChild(
        [&] {
            auto visualizer = Make(m_oDir / "run.log");
            auto send = [&](const std::string& text) {
                return DescribeFileioError([&] { visualizer->ShowMessage(text, VerbosityInfo, g_sStamp, ""); });
            };
            std::string report = send("whole");
            ::signal(SIGXFSZ, SIG_IGN);
            rlimit limit;
            ::getrlimit(RLIMIT_FSIZE, &limit);
            const rlim_t unlimited = limit.rlim_cur;
            limit.rlim_cur = ReadFile(LogFile()).size() + 10;
            ::setrlimit(RLIMIT_FSIZE, &limit);
            report += "\n" + send("cut");
            limit.rlim_cur = unlimited;
            ::setrlimit(RLIMIT_FSIZE, &limit);
            report += "\n" + send("next");
            return report + "\n" + ReadFile(LogFile());
        },
        "");
    EXPECT_EQ(child.m_sReport, "no exception\nFailed to write enough data to a file|0\nno exception\n"
                               "2026-12-05 03:49:11 INFO: whole\r\n2026-12-05 03:49:11 INFO: next\r\n");
}

TEST_P(FileOutput, ConcurrentReportersKeepLinesWhole)
{
    auto logger = MakeLogger("Root", 1.0, 4000.0);
    Show(logger);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 100; ++i) {
                logger->Message(VerbosityInfo, "thread " + std::to_string(t) + " line " + std::to_string(i));
                logger->IncrementProgress(10.0);
                m_oVisualizer->ProgressChanged(logger, true);
            }
        });
    for (auto& thread : threads)
        thread.join();
    // Within one percentage point of the end: the last steps may not show.
    EXPECT_TRUE(std::regex_match(Refresh(4000.0), std::regex("Root: (99(\\.[0-9]+)?|100) %\n\n")));
    m_oVisualizer->Clear();
    const std::string log = ReadFile(LogFile());
    const std::regex line(g_sStampPattern + " INFO: (Startup|thread [0-3] line [0-9]+|Total Runtime: [0-9:.]+s)\r\n");
    EXPECT_EQ(std::distance(std::sregex_iterator(log.begin(), log.end(), line), std::sregex_iterator()), 402);
    EXPECT_EQ(std::regex_replace(log, line, ""), "");
}

TEST(DateFileOutput, TheDayOfWritingNamesTheLog)
{
    CTemporaryDirectory dir;
    auto visualizer = boost::make_shared<CDatedVisualizer>(dir / "run.log");
    EXPECT_TRUE(FileExists(dir / "run.progress"));
    EXPECT_FALSE(FileExists(dir / "run2026-12-05.log")); // no log until the first message
    const int progressFile = visualizer->ProgressFile();
    visualizer->ShowMessage("before", VerbosityInfo, "2026-12-05 23:59:59", "");
    visualizer->m_oDate = date(2026, 12, 6);
    // The file follows the date of writing, not the message's time stamp.
    visualizer->ShowMessage("after", VerbosityInfo, "2026-12-05 23:59:59", "");
    EXPECT_EQ(ReadFile(dir / "run2026-12-05.log"), "2026-12-05 23:59:59 INFO: before\r\n");
    EXPECT_EQ(ReadFile(dir / "run2026-12-06.log"), "2026-12-05 23:59:59 INFO: after\r\n");
    EXPECT_EQ(visualizer->ProgressFile(), progressFile);
    ASSERT_EQ(::unlink((dir / "run2026-12-06.log").c_str()), 0); // a deleted day file is created anew
    visualizer->ShowMessage("again", VerbosityInfo, g_sStamp, "");
    EXPECT_EQ(ReadFile(dir / "run2026-12-06.log"), "2026-12-05 03:49:11 INFO: again\r\n");
    visualizer->m_oDate = date(2027, 1, 9);
    EXPECT_EQ(visualizer->_BuildLogFileName(), dir / "run2027-01-09.log");
    // The real clock gives today's local date.
    CDateFileVisualizer real(dir / "job.log");
    const std::string before = boost::gregorian::to_iso_extended_string(boost::gregorian::day_clock::local_day());
    const std::string name = real._BuildLogFileName();
    const std::string after = boost::gregorian::to_iso_extended_string(boost::gregorian::day_clock::local_day());
    EXPECT_TRUE(name == dir / ("job" + before + ".log") || name == dir / ("job" + after + ".log")) << name;
}
