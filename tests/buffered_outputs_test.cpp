// The buffered log and progress outputs: what their writer threads put into
// the files, and how they carry on when a file fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <limits>
#include <regex>
#include <thread>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <vidOderavev/Libraries/Fileio/FileioUnix.h>
#include <vidOderavev/Progress/BufferedFileVisualizer.h>
#include <vidOderavev/Progress/BufferedProgressFileVisualizer.h>

#include "support/FileTestSupport.h"
#include "support/RecordingVisualizer.h"

using namespace Qz::Varnel::Progress;
using Test::CStderrRedirect;
using Test::CTemporaryDirectory;
using Test::MakeLogger;
using Test::ReadFile;
using Test::ReadFileOrEmpty;
using Test::SplitCrLfLines;
using Test::WaitFor;

namespace {

const std::string g_sStamp = "2026-12-05 03:49:11";

std::atomic<std::time_t> g_nFakeTime(0);
std::time_t FakeTime(std::time_t* result)
{
    const std::time_t now = g_nFakeTime.load();
    if (result)
        *result = now;
    return now;
}

std::time_t LocalTime(int year, int month, int day, int hour)
{
    std::tm local = {};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

// Reaches the name builder, and moves the clock the file names follow.
class CTestVisualizer : public CBufferedFileVisualizer
{
public:
    CTestVisualizer(const std::string& directory, const std::string& stem, bool dated, bool fakeClock = true)
        : CBufferedFileVisualizer(directory, stem, dated)
    {
        if (fakeClock)
            m_pTimeSource = &FakeTime;
    }
    std::string Name(const std::string& extension) const
    {
        return _BuildLogFileName(boost::date_time::second_clock<boost::posix_time::ptime>(), extension).string();
    }
};

void Send(Detail::CVisualizer& visualizer, const std::string& text, const std::string& taskId = std::string())
{
    visualizer.ShowMessage(text, VerbosityInfo, g_sStamp, taskId);
}

std::string Line(const std::string& text) { return g_sStamp + " INFO: " + text; }

std::string WithoutEta(const std::string& content)
{
    return std::regex_replace(content, std::regex(" \\[ETA: [0-9hms ]+\\]"), "");
}

// What standard error got while an output failed: one line naming the cause.
void ExpectOneReport(const std::string& report, const std::string& part)
{
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 1) << report;
    EXPECT_NE(report.find(part), std::string::npos) << report;
}

} // namespace

TEST(BufferedFileVisualizer, WritesExactLinesOfEverythingHandedOver)
{
    CTemporaryDirectory dir;
    auto logger = MakeLogger("run", 1.0, 10.0);
    {
        CBufferedFileVisualizer quiet(dir.Path(), "job", false);
        quiet.ProgressChanged(logger, true); // progress is ignored
    }
    EXPECT_TRUE(dir.Entries().empty()); // no file without messages
    ::Test::WriteTextFile(dir / "job.log", "old line\r\n");
    {
        auto visualizer = boost::make_shared<CBufferedFileVisualizer>(dir.Path() + "/", "job", false);
        visualizer->ShowMessage("Disk full", VerbosityWarning, g_sStamp, "7");
        visualizer->ShowMessage("plain", VerbosityTrace, g_sStamp, "");
        visualizer->ShowMessage("no level", VerbosityNone, g_sStamp, "");
        visualizer->ShowMessage("cr\rinside", VerbosityFatal, g_sStamp, "");
        visualizer->SetNotificationLevel(VerbosityWarning); // applies before queueing
        visualizer->ShowMessage("dropped", VerbosityInfo, g_sStamp, "");
        visualizer->SetNotificationLevel(VerbosityInfo);
        visualizer->AddLogger(logger);
        logger->Message(VerbosityInfo, "first\nsecond", "3");
        visualizer->Clear();
        logger->Message(VerbosityError, "after clear"); // goes nowhere
    }
    const std::vector<std::string> lines = SplitCrLfLines(ReadFile(dir / "job.log"));
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 5),
              (std::vector<std::string>{"old line", "[7] 2026-12-05 03:49:11 WARNING: Disk full",
                                        "2026-12-05 03:49:11 TRACE: plain", "2026-12-05 03:49:11 : no level",
                                        "2026-12-05 03:49:11 FATAL: cr\rinside"}));
    EXPECT_EQ(lines[5].substr(19), " INFO: Startup");
    EXPECT_EQ(lines[6].substr(0, 4) + lines[6].substr(23), "[3]  INFO: first");
    EXPECT_EQ(lines[7].substr(23), " INFO: second");
    EXPECT_EQ(lines[8].substr(19, 22), " INFO: Total Runtime: ");
}

TEST(BufferedFileVisualizer, NamesFollowTheDayOfWriting)
{
    g_nFakeTime = LocalTime(2026, 12, 5, 12);
    EXPECT_EQ(CTestVisualizer("/tmp/logs", "job", false).Name(".log"), "/tmp/logs/job.log");
    EXPECT_EQ(CTestVisualizer("/tmp/logs/", "job", true).Name(".progress"), "/tmp/logs/job2026-12-05.progress");
    EXPECT_EQ(CTestVisualizer("/tmp/logs", "", true).Name(".log"), "/tmp/logs/2026-12-05.log");
    EXPECT_EQ(CTestVisualizer("", "job", false).Name(".log"), "job.log");
    const std::time_t now = std::time(nullptr);
    std::tm local;
    ASSERT_NE(::localtime_r(&now, &local), nullptr);
    char today[64];
    std::snprintf(today, sizeof today, "d/x%04d-%02d-%02d.log", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    const std::string real = CTestVisualizer("d", "x", true, false).Name(".log");
    EXPECT_TRUE(real == today || std::time(nullptr) != now) << real;

    CTemporaryDirectory dir;
    g_nFakeTime = LocalTime(2026, 12, 5, 23) + 3599;
    {
        CTestVisualizer visualizer(dir.Path(), "job", true);
        Send(visualizer, "late");
        ASSERT_TRUE(WaitFor(5.0, [&] { return ReadFileOrEmpty(dir / "job2026-12-05.log") == Line("late") + "\r\n"; }));
        g_nFakeTime = LocalTime(2026, 12, 6, 0) + 1;
        Send(visualizer, "early"); // keeps the time stamp it was sent with
    }
    EXPECT_EQ(ReadFile(dir / "job2026-12-06.log"), Line("early") + "\r\n");
}

TEST(BufferedFileVisualizer, LinesFromManyThreadsAreCompleteWholeAndInOrder)
{
#if defined(__SANITIZE_THREAD__)
    const int perThread = 5000;
#elif defined(__SANITIZE_ADDRESS__)
    const int perThread = 50000;
#else
    const int perThread = 250000;
#endif
    const int threads = 4;
    CTemporaryDirectory dir;
    {
        auto visualizer = boost::make_shared<CBufferedFileVisualizer>(dir.Path(), "load", false);
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back([&visualizer, t, perThread] {
                for (int i = 0; i < perThread; ++i)
                    visualizer->ShowMessage(std::to_string(i), VerbosityLog, g_sStamp, std::to_string(t));
            });
        for (auto& worker : workers)
            worker.join();
    }
    const std::string content = ReadFile(dir / "load.log");
    const std::vector<std::string> lines = SplitCrLfLines(content);
    ASSERT_EQ(lines.size(), static_cast<size_t>(threads * perThread));
    ASSERT_EQ(content.substr(content.size() - 2), "\r\n");
    std::vector<int> next(threads, 0);
    const std::string middle = "] " + g_sStamp + " LOG: ";
    for (const std::string& line : lines) {
        const int task = line[1] - '0';
        ASSERT_TRUE(line[0] == '[' && task >= 0 && task < threads) << line;
        ASSERT_EQ(line.substr(2), middle + std::to_string(next[task]++)) << line;
    }
}

TEST(BufferedFileVisualizer, FailuresDropEntriesReportOnceAndRecover)
{
    const ::Test::FileSupport::CFailHandlerScope noDialogue{boost::shared_ptr<Qz::Varnel::Fileio::CFailHandler>()};
    CTemporaryDirectory dir;
    // A missing directory drops entries silently; they land once it exists.
    const std::string missing = dir / "later";
    {
        CStderrRedirect errors;
        auto visualizer = boost::make_shared<CBufferedFileVisualizer>(missing, "job", false);
        for (int i = 0; i < 10; ++i)
            Send(*visualizer, "lost " + std::to_string(i));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_EQ(::mkdir(missing.c_str(), 0777), 0);
        Send(*visualizer, "kept");
        visualizer.reset();
        EXPECT_EQ(SplitCrLfLines(ReadFile(missing + "/job.log")).back(), Line("kept"));
        EXPECT_EQ(errors.Text(), "");
    }
    // A failed write (every write to /dev/full fails) is reported once.
    ASSERT_EQ(::symlink("/dev/full", (dir / "job.log").c_str()), 0);
    {
        CStderrRedirect errors;
        {
            CBufferedFileVisualizer visualizer(dir.Path(), "job", false);
            for (int i = 0; i < 5; ++i)
                Send(visualizer, "lost " + std::to_string(i));
            ASSERT_TRUE(WaitFor(5.0, [&] { return !errors.Text().empty(); }));
            ASSERT_EQ(::unlink((dir / "job.log").c_str()), 0);
            for (int i = 0; i < 3; ++i)
                Send(visualizer, "kept " + std::to_string(i));
        }
        const std::vector<std::string> lines = SplitCrLfLines(ReadFile(dir / "job.log"));
        EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
                  (std::vector<std::string>{Line("kept 0"), Line("kept 1"), Line("kept 2")}));
        ExpectOneReport(errors.Text(), "Failed to write to a file");
        ExpectOneReport(errors.Text(), dir / "job.log");
    }
    // An unreadable local time (no calendar date exists for it) too.
    g_nFakeTime = std::numeric_limits<std::time_t>::max();
    {
        CStderrRedirect errors;
        {
            CTestVisualizer visualizer(dir.Path(), "dated", true);
            for (int i = 0; i < 5; ++i)
                Send(visualizer, "lost " + std::to_string(i));
            ASSERT_TRUE(WaitFor(5.0, [&] { return !errors.Text().empty(); }));
            g_nFakeTime = LocalTime(2026, 12, 5, 8);
            Send(visualizer, "kept");
        }
        EXPECT_EQ(SplitCrLfLines(ReadFile(dir / "dated2026-12-05.log")).back(), Line("kept"));
        ExpectOneReport(errors.Text(), "could not convert calendar time to local time");
    }
}

// The writer thread holds no retry dialogue, even with the console handler
// and an answer waiting on standard input: it drops and reports once.
TEST(BufferedFileVisualizer, WriterThreadNeverAsks)
{
    CTemporaryDirectory dir;
    ASSERT_EQ(::symlink("/dev/full", (dir / "job.log").c_str()), 0);
    const ::Test::FileSupport::SChildResult child = ::Test::FileSupport::RunInChild(
        [&] {
            Qz::Varnel::Fileio::g_oFailHandler.reset(new Qz::Varnel::Fileio::CStdioFailHandler);
            CBufferedFileVisualizer visualizer(dir.Path(), "job", false);
            for (int i = 0; i < 3; ++i)
                Send(visualizer, "lost " + std::to_string(i));
            return std::string();
        },
        "y\ny\ny\ny\n");
    EXPECT_EQ(child.m_nExitCode, 0);
    EXPECT_EQ(child.m_sStderr.find("Retry"), std::string::npos) << child.m_sStderr;
    EXPECT_EQ(std::count(child.m_sStderr.begin(), child.m_sStderr.end(), '\n'), 1) << child.m_sStderr;
}

TEST(BufferedFileVisualizer, FullDiskKeepsTheHostRunningAndLaterEntriesLand)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small file system needs root";
    const ::Test::FileSupport::CFailHandlerScope noDialogue{boost::shared_ptr<Qz::Varnel::Fileio::CFailHandler>()};
    CTemporaryDirectory dir;
    if (::mount("tmpfs", dir.Path().c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    struct SUnmount
    {
        std::string m_sPath;
        ~SUnmount() { ::umount2(m_sPath.c_str(), MNT_DETACH); }
    } unmount{dir.Path()};
    // Fill the file system, then free one page, so that a line is cut off in
    // the middle when the disk fills.
    const std::string filler = dir / "filler";
    const int file = ::open(filler.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_NE(file, -1);
    const std::string block(4096, 'x');
    while (::write(file, block.data(), block.size()) > 0) {
    }
    ASSERT_EQ(::ftruncate(file, ::lseek(file, 0, SEEK_END) - 4096), 0);
    ::close(file);
    CStderrRedirect errors;
    {
        auto logger = MakeLogger("run", 1.0, 10.0);
        auto visualizer = boost::make_shared<CBufferedFileVisualizer>(dir.Path(), "job", false);
        for (int i = 0; i < 200; ++i)
            Send(*visualizer, "early " + std::to_string(i));
        ASSERT_TRUE(WaitFor(5.0, [&] { return !errors.Text().empty(); }));
        logger->SetProgress(5.0); // the host is not held up
        EXPECT_DOUBLE_EQ(logger->GetRelativeProgressValue(0), 0.5);
        ASSERT_EQ(::unlink(filler.c_str()), 0);
        for (int i = 0; i < 20; ++i)
            Send(*visualizer, "late " + std::to_string(i));
    }
    // What was written of the early lines is there whole and in order (with
    // gaps where entries were dropped), then every late line.
    const std::string content = ReadFile(dir / "job.log");
    EXPECT_EQ(content.substr(content.size() - 2), "\r\n");
    const std::vector<std::string> lines = SplitCrLfLines(content);
    ASSERT_GE(lines.size(), 20u);
    int next = 0;
    for (std::size_t i = 0; i + 20 < lines.size(); ++i) {
        ASSERT_EQ(lines[i].compare(0, Line("early ").size(), Line("early ")), 0) << lines[i];
        const int number = std::stoi(lines[i].substr(Line("early ").size()));
        ASSERT_GE(number, next) << lines[i];
        ASSERT_EQ(lines[i], Line("early " + std::to_string(number)));
        next = number + 1;
    }
    EXPECT_LT(lines.size() - 20, 200u); // some were dropped
    for (int late = 0; late < 20; ++late)
        EXPECT_EQ(lines[lines.size() - 20 + late], Line("late " + std::to_string(late)));
    ExpectOneReport(errors.Text(), "Failed to write");
    ExpectOneReport(errors.Text(), dir / "job.log");
}

TEST(BufferedProgressFileVisualizer, PushedStepLayerShowsSoonAndAFailedRewriteIsReportedOnce)
{
    CTemporaryDirectory dir;
    const std::string file = dir / "job.progress";
    auto logger = MakeLogger("Run", 1.0, 100.0);
    {
        auto visualizer = boost::make_shared<CBufferedProgressFileVisualizer>(dir.Path(), "job", false);
        visualizer->AddLogger(logger);
        // Outside the 0.2 s throttle window that starts with construction.
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        logger->Push("Step", 50.0, 10.0, 0.0, false, LayerClassStep);
        logger->SetProgress(5.0);
        EXPECT_TRUE(WaitFor(5.0, [&] { return WithoutEta(ReadFileOrEmpty(file)) == "Run: 25 %\nStep: 50 %\n\n"; }));
        visualizer->Clear();
    }
    // Messages go to the log file beside it.
    EXPECT_EQ(SplitCrLfLines(ReadFile(dir / "job.log")).at(0).substr(19), " INFO: Startup");

    // With the log and the progress file failing, the loss of each is
    // reported, once; progress rewrites land again once the file can be written.
    const ::Test::FileSupport::CFailHandlerScope noDialogue{boost::shared_ptr<Qz::Varnel::Fileio::CFailHandler>()};
    const std::string log = dir / "job.log";
    for (const std::string& failing : {file, log}) {
        ASSERT_EQ(::unlink(failing.c_str()), 0);
        ASSERT_EQ(::symlink("/dev/full", failing.c_str()), 0);
    }
    CStderrRedirect errors;
    auto lines = [&] {
        const std::string report = errors.Text();
        return std::count(report.begin(), report.end(), '\n');
    };
    {
        auto other = MakeLogger("Run", 1.0, 100.0);
        auto visualizer = boost::make_shared<CBufferedProgressFileVisualizer>(dir.Path(), "job", false);
        visualizer->AddLogger(other);
        for (int i = 0; i < 3; ++i)
            Send(*visualizer, "lost");
        other->SetProgress(20.0);
        visualizer->ProgressChanged(other, true);
        ASSERT_TRUE(WaitFor(5.0, [&] { return lines() == 2; })) << errors.Text();
        ASSERT_EQ(::unlink(file.c_str()), 0);
        other->SetProgress(70.0);
        visualizer->ProgressChanged(other, true);
        Send(*visualizer, "lost");
        EXPECT_TRUE(WaitFor(5.0, [&] { return ReadFileOrEmpty(file).compare(0, 9, "Run: 70 %") == 0; }));
        visualizer->Clear();
    }
    const std::string report = errors.Text();
    EXPECT_EQ(lines(), 2) << report;
    EXPECT_NE(report.find("\"" + file + "\""), std::string::npos) << report;
    EXPECT_NE(report.find("\"" + log + "\""), std::string::npos) << report;
}
