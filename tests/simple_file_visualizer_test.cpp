#include <gtest/gtest.h>

#include <cerrno>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem/directory.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/make_shared.hpp>

#include <vidOderavev/Libraries/Fileio/FileioUnix.h>
#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/Progress/SimpleFileVisualizer.h>

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

namespace {

const std::string g_sStamp = "2026-12-05 03:49:11";

// The time remaining depends on the wall clock; where a test cannot pin it,
// it compares the file without the brackets.
std::string WithoutEta(const std::string& content)
{
    return std::regex_replace(content, std::regex(" \\[ETA: [0-9hms ]+\\]"), "");
}

std::set<std::string> Entries(const std::string& directory)
{
    std::set<std::string> names;
    for (const auto& entry : boost::filesystem::directory_iterator(directory))
        names.insert(entry.path().filename().string());
    return names;
}

class SimpleFileVisualizer : public ::testing::Test
{
protected:
    ~SimpleFileVisualizer() override
    {
        if (m_oVisualizer)
            m_oVisualizer->Clear();
    }

    // An output on run.log that shows the logger.
    void Show(const boost::shared_ptr<CLogger>& logger)
    {
        m_oLogger = logger;
        m_oVisualizer = boost::make_shared<CSimpleFileVisualizer>(m_oDir / "run.log");
        m_oVisualizer->AddLogger(logger);
    }
    std::string ProgressFile() const { return ReadFile(m_oDir / "run.progress"); }
    // Tells the output that the progress changed and must show at once, and
    // returns the progress file then.
    std::string Refresh()
    {
        m_oVisualizer->ProgressChanged(m_oLogger, true);
        return ProgressFile();
    }
    // The same after setting the logger's progress.
    std::string Refresh(double value)
    {
        m_oLogger->SetProgress(value);
        return Refresh();
    }

    // No dialogue: a failure raises at once.
    CFailHandlerScope m_oNoHandler{boost::shared_ptr<Fileio::CFailHandler>()};
    CTemporaryDirectory m_oDir;
    boost::shared_ptr<CLogger> m_oLogger;
    boost::shared_ptr<CSimpleFileVisualizer> m_oVisualizer;
};

// Reaches the descriptor of the progress file.
class CExposedVisualizer : public CSimpleFileVisualizer
{
public:
    using CSimpleFileVisualizer::CSimpleFileVisualizer;
    int ProgressFile() const { return m_nProgressFile; }
};

class CCurrentDirectory
{
public:
    explicit CCurrentDirectory(const std::string& path) : m_oPrevious(boost::filesystem::current_path())
    {
        boost::filesystem::current_path(path);
    }
    ~CCurrentDirectory() { boost::filesystem::current_path(m_oPrevious); }

private:
    boost::filesystem::path m_oPrevious;
};

} // namespace

TEST_F(SimpleFileVisualizer, NamesFollowTheExtensionRules)
{
    ASSERT_EQ(::mkdir((m_oDir / "results").c_str(), 0777), 0);
    {
        CSimpleFileVisualizer visualizer(m_oDir / "results/run.log");
    }
    EXPECT_EQ(Entries(m_oDir / "results"), (std::set<std::string>{"run.log", "run.progress"}));
    {
        CSimpleFileVisualizer visualizer(m_oDir / "results/run");
    }
    EXPECT_EQ(Entries(m_oDir / "results"), (std::set<std::string>{"run.log", "run.progress"}));

    ASSERT_EQ(::mkdir((m_oDir / "final").c_str(), 0777), 0);
    {
        CSimpleFileVisualizer visualizer(m_oDir / "final/run.final.log");
    }
    EXPECT_EQ(Entries(m_oDir / "final"), (std::set<std::string>{"run.final.log", "run.final.progress"}));

    // A last element that begins with its only dot loses all of it.
    ASSERT_EQ(::mkdir((m_oDir / "logs").c_str(), 0777), 0);
    {
        CSimpleFileVisualizer visualizer(m_oDir / "logs/.run");
    }
    EXPECT_EQ(Entries(m_oDir / "logs"), (std::set<std::string>{".log", ".progress"}));
}

TEST_F(SimpleFileVisualizer, LogLinesAreAppendedByteForByte)
{
    WriteTextFile(m_oDir / "run.log", "earlier\r\n");
    WriteTextFile(m_oDir / "run.progress", "old progress\n");
    auto visualizer = boost::make_shared<CSimpleFileVisualizer>(m_oDir / "run.log");
    visualizer->ShowMessage("Disk full", VerbosityWarning, g_sStamp, "7");
    visualizer->ShowMessage("plain", VerbosityInfo, g_sStamp, "");
    visualizer->ShowMessage("odd\rbytes", VerbosityNone, g_sStamp, "");
    EXPECT_EQ(ReadFile(m_oDir / "run.log"), "earlier\r\n"
                                            "2026-12-05 03:49:11 WARNING: [7] Disk full\r\n"
                                            "2026-12-05 03:49:11 INFO: plain\r\n"
                                            "2026-12-05 03:49:11 : odd\rbytes\r\n");
    // The progress file keeps its content until the first rewrite.
    EXPECT_EQ(ReadFile(m_oDir / "run.progress"), "old progress\n");
}

TEST_F(SimpleFileVisualizer, NotesAndMessageLinesThroughALogger)
{
    auto logger = boost::make_shared<CLogger>("Root");
    auto visualizer = boost::make_shared<CSimpleFileVisualizer>(m_oDir / "run.log");
    visualizer->AddLogger(logger);
    logger->Message(VerbosityError, "first\nsecond", "job");
    visualizer->Clear();
    const std::string stamp = "[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}";
    const std::string log = ReadFile(m_oDir / "run.log");
    EXPECT_TRUE(std::regex_match(log, std::regex(stamp + " INFO: Startup\r\n" + stamp + " ERROR: \\[job\\] first\r\n" +
                                                 stamp + " ERROR: \\[job\\] second\r\n" + stamp +
                                                 " INFO: Total Runtime: [0-9:.]+s\r\n")))
        << log;
}

TEST_F(SimpleFileVisualizer, OneLineWithTwoLineFeeds)
{
    Show(boost::make_shared<CLogger>("Root", 1.0, 1000.0));
    EXPECT_EQ(ProgressFile(), "");
    // No progress yet: the time remaining is unbounded and has no bracket.
    EXPECT_EQ(Refresh(), "Root: 0 %\n\n");
    // Complete: nothing remains.
    EXPECT_EQ(Refresh(1000.0), "Root: 100 %\n\n");
}

TEST_F(SimpleFileVisualizer, AFractionMustMoveByMoreThanOnePercentagePoint)
{
    Show(boost::make_shared<CLogger>("Root", 1.0, 1000.0));
    EXPECT_EQ(Refresh(), "Root: 0 %\n\n");
    // Exactly 0.01 is not enough.
    EXPECT_EQ(Refresh(10.0), "Root: 0 %\n\n");
    EXPECT_EQ(WithoutEta(Refresh(11.0)), "Root: 1.1 %\n\n");

    EXPECT_EQ(WithoutEta(Refresh(100.0)), "Root: 10 %\n\n");
    for (int value = 101; value <= 110; ++value)
        ASSERT_EQ(WithoutEta(Refresh(value)), "Root: 10 %\n\n") << value;
    EXPECT_EQ(WithoutEta(Refresh(111.0)), "Root: 11.1 %\n\n");
}

TEST_F(SimpleFileVisualizer, InnerStepLayerAddsALineThatOutlivesItsPop)
{
    auto logger = boost::make_shared<CLogger>("Root", 1.0, 100.0);
    Show(logger);
    logger->Push("Other", 5.0, 10.0, 0.0, false, LayerClassOther);
    logger->Push("Step", 10.0, 100.0, 0.0, false, LayerClassStep);
    logger->Push("Inner", 1.0, 10.0, 0.0, false, LayerClassOther);
    EXPECT_EQ(Refresh(), "Root: 0 %\nStep: 0 %\n\n");
    logger->Pop();
    EXPECT_EQ(WithoutEta(Refresh(50.0)), "Root: 2.5 %\nStep: 50 %\n\n");

    // Popping refreshes at once, while the layer is still there.
    logger->Pop();
    EXPECT_EQ(WithoutEta(ProgressFile()), "Root: 5 %\nStep: 100 %\n\n");
    EXPECT_EQ(WithoutEta(Refresh()), "Root: 5 %\nStep: 100 %\n\n");
    // The next rewrite shows the root layer alone, and nothing of the longer
    // content stays behind.
    logger->Pop();
    EXPECT_EQ(WithoutEta(Refresh(50.0)), "Root: 50 %\n\n");
}

TEST_F(SimpleFileVisualizer, RootLayerOfStepClassIsShownTwice)
{
    auto logger = boost::make_shared<CLogger>("Root", 1.0, 100.0);
    logger->SetClass(0, LayerClassStep);
    Show(logger);
    // A single layer is shown once, whatever its class.
    EXPECT_EQ(Refresh(), "Root: 0 %\n\n");
    logger->Push("Other", 10.0, 10.0, 0.0, false, LayerClassOther);
    EXPECT_EQ(Refresh(), "Root: 0 %\nRoot: 0 %\n\n");
}

TEST_F(SimpleFileVisualizer, NewRootTextKeepsItsPercentAndRefreshesTheStep)
{
    auto logger = boost::make_shared<CLogger>("Root", 1.0, 100.0);
    Show(logger);
    logger->Push("Step", 10.0, 100.0, 0.0, false, LayerClassStep);
    EXPECT_EQ(WithoutEta(Refresh(50.0)), "Root: 5 %\nStep: 50 %\n\n");
    // Too small a move for a rewrite on its own...
    EXPECT_EQ(WithoutEta(Refresh(50.5)), "Root: 5 %\nStep: 50 %\n\n");
    // ...but a new root text rewrites: slot 0 keeps its old percent, slot 1
    // follows because an earlier slot changed.
    logger->SetText(0, "Renamed");
    EXPECT_EQ(WithoutEta(Refresh()), "Renamed: 5 %\nStep: 50.5 %\n\n");
}

TEST_F(SimpleFileVisualizer, BusyProgressFilesGiveNumberedPairs)
{
    ASSERT_EQ(::mkdir((m_oDir / "run.progress").c_str(), 0777), 0);
    {
        auto visualizer = boost::make_shared<CSimpleFileVisualizer>(m_oDir / "run.log");
        visualizer->ShowMessage("one", VerbosityInfo, g_sStamp, "");
    }
    EXPECT_EQ(Entries(m_oDir.Path()), (std::set<std::string>{"run.progress", "run_1.progress", "run_1.log"}));
    EXPECT_EQ(ReadFile(m_oDir / "run_1.log"), "2026-12-05 03:49:11 INFO: one\r\n");

    ASSERT_EQ(::unlink((m_oDir / "run_1.progress").c_str()), 0);
    ASSERT_EQ(::mkdir((m_oDir / "run_1.progress").c_str(), 0777), 0);
    auto logger = boost::make_shared<CLogger>("Root");
    auto visualizer = boost::make_shared<CSimpleFileVisualizer>(m_oDir / "run");
    visualizer->AddLogger(logger);
    visualizer->ProgressChanged(logger, true);
    EXPECT_EQ(ReadFile(m_oDir / "run_2.progress"), "Root: 0 %\n\n");
    EXPECT_TRUE(FileExists(m_oDir / "run_2.log"));
    visualizer->Clear();
}

TEST_F(SimpleFileVisualizer, ProgressFileThatCannotBeCreatedMeansNoProgress)
{
    // A dangling link: the open fails and the name does not exist.
    ASSERT_EQ(::symlink((m_oDir / "nowhere/target").c_str(), (m_oDir / "run.progress").c_str()), 0);
    auto logger = boost::make_shared<CLogger>("Root");
    auto visualizer = boost::make_shared<CSimpleFileVisualizer>(m_oDir / "run.log");
    visualizer->AddLogger(logger);
    logger->SetProgress(0.5);
    visualizer->ProgressChanged(logger, true);
    logger->Message(VerbosityInfo, "still logging");
    visualizer->Clear();
    EXPECT_EQ(Entries(m_oDir.Path()), (std::set<std::string>{"run.progress", "run.log"}));
    EXPECT_FALSE(boost::filesystem::exists(m_oDir / "run.progress"));
    EXPECT_NE(ReadFile(m_oDir / "run.log").find("INFO: still logging\r\n"), std::string::npos);
}

TEST_F(SimpleFileVisualizer, MissingDirectoryRaisesWithTheLogFileName)
{
    const int before = CountOpenDescriptors();
    const std::string name = m_oDir / "missing/run.log";
    EXPECT_EQ(DescribeFileioError([&] { CSimpleFileVisualizer visualizer(name); }),
              "Failed to open the file \"" + name + "\"|" + std::to_string(ENOENT));
    EXPECT_TRUE(Entries(m_oDir.Path()).empty());
    EXPECT_EQ(CountOpenDescriptors(), before);
}

TEST_F(SimpleFileVisualizer, LogThatCannotBeCreatedLeavesNoProgressFileOpen)
{
    ASSERT_EQ(::mkdir((m_oDir / "run.log").c_str(), 0777), 0);
    const int before = CountOpenDescriptors();
    EXPECT_EQ(DescribeFileioError([&] { CSimpleFileVisualizer visualizer(m_oDir / "run.log"); }),
              "Failed to open the file \"" + (m_oDir / "run.log") + "\"|" + std::to_string(EISDIR));
    EXPECT_EQ(CountOpenDescriptors(), before);
}

TEST_F(SimpleFileVisualizer, DeletedLogMakesTheNextMessageRaise)
{
    auto logger = boost::make_shared<CLogger>("Root");
    auto visualizer = boost::make_shared<CSimpleFileVisualizer>(m_oDir / "run.log");
    visualizer->AddLogger(logger);
    ASSERT_EQ(::unlink((m_oDir / "run.log").c_str()), 0);
    EXPECT_EQ(DescribeFileioError([&] { logger->Message(VerbosityInfo, "lost"); }),
              "Failed to open the file \"" + (m_oDir / "run.log") + "\"|" + std::to_string(ENOENT));
    EXPECT_FALSE(FileExists(m_oDir / "run.log"));

    // The mutex was released on the way out: another thread gets through.
    WriteTextFile(m_oDir / "run.log", "");
    std::thread other([&] { visualizer->ShowMessage("back", VerbosityInfo, g_sStamp, ""); });
    other.join();
    EXPECT_EQ(ReadFile(m_oDir / "run.log"), "2026-12-05 03:49:11 INFO: back\r\n");
    visualizer->Clear();
}

TEST_F(SimpleFileVisualizer, FailingWritesCloseTheLogDescriptor)
{
    ExpectFailingWritesCloseTheLog<CSimpleFileVisualizer>(m_oDir / "run.log", m_oDir / "run.log");
}

TEST_F(SimpleFileVisualizer, ClearWritesTheDroppedProgress)
{
    ExpectClearWritesTheDroppedProgress<CSimpleFileVisualizer>([&] { return boost::make_shared<CSimpleFileVisualizer>(m_oDir / "run.log"); }, m_oDir / "run.progress");
}

TEST_F(SimpleFileVisualizer, AFailedWriteLeavesNoTornLine)
{
    ExpectAFailedWriteLeavesNoTornLine<CSimpleFileVisualizer>(m_oDir / "run.log", m_oDir / "run.log");
}

TEST_F(SimpleFileVisualizer, DestructionClosesTheProgressFileAndSurvivesAFailingClose)
{
    ExpectDestructionClosesTheProgressFile<CSimpleFileVisualizer, CExposedVisualizer>(m_oDir / "run.log",
                                                                                      m_oDir / "other.log");
}

TEST_F(SimpleFileVisualizer, RelativeNamesFollowTheCurrentDirectory)
{
    ASSERT_EQ(::mkdir((m_oDir / "elsewhere").c_str(), 0777), 0);
    CCurrentDirectory inside(m_oDir.Path());
    auto visualizer = boost::make_shared<CSimpleFileVisualizer>("run.log");
    visualizer->ShowMessage("here", VerbosityInfo, g_sStamp, "");
    EXPECT_EQ(ReadFile(m_oDir / "run.log"), "2026-12-05 03:49:11 INFO: here\r\n");
    CCurrentDirectory moved(m_oDir / "elsewhere");
    EXPECT_EQ(DescribeFileioError([&] { visualizer->ShowMessage("there", VerbosityInfo, g_sStamp, ""); }),
              "Failed to open the file \"run.log\"|" + std::to_string(ENOENT));
}

TEST_F(SimpleFileVisualizer, ConcurrentReportersKeepLinesWhole)
{
    auto logger = boost::make_shared<CLogger>("Root", 1.0, 4000.0);
    auto visualizer = boost::make_shared<CSimpleFileVisualizer>(m_oDir / "run.log");
    visualizer->AddLogger(logger);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 100; ++i) {
                logger->Message(VerbosityInfo, "thread " + std::to_string(t) + " line " + std::to_string(i));
                logger->IncrementProgress(10.0);
                visualizer->ProgressChanged(logger, true);
            }
        });
    for (auto& thread : threads)
        thread.join();
    logger->SetProgress(4000.0);
    visualizer->ProgressChanged(logger, true);
    visualizer->Clear();
    const std::string log = ReadFile(m_oDir / "run.log");
    const std::regex line("[0-9-]{10} [0-9:]{8} INFO: (Startup|thread [0-3] line [0-9]+|Total Runtime: [0-9:.]+s)\r\n");
    int lines = 0;
    for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it)
        ++lines;
    EXPECT_EQ(lines, 402);
    EXPECT_EQ(std::regex_replace(log, line, ""), "");
    // Within one percentage point of the end: the last steps may not show.
    const std::string progress = WithoutEta(ReadFile(m_oDir / "run.progress"));
    EXPECT_TRUE(std::regex_match(progress, std::regex("Root: (99(\\.[0-9]+)?|100) %\n\n"))) << progress;
}
