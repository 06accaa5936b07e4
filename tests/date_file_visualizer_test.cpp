#include <gtest/gtest.h>

#include <cerrno>
#include <regex>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/make_shared.hpp>

#include <vidOderavev/Libraries/Fileio/FileioUnix.h>
#include <vidOderavev/Progress/DateFileVisualizer.h>
#include <vidOderavev/Progress/Logger.h>

#include "support/FileOutputChecks.h"
#include "support/FileTestSupport.h"
#include "support/TemporaryDirectory.h"

using namespace Qz::Varnel::Progress;
using namespace Test::FileSupport;
using Test::CTemporaryDirectory;
using Test::FileExists;
using Test::ReadFile;
using Test::WriteTextFile;
namespace Fileio = Qz::Varnel::Fileio;
using boost::gregorian::date;

namespace {

const std::string g_sStamp = "2026-12-05 03:49:11";

// A calendar that the test turns.
class CDatedVisualizer : public CDateFileVisualizer
{
public:
    using CDateFileVisualizer::CDateFileVisualizer;
    date m_oDate{2026, 12, 5};
    int ProgressFile() const { return m_nProgressFile; }

protected:
    date _GetLocalDate() const override { return m_oDate; }
};

class DateFileVisualizer : public ::testing::Test
{
protected:
    CFailHandlerScope m_oNoHandler{boost::shared_ptr<Fileio::CFailHandler>()};
    CTemporaryDirectory m_oDir;
};

} // namespace

TEST_F(DateFileVisualizer, NamesFromTheBaseAndTheDay)
{
    ASSERT_EQ(::mkdir((m_oDir / "logs").c_str(), 0777), 0);
    for (const char* given : {"logs/run.log", "logs/run"}) {
        CDatedVisualizer visualizer(m_oDir / given);
        EXPECT_EQ(visualizer._BuildProgressFileName(), m_oDir / "logs/run.progress");
        EXPECT_EQ(visualizer._BuildLogFileName(), m_oDir / "logs/run2026-12-05.log");
        visualizer.m_oDate = date(2027, 1, 9);
        EXPECT_EQ(visualizer._BuildLogFileName(), m_oDir / "logs/run2027-01-09.log");
    }
    CDatedVisualizer dotted(m_oDir / "logs/.run");
    EXPECT_EQ(dotted._BuildProgressFileName(), m_oDir / "logs/.progress");
    EXPECT_EQ(dotted._BuildLogFileName(), m_oDir / "logs/2026-12-05.log");
}

TEST_F(DateFileVisualizer, TheRealClockGivesTodaysLocalDate)
{
    CDateFileVisualizer visualizer(m_oDir / "job.log");
    const date before = boost::posix_time::second_clock::local_time().date();
    const std::string name = visualizer._BuildLogFileName();
    const date after = boost::posix_time::second_clock::local_time().date();
    EXPECT_TRUE(name == m_oDir / ("job" + boost::gregorian::to_iso_extended_string(before) + ".log") ||
                name == m_oDir / ("job" + boost::gregorian::to_iso_extended_string(after) + ".log"))
        << name;
    EXPECT_TRUE(std::regex_match(name, std::regex(".*/job[0-9]{4}-[0-9]{2}-[0-9]{2}\\.log")));
}

TEST_F(DateFileVisualizer, NoLogUntilTheFirstMessageAndTheTaskIsNeverWritten)
{
    auto logger = boost::make_shared<CLogger>("Root");
    auto visualizer = boost::make_shared<CDatedVisualizer>(m_oDir / "run.log");
    EXPECT_TRUE(FileExists(m_oDir / "run.progress"));
    EXPECT_FALSE(FileExists(m_oDir / "run2026-12-05.log"));
    visualizer->AddLogger(logger);
    const std::string log = m_oDir / "run2026-12-05.log";
    EXPECT_TRUE(std::regex_match(ReadFile(log), std::regex("[0-9-]{10} [0-9:]{8} INFO: Startup\r\n")));
    visualizer->ShowMessage("Disk full", VerbosityWarning, g_sStamp, "7");
    visualizer->ShowMessage("Disk full", VerbosityWarning, g_sStamp, "");
    const std::string content = ReadFile(log);
    EXPECT_EQ(content.substr(content.find("\r\n") + 2), "2026-12-05 03:49:11 WARNING: Disk full\r\n"
                                                        "2026-12-05 03:49:11 WARNING: Disk full\r\n");
    visualizer->Clear();
}

TEST_F(DateFileVisualizer, MidnightStartsANewFileAndKeepsTheProgressFile)
{
    auto logger = boost::make_shared<CLogger>("Root");
    auto visualizer = boost::make_shared<CDatedVisualizer>(m_oDir / "run.log");
    const int progressFile = visualizer->ProgressFile();
    visualizer->ShowMessage("before", VerbosityInfo, "2026-12-05 23:59:59", "");
    visualizer->m_oDate = date(2026, 12, 6);
    // The file follows the date of writing, not the message's time stamp.
    visualizer->ShowMessage("after", VerbosityInfo, "2026-12-05 23:59:59", "");
    visualizer->ShowMessage("later", VerbosityInfo, "2026-12-06 00:00:01", "");
    EXPECT_EQ(ReadFile(m_oDir / "run2026-12-05.log"), "2026-12-05 23:59:59 INFO: before\r\n");
    EXPECT_EQ(ReadFile(m_oDir / "run2026-12-06.log"),
              "2026-12-05 23:59:59 INFO: after\r\n2026-12-06 00:00:01 INFO: later\r\n");
    EXPECT_EQ(visualizer->ProgressFile(), progressFile);

    visualizer->AddLogger(logger);
    visualizer->ProgressChanged(logger, true);
    EXPECT_EQ(ReadFile(m_oDir / "run.progress"), "Root: 0 %\n\n");
    visualizer->Clear();
}

TEST_F(DateFileVisualizer, ADeletedDayFileIsCreatedAnew)
{
    auto visualizer = boost::make_shared<CDatedVisualizer>(m_oDir / "run.log");
    visualizer->ShowMessage("one", VerbosityInfo, g_sStamp, "");
    ASSERT_EQ(::unlink((m_oDir / "run2026-12-05.log").c_str()), 0);
    visualizer->ShowMessage("two", VerbosityInfo, g_sStamp, "");
    EXPECT_EQ(ReadFile(m_oDir / "run2026-12-05.log"), "2026-12-05 03:49:11 INFO: two\r\n");
}

TEST_F(DateFileVisualizer, ProgressLinesAsTheSimpleFileVisualizer)
{
    WriteTextFile(m_oDir / "run.progress", "kept until the first rewrite\n");
    auto logger = boost::make_shared<CLogger>("Root", 1.0, 100.0);
    auto visualizer = boost::make_shared<CDatedVisualizer>(m_oDir / "run.log");
    visualizer->AddLogger(logger);
    EXPECT_EQ(ReadFile(m_oDir / "run.progress"), "kept until the first rewrite\n");
    logger->Push("Step", 10.0, 10.0, 0.0, false, LayerClassStep);
    visualizer->ProgressChanged(logger, true);
    EXPECT_EQ(ReadFile(m_oDir / "run.progress"), "Root: 0 %\nStep: 0 %\n\n");
    logger->Pop();
    logger->SetProgress(100.0);
    visualizer->ProgressChanged(logger, true);
    EXPECT_EQ(ReadFile(m_oDir / "run.progress"), "Root: 100 %\n\n");
    visualizer->Clear();
}

TEST_F(DateFileVisualizer, MissingDirectoryRaisesWithTheProgressFileName)
{
    auto handler = boost::make_shared<CScriptedFailHandler>("yyy");
    CFailHandlerScope scope(handler);
    const int before = CountOpenDescriptors();
    const std::string name = m_oDir / "missing/run.log";
    EXPECT_EQ(DescribeFileioError([&] { CDateFileVisualizer visualizer(name); }),
              "Failed to open the file \"" + (m_oDir / "missing/run.progress") + "\"|" + std::to_string(ENOENT));
    EXPECT_EQ(handler->m_nOpenQuestions, 0);
    EXPECT_EQ(CountOpenDescriptors(), before);
}

TEST_F(DateFileVisualizer, FailingWritesCloseTheLogDescriptor)
{
    ExpectFailingWritesCloseTheLog<CDatedVisualizer>(m_oDir / "run.log", m_oDir / "run2026-12-05.log");
}

TEST_F(DateFileVisualizer, ClearWritesTheDroppedProgress)
{
    ExpectClearWritesTheDroppedProgress<CDateFileVisualizer>([&] { return boost::make_shared<CDateFileVisualizer>(m_oDir / "run.log"); }, m_oDir / "run.progress");
}

TEST_F(DateFileVisualizer, AFailedWriteLeavesNoTornLine)
{
    ExpectAFailedWriteLeavesNoTornLine<CDatedVisualizer>(m_oDir / "run.log", m_oDir / "run2026-12-05.log");
}

TEST_F(DateFileVisualizer, DestructionClosesTheProgressFileAndSurvivesAFailingClose)
{
    ExpectDestructionClosesTheProgressFile<CDateFileVisualizer, CDatedVisualizer>(m_oDir / "run.log",
                                                                                  m_oDir / "other.log");
}
