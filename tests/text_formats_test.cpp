#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include <boost/date_time/posix_time/posix_time.hpp>

#include <vidOderavev/Libraries/Fileio/FileioUnix.h>
#include <vidOderavev/Progress/TextFormats.h>

#include "support/FileTestSupport.h"
#include "support/TemporaryDirectory.h"

using namespace Qz::Varnel::Progress;
using namespace Qz::Varnel::Progress::Detail;
using namespace Test::FileSupport;
using Test::CTemporaryDirectory;
using Test::FileExists;
using Test::ReadFile;
using Test::WriteTextFile;
namespace Fileio = Qz::Varnel::Fileio;
using boost::posix_time::time_duration;

namespace {

const std::string g_sStamp = "2026-12-05 03:49:11";

time_duration Micro(int64_t microseconds) { return boost::posix_time::microseconds(microseconds); }

std::string BufferedLogLine(const std::string& text, _EVerbosityLevel level, const std::string& timeStamp,
                            const std::string& taskId)
{
    std::string line;
    AppendBufferedLogLine(line, text, level, timeStamp, taskId);
    return line;
}

std::string Eta(int64_t microseconds) { return BuildProgressLine("42.5", Micro(microseconds)); }

} // namespace

TEST(LogLines, StartupNoteIs35Bytes)
{
    const std::string line = BuildSimpleLogLine("Startup", VerbosityInfo, g_sStamp, "");
    EXPECT_EQ(line, "2026-12-05 03:49:11 INFO: Startup\r\n");
    EXPECT_EQ(line.size(), 35u);
    EXPECT_EQ(BuildDateLogLine("Startup", VerbosityInfo, g_sStamp), line);
    EXPECT_EQ(BufferedLogLine("Startup", VerbosityInfo, g_sStamp, ""), line);
}

TEST(LogLines, TaskIdentifierPlacePerWriter)
{
    EXPECT_EQ(BuildSimpleLogLine("Disk full", VerbosityWarning, g_sStamp, "7"),
              "2026-12-05 03:49:11 WARNING: [7] Disk full\r\n");
    EXPECT_EQ(BufferedLogLine("Disk full", VerbosityWarning, g_sStamp, "7"),
              "[7] 2026-12-05 03:49:11 WARNING: Disk full\r\n");
    EXPECT_EQ(BuildDateLogLine("Disk full", VerbosityWarning, g_sStamp), "2026-12-05 03:49:11 WARNING: Disk full\r\n");
}

TEST(LogLines, LevelsOutsideTheNamedRangeAndRawBytes)
{
    EXPECT_EQ(BuildSimpleLogLine("text", VerbosityNone, g_sStamp, ""), "2026-12-05 03:49:11 : text\r\n");
    EXPECT_EQ(BuildSimpleLogLine("text", static_cast<_EVerbosityLevel>(8), g_sStamp, ""),
              "2026-12-05 03:49:11 : text\r\n");
    EXPECT_EQ(BuildSimpleLogLine("a\rb\x01\xff", VerbosityFatal, g_sStamp, ""),
              "2026-12-05 03:49:11 FATAL: a\rb\x01\xff\r\n");
    EXPECT_EQ(BufferedLogLine("x", VerbosityTrace, g_sStamp, "t"), "[t] 2026-12-05 03:49:11 TRACE: x\r\n");
}

TEST(ProgressLines, Boundaries)
{
    EXPECT_EQ(Eta(999000), "42.5 %\n");
    EXPECT_EQ(Eta(1000000), "42.5 % [ETA: 1s]\n");
    EXPECT_EQ(Eta(60000000), "42.5 % [ETA: 60s]\n");
    EXPECT_EQ(Eta(60500000), "42.5 % [ETA: 60s]\n");
    EXPECT_EQ(Eta(61000000), "42.5 % [ETA: 1m 1s]\n");
    EXPECT_EQ(Eta(3600000000LL), "42.5 % [ETA: 60m 0s]\n");
    EXPECT_EQ(Eta(3600900000LL), "42.5 % [ETA: 60m 0s]\n");
    EXPECT_EQ(Eta(3601000000LL), "42.5 % [ETA: 1h 0m 1s]\n");
    EXPECT_EQ(Eta(3725900000LL), "42.5 % [ETA: 1h 2m 5s]\n");
    EXPECT_EQ(Eta(45000000), "42.5 % [ETA: 45s]\n");
    EXPECT_EQ(Eta(400000), "42.5 %\n");
    EXPECT_EQ(Eta(0), "42.5 %\n");
    EXPECT_EQ(Eta(-5000000), "42.5 %\n");
    // Durations beyond 32-bit seconds keep their hours.
    EXPECT_EQ(Eta(360000000000000LL), "42.5 % [ETA: 100000h 0m 0s]\n");
}

TEST(ProgressLines, SpecialDurationsHaveNoBracket)
{
    EXPECT_EQ(BuildProgressLine("0", time_duration(boost::posix_time::pos_infin)), "0 %\n");
    EXPECT_EQ(BuildProgressLine("0", time_duration(boost::posix_time::neg_infin)), "0 %\n");
    EXPECT_EQ(BuildProgressLine("0", time_duration(boost::posix_time::not_a_date_time)), "0 %\n");
}

TEST(ProgressLines, FileLineAndPercentText)
{
    EXPECT_EQ(BuildProgressFileLine("Copying", "12.3457", Micro(61000000)), "Copying: 12.3457 % [ETA: 1m 1s]\n");
    EXPECT_EQ(BuildProgressPercentText(0.1234567), "12.3457");
    EXPECT_EQ(BuildProgressPercentText(0.5), "50");
    EXPECT_EQ(BuildProgressPercentText(1.0), "100");
    EXPECT_EQ(BuildProgressPercentText(0.0), "0");
    EXPECT_EQ(BuildProgressPercentText(0.011), "1.1");
}

TEST(ProgressFile, RewriteGrowsAndShrinksWithoutStaleTail)
{
    CTemporaryDirectory dir;
    const std::string name = dir / "run.progress";
    WriteTextFile(name, "an old and rather long content that must vanish\n");
    const int handle =
        Fileio::OpenFile(name, Fileio::AccessWriteOnly, Fileio::OpenCreate, Fileio::PermissionsReadWriteAll);
    RewriteProgressFile(handle, "Root: 1 %\nStep: 2 %\n\n");
    EXPECT_EQ(ReadFile(name), "Root: 1 %\nStep: 2 %\n\n");
    RewriteProgressFile(handle, "Root: 3 %\n\n");
    EXPECT_EQ(ReadFile(name), "Root: 3 %\n\n");
    RewriteProgressFile(handle, "Root with a longer text: 100 %\n\n");
    EXPECT_EQ(ReadFile(name), "Root with a longer text: 100 %\n\n");
    Fileio::CloseFile(handle);
}

TEST(LogAppend, LandsAtTheEndEvenAfterAnotherWriter)
{
    CTemporaryDirectory dir;
    const std::string name = dir / "run.log";
    WriteTextFile(name, "first\r\n");
    AppendToLogFile(name, Fileio::OpenExisting, "second\r\n");
    const int other = ::open(name.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::write(other, "other\r\n", 7), 7);
    ::close(other);
    AppendToLogFile(name, Fileio::OpenExisting, "third\r\n");
    EXPECT_EQ(ReadFile(name), "first\r\nsecond\r\nother\r\nthird\r\n");

    EXPECT_EQ(DescribeFileioError([&] { AppendToLogFile(dir / "none.log", Fileio::OpenExisting, "x"); }),
              "Failed to open the file \"" + (dir / "none.log") + "\"|" + std::to_string(ENOENT));
    EXPECT_FALSE(FileExists(dir / "none.log"));
    AppendToLogFile(dir / "new.log", Fileio::OpenCreate, "x\r\n");
    EXPECT_EQ(ReadFile(dir / "new.log"), "x\r\n");
}

TEST(LogAppend, FailingWritesLeakNoDescriptors)
{
    CFailHandlerScope scope{boost::shared_ptr<Fileio::CFailHandler>()};
    const int before = CountOpenDescriptors();
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(DescribeFileioError([] { AppendToLogFile("/dev/full", Fileio::OpenExisting, "line\r\n"); }),
                  "Failed to write to a file|" + std::to_string(ENOSPC));
    EXPECT_EQ(CountOpenDescriptors(), before);
}
