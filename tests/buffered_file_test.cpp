#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <limits>
#include <thread>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <boost/make_shared.hpp>

#include <vidOderavev/Libraries/Fileio/FileioUnix.h>
#include <vidOderavev/Progress/BufferedFileVisualizer.h>
#include <vidOderavev/Progress/Logger.h>

#include "support/BufferedFileHelpers.h"
#include "support/FileTestSupport.h"
#include "support/TemporaryDirectory.h"

using namespace Qz::Varnel::Progress;
using Test::CStderrRedirect;
using Test::CTemporaryDirectory;
using Test::ReadFile;
using Test::ReadFileOrEmpty;
using Test::SplitCrLfLines;
using Test::WaitFor;

namespace {

const char* const g_pStamp = "2026-12-05 03:49:11";

// The retry dialogue must never wait for an answer inside a test.
class CNoFailHandler
{
public:
    CNoFailHandler() : m_oSaved(Qz::Varnel::Fileio::g_oFailHandler) { Qz::Varnel::Fileio::g_oFailHandler.reset(); }
    ~CNoFailHandler() { Qz::Varnel::Fileio::g_oFailHandler = m_oSaved; }

private:
    boost::shared_ptr<Qz::Varnel::Fileio::CFailHandler> m_oSaved;
};

std::atomic<std::time_t> g_nFakeTime(0);
std::time_t FakeTime(std::time_t* result)
{
    const std::time_t now = g_nFakeTime.load();
    if (result)
        *result = now;
    return now;
}

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second)
{
    std::tm local = {};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

// Reaches the name builder, and moves the clock the file names follow.
class CTestVisualizer : public CBufferedFileVisualizer
{
public:
    CTestVisualizer(const std::string& directory, const std::string& stem, bool dated, bool fakeClock = false)
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
    visualizer.ShowMessage(text, VerbosityInfo, g_pStamp, taskId);
}

std::string Line(const std::string& text) { return std::string(g_pStamp) + " INFO: " + text; }

} // namespace

TEST(BufferedFileVisualizer, CreatesNoFileWithoutMessages)
{
    CTemporaryDirectory dir;
    {
        CBufferedFileVisualizer visualizer(dir.Path(), "job", false);
    }
    EXPECT_TRUE(dir.Entries().empty());
}

TEST(BufferedFileVisualizer, WritesExactLinesWithAndWithoutTaskIdentifier)
{
    CTemporaryDirectory dir;
    {
        CBufferedFileVisualizer visualizer(dir.Path(), "job", false);
        visualizer.ShowMessage("Disk full", VerbosityWarning, g_pStamp, "7");
        visualizer.ShowMessage("started", VerbosityInfo, g_pStamp, "17");
        visualizer.ShowMessage("plain", VerbosityTrace, g_pStamp, "");
        visualizer.ShowMessage("no level", VerbosityNone, g_pStamp, "");
        visualizer.ShowMessage("cr\rinside", VerbosityFatal, g_pStamp, "");
    }
    EXPECT_EQ(ReadFile(dir.File("job.log")), "[7] 2026-12-05 03:49:11 WARNING: Disk full\r\n"
                                             "[17] 2026-12-05 03:49:11 INFO: started\r\n"
                                             "2026-12-05 03:49:11 TRACE: plain\r\n"
                                             "2026-12-05 03:49:11 : no level\r\n"
                                             "2026-12-05 03:49:11 FATAL: cr\rinside\r\n");
}

TEST(BufferedFileVisualizer, LevelFilterAppliesBeforeQueueing)
{
    CTemporaryDirectory dir;
    {
        CBufferedFileVisualizer visualizer(dir.Path(), "job", false);
        visualizer.SetNotificationLevel(VerbosityWarning);
        visualizer.ShowMessage("kept", VerbosityWarning, g_pStamp, "");
        visualizer.ShowMessage("dropped", VerbosityInfo, g_pStamp, "");
    }
    EXPECT_EQ(ReadFile(dir.File("job.log")), "2026-12-05 03:49:11 WARNING: kept\r\n");
}

TEST(BufferedFileVisualizer, EverythingHandedOverBeforeDestructionIsInTheFile)
{
    CTemporaryDirectory dir;
    auto logger = boost::make_shared<CLogger>("run");
    {
        auto visualizer = boost::make_shared<CBufferedFileVisualizer>(dir.Path() + "/", "job", false);
        visualizer->AddLogger(logger);
        logger->Message(VerbosityInfo, "first\nsecond", "3");
        logger->Message(VerbosityError, "third");
        visualizer->Clear();
        // The logger no longer holds the visualizer: this goes nowhere.
        logger->Message(VerbosityError, "after clear");
    }
    const std::vector<std::string> lines = SplitCrLfLines(ReadFile(dir.File("job.log")));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0].substr(19), " INFO: Startup");
    EXPECT_EQ(lines[1].substr(0, 4), "[3] ");
    EXPECT_EQ(lines[1].substr(23), " INFO: first");
    EXPECT_EQ(lines[2].substr(23), " INFO: second");
    EXPECT_EQ(lines[3].substr(19), " ERROR: third");
    EXPECT_EQ(lines[4].substr(19, 22), " INFO: Total Runtime: ");
    EXPECT_EQ(lines[4].back(), 's');
}

TEST(BufferedFileVisualizer, IgnoresProgress)
{
    CTemporaryDirectory dir;
    auto logger = boost::make_shared<CLogger>("run", 1.0, 10.0);
    {
        auto visualizer = boost::make_shared<CBufferedFileVisualizer>(dir.Path(), "job", false);
        visualizer->ProgressChanged(logger, true);
        visualizer->ProgressChanged(logger, false);
    }
    EXPECT_TRUE(dir.Entries().empty());
}

TEST(BufferedFileVisualizer, BuildsNamesFromDirectoryStemAndDate)
{
    g_nFakeTime = LocalTime(2026, 12, 5, 12, 0, 0);
    EXPECT_EQ(CTestVisualizer("/tmp/logs", "job", false, true).Name(".log"), "/tmp/logs/job.log");
    EXPECT_EQ(CTestVisualizer("/tmp/logs/", "job", false, true).Name(".log"), "/tmp/logs/job.log");
    EXPECT_EQ(CTestVisualizer("/tmp/logs", "job", true, true).Name(".log"), "/tmp/logs/job2026-12-05.log");
    EXPECT_EQ(CTestVisualizer("/tmp/logs", "job", true, true).Name(".progress"), "/tmp/logs/job2026-12-05.progress");
    EXPECT_EQ(CTestVisualizer("/tmp/logs", "", true, true).Name(".log"), "/tmp/logs/2026-12-05.log");
    EXPECT_EQ(CTestVisualizer("", "job", false, true).Name(".log"), "job.log");
    g_nFakeTime = LocalTime(2027, 1, 9, 0, 0, 0);
    EXPECT_EQ(CTestVisualizer("d", "x", true, true).Name(".log"), "d/x2027-01-09.log");
}

TEST(BufferedFileVisualizer, DatedNameFollowsTheRealLocalDate)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::time_t before = std::time(nullptr);
        const std::string name = CTestVisualizer("/tmp/logs", "job", true).Name(".log");
        if (std::time(nullptr) != before)
            continue; // the second turned meanwhile: the date might have too
        std::tm local;
        ASSERT_NE(::localtime_r(&before, &local), nullptr);
        char expected[64];
        std::snprintf(expected, sizeof expected, "/tmp/logs/job%04d-%02d-%02d.log", local.tm_year + 1900,
                      local.tm_mon + 1, local.tm_mday);
        EXPECT_EQ(name, expected);
        return;
    }
}

TEST(BufferedFileVisualizer, AppendsToAnExistingFile)
{
    CTemporaryDirectory dir;
    {
        FILE* file = std::fopen(dir.File("job.log").c_str(), "w");
        std::fputs("old line\r\n", file);
        std::fclose(file);
    }
    {
        CBufferedFileVisualizer visualizer(dir.Path(), "job", false);
        Send(visualizer, "new");
    }
    EXPECT_EQ(ReadFile(dir.File("job.log")), "old line\r\n" + Line("new") + "\r\n");
}

TEST(BufferedFileVisualizer, DatedEntriesGoToTheFileOfTheDayTheyAreWrittenOn)
{
    CTemporaryDirectory dir;
    g_nFakeTime = LocalTime(2026, 12, 5, 23, 59, 59);
    {
        CTestVisualizer visualizer(dir.Path(), "job", true, true);
        Send(visualizer, "late");
        ASSERT_TRUE(WaitFor([&] { return ReadFileOrEmpty(dir.File("job2026-12-05.log")) == Line("late") + "\r\n"; },
                            std::chrono::seconds(5)));
        g_nFakeTime = LocalTime(2026, 12, 6, 0, 0, 1);
        Send(visualizer, "early");
    }
    EXPECT_EQ(ReadFile(dir.File("job2026-12-05.log")), Line("late") + "\r\n");
    // The line keeps the time stamp it was sent with.
    EXPECT_EQ(ReadFile(dir.File("job2026-12-06.log")), Line("early") + "\r\n");
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
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([&visualizer, t, perThread] {
                const std::string task = std::to_string(t);
                for (int i = 0; i < perThread; ++i)
                    visualizer->ShowMessage(std::to_string(i), VerbosityLog, g_pStamp, task);
            });
        }
        for (auto& worker : workers)
            worker.join();
    }
    const std::string content = ReadFile(dir.File("load.log"));
    const std::vector<std::string> lines = SplitCrLfLines(content);
    ASSERT_EQ(lines.size(), static_cast<size_t>(threads * perThread));
    ASSERT_EQ(content.substr(content.size() - 2), "\r\n");
    std::vector<int> next(threads, 0);
    const std::string middle = std::string("] ") + g_pStamp + " LOG: ";
    for (const std::string& line : lines) {
        ASSERT_EQ(line[0], '[') << line;
        const int task = line[1] - '0';
        ASSERT_TRUE(task >= 0 && task < threads) << line;
        ASSERT_EQ(line.compare(2, middle.size(), middle), 0) << line;
        ASSERT_EQ(line.substr(2 + middle.size()), std::to_string(next[task])) << line;
        ++next[task];
    }
}

TEST(BufferedFileVisualizer, MissingDirectoryDropsEntriesSilentlyAndRetriesLater)
{
    CNoFailHandler noDialogue;
    CTemporaryDirectory dir;
    const std::string missing = dir.File("later");
    CStderrRedirect errors;
    {
        auto logger = boost::make_shared<CLogger>("run");
        auto visualizer = boost::make_shared<CBufferedFileVisualizer>(missing, "job", false);
        visualizer->AddLogger(logger);
        for (int i = 0; i < 10; ++i)
            Send(*visualizer, "lost " + std::to_string(i));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        // The host is unaffected and the visualizer keeps taking entries.
        EXPECT_DOUBLE_EQ(logger->GetRelativeProgressValue(0), 0.0);
        ASSERT_EQ(::mkdir(missing.c_str(), 0777), 0);
        Send(*visualizer, "kept");
        visualizer->Clear();
    }
    const std::vector<std::string> lines = SplitCrLfLines(ReadFile(missing + "/job.log"));
    // Entries the writer took before the directory existed are gone; what it
    // took afterwards is there, in order, and "kept" certainly is.
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], Line("kept"));
    EXPECT_NE(lines.back().find("Total Runtime: "), std::string::npos);
    EXPECT_EQ(errors.Text(), "");
}

TEST(BufferedFileVisualizer, FailedWriteDropsTheEntryReportsOnceAndRecovers)
{
    CNoFailHandler noDialogue;
    CTemporaryDirectory dir;
    // Every write to /dev/full fails with "no space left on device".
    ASSERT_EQ(::symlink("/dev/full", dir.File("job.log").c_str()), 0);
    CStderrRedirect errors;
    {
        CBufferedFileVisualizer visualizer(dir.Path(), "job", false);
        for (int i = 0; i < 5; ++i)
            Send(visualizer, "lost " + std::to_string(i));
        ASSERT_TRUE(WaitFor([&] { return !errors.Text().empty(); }, std::chrono::seconds(5)));
        ASSERT_EQ(::unlink(dir.File("job.log").c_str()), 0);
        for (int i = 0; i < 3; ++i)
            Send(visualizer, "kept " + std::to_string(i));
    }
    const std::vector<std::string> lines = SplitCrLfLines(ReadFile(dir.File("job.log")));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3], Line("kept 0"));
    EXPECT_EQ(lines[lines.size() - 2], Line("kept 1"));
    EXPECT_EQ(lines[lines.size() - 1], Line("kept 2"));
    const std::string report = errors.Text();
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 1) << report;
    EXPECT_NE(report.find(dir.File("job.log")), std::string::npos) << report;
    EXPECT_NE(report.find("Failed to write to a file"), std::string::npos) << report;
}

// The writer thread holds no retry dialogue, even with the console handler
// and an answer waiting on standard input: it drops and reports once.
TEST(BufferedFileVisualizer, WriterThreadNeverAsks)
{
    CTemporaryDirectory dir;
    ASSERT_EQ(::symlink("/dev/full", dir.File("job.log").c_str()), 0);
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

TEST(BufferedFileVisualizer, UnreadableLocalTimeDropsEntriesReportsOnceAndRecovers)
{
    CTemporaryDirectory dir;
    // No calendar date exists for this time: the local time cannot be read.
    g_nFakeTime = std::numeric_limits<std::time_t>::max();
    CStderrRedirect errors;
    {
        CTestVisualizer visualizer(dir.Path(), "job", true, true);
        for (int i = 0; i < 5; ++i)
            Send(visualizer, "lost " + std::to_string(i));
        ASSERT_TRUE(WaitFor([&] { return !errors.Text().empty(); }, std::chrono::seconds(5)));
        g_nFakeTime = LocalTime(2026, 12, 5, 8, 0, 0);
        Send(visualizer, "kept");
    }
    const std::vector<std::string> lines = SplitCrLfLines(ReadFile(dir.File("job2026-12-05.log")));
    ASSERT_GE(lines.size(), 1u);
    EXPECT_EQ(lines.back(), Line("kept"));
    const std::string report = errors.Text();
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 1) << report;
    EXPECT_NE(report.find("could not convert calendar time to local time"), std::string::npos) << report;
}

TEST(BufferedFileVisualizer, FullDiskKeepsTheHostRunningAndLaterEntriesLand)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small file system needs root";
    CNoFailHandler noDialogue;
    CTemporaryDirectory dir;
    if (::mount("tmpfs", dir.Path().c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    struct SUnmount
    {
        std::string m_sPath;
        ~SUnmount() { ::umount2(m_sPath.c_str(), MNT_DETACH); }
    } unmount{dir.Path()};

    // Fill the file system, then free one page: the log gets a little room,
    // so that a line is cut off in the middle when the disk fills.
    const std::string filler = dir.File("filler");
    {
        const int file = ::open(filler.c_str(), O_WRONLY | O_CREAT, 0600);
        ASSERT_NE(file, -1);
        const std::string block(4096, 'x');
        while (::write(file, block.data(), block.size()) > 0) {
        }
        const off_t size = ::lseek(file, 0, SEEK_END);
        ASSERT_EQ(::ftruncate(file, size - 4096), 0);
        ::close(file);
    }
    CStderrRedirect errors;
    {
        auto logger = boost::make_shared<CLogger>("run", 1.0, 10.0);
        auto visualizer = boost::make_shared<CBufferedFileVisualizer>(dir.Path(), "job", false);
        visualizer->AddLogger(logger);
        for (int i = 0; i < 200; ++i)
            Send(*visualizer, "early " + std::to_string(i));
        ASSERT_TRUE(WaitFor([&] { return !errors.Text().empty(); }, std::chrono::seconds(5)));
        logger->SetProgress(5.0);
        EXPECT_DOUBLE_EQ(logger->GetRelativeProgressValue(0), 0.5);
        ASSERT_EQ(::unlink(filler.c_str()), 0);
        for (int i = 0; i < 20; ++i)
            Send(*visualizer, "late " + std::to_string(i));
        visualizer->Clear();
    }
    const std::string content = ReadFile(dir.File("job.log"));
    ASSERT_GE(content.size(), 2u);
    EXPECT_EQ(content.substr(content.size() - 2), "\r\n");
    const std::vector<std::string> lines = SplitCrLfLines(content);
    ASSERT_GE(lines.size(), 22u);
    EXPECT_EQ(lines[0].substr(19), " INFO: Startup");
    // What was written of the early lines is there whole and in order, then
    // every late line.
    size_t i = 1;
    int next = 0;
    for (; i < lines.size() && lines[i].find("early") != std::string::npos; ++i) {
        const std::string prefix = Line("early ");
        ASSERT_EQ(lines[i].compare(0, prefix.size(), prefix), 0) << lines[i];
        const int number = std::stoi(lines[i].substr(prefix.size()));
        ASSERT_GE(number, next) << lines[i];
        ASSERT_EQ(lines[i], Line("early " + std::to_string(number)));
        next = number + 1;
    }
    EXPECT_LT(i - 1, 200u);
    ASSERT_EQ(lines.size() - i, 21u);
    for (int late = 0; late < 20; ++late, ++i)
        EXPECT_EQ(lines[i], Line("late " + std::to_string(late)));
    EXPECT_NE(lines[i].find("Total Runtime: "), std::string::npos);
    // A short write, or one refused with "No space left on device".
    const std::string report = errors.Text();
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 1) << report;
    EXPECT_NE(report.find("Failed to write"), std::string::npos) << report;
}
