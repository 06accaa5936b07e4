#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include <unistd.h>

#include <boost/make_shared.hpp>

#include <vidOderavev/Libraries/Fileio/FileioUnix.h>
#include <vidOderavev/Progress/BufferedProgressFileVisualizer.h>
#include <vidOderavev/Progress/Logger.h>

#include "support/BufferedFileHelpers.h"
#include "support/FileOutputChecks.h"
#include "support/FileTestSupport.h"
#include "support/TemporaryDirectory.h"

using namespace Qz::Varnel::Progress;
using Test::CTemporaryDirectory;
using Test::ReadFile;
using Test::ReadFileOrEmpty;
using Test::SplitCrLfLines;
using Test::WaitFor;

namespace {

const std::chrono::seconds g_oDeadline(5);

// Reaches the rows and the rewrite; Watch lets the rows follow a logger
// without registering with it, so that only the test calls _ProgressChanged.
class CTestProgressVisualizer : public CBufferedProgressFileVisualizer
{
public:
    using CBufferedProgressFileVisualizer::CBufferedProgressFileVisualizer;

    void Watch(const boost::shared_ptr<CLogger>& logger) { m_oLoggers.push_back(logger); }
    void Update(const boost::shared_ptr<CLogger>& logger) { _ProgressChanged(logger); }
    // Sets the logger's progress, forced, and lets the rows follow it.
    void Update(const boost::shared_ptr<CLogger>& logger, double value)
    {
        logger->SetProgress(value, true);
        _ProgressChanged(logger);
    }
    bool Changed() const { return m_oSlots.Changed(); }
    // Waits, up to the deadline, until the writer thread has taken the last
    // change.
    bool WaitUntilTaken() const
    {
        return WaitFor([this] { return !Changed(); }, g_oDeadline);
    }
    double Fraction(int row) const { return m_oSlots.GetRow(row).m_dFraction; }
    int Layer(int row) const { return m_oSlots.GetRow(row).m_nLayer; }
    std::string Text(int row) const { return m_oSlots.GetRow(row).m_sText; }
    boost::posix_time::time_duration Remaining(int row) const { return m_oSlots.GetRow(row).m_oRemaining; }

    void Write(const std::string& text0, double fraction0, const boost::posix_time::time_duration& remaining0,
               const std::string& text1, double fraction1, const boost::posix_time::time_duration& remaining1)
    {
        const std::string texts[2] = {text0, text1};
        const double fractions[2] = {fraction0, fraction1};
        const boost::posix_time::time_duration remaining[2] = {remaining0, remaining1};
        _WriteProgress(texts, fractions, remaining);
    }
};

boost::posix_time::time_duration Seconds(int seconds) { return boost::posix_time::seconds(seconds); }

// The lines of a progress file, without the line feeds; the empty last line
// is kept.
std::vector<std::string> ProgressLines(const std::string& content)
{
    std::vector<std::string> lines;
    std::string::size_type begin = 0;
    for (std::string::size_type end; (end = content.find('\n', begin)) != std::string::npos; begin = end + 1)
        lines.push_back(content.substr(begin, end - begin));
    return lines;
}

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

class BufferedProgressFileVisualizer : public ::testing::Test
{
protected:
    std::vector<std::string> ProgressFileLines() const { return ProgressLines(ReadFile(m_sProgressFile)); }

    CTemporaryDirectory m_oDir;
    const std::string m_sProgressFile = m_oDir.File("job.progress");
};

} // namespace

TEST_F(BufferedProgressFileVisualizer, RewriteShowsSlotsAboveZeroOnlyAndLeavesNoStaleTail)
{
    const std::string& file = m_sProgressFile;
    CTestProgressVisualizer visualizer(m_oDir.Path(), "job", false);
    visualizer.Write("Run", 0.25, Seconds(3725), "Step", 0.5, Seconds(61));
    EXPECT_EQ(ReadFile(file), "Run: 25 % [ETA: 1h 2m 5s]\nStep: 50 % [ETA: 1m 1s]\n\n");
    visualizer.Write("Run", 0.123456, Seconds(0), "Step", -1.0, Seconds(61));
    EXPECT_EQ(ReadFile(file), "Run: 12.3456 %\n\n");
    visualizer.Write("Run", 0.3, Seconds(60), "Step", 0.0, Seconds(5));
    EXPECT_EQ(ReadFile(file), "Run: 30 % [ETA: 60s]\n\n");
    visualizer.Write("Run", 0.0, Seconds(1), "Step", -1.0, Seconds(1));
    EXPECT_EQ(ReadFile(file), "\n");
    visualizer.Write("Run", 1.0, Seconds(0), "Root again", 1.0, boost::posix_time::pos_infin);
    EXPECT_EQ(ReadFile(file), "Run: 100 %\nRoot again: 100 %\n\n");
}

TEST_F(BufferedProgressFileVisualizer, PushedStepLayerShowsAsSecondLineSoon)
{
    const std::string& file = m_sProgressFile;
    auto logger = boost::make_shared<CLogger>("Run", 1.0, 100.0);
    {
        auto visualizer = boost::make_shared<CBufferedProgressFileVisualizer>(m_oDir.Path(), "job", false);
        visualizer->AddLogger(logger);
        // Outside the 0.2 s throttle window that starts with construction.
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        logger->Push("Step", 50.0, 10.0, 0.0, false, LayerClassStep);
        logger->SetProgress(5.0);
        const auto pushed = std::chrono::steady_clock::now();
        ASSERT_TRUE(WaitFor([&] { return ProgressLines(ReadFileOrEmpty(file)).size() == 3; }, g_oDeadline));
        const auto elapsed = std::chrono::steady_clock::now() - pushed;
        // Within 300 ms on a quiet machine; the margin allows for a busy one.
        EXPECT_LT(elapsed, std::chrono::milliseconds(1500));
        const std::vector<std::string> lines = ProgressLines(ReadFile(file));
        EXPECT_TRUE(StartsWith(lines[0], "Run: 25 %")) << lines[0];
        EXPECT_TRUE(StartsWith(lines[1], "Step: 50 %")) << lines[1];
        EXPECT_EQ(lines[2], "");
        visualizer->Clear();
    }
    // Messages still go to the log file beside it.
    const std::vector<std::string> log = SplitCrLfLines(ReadFile(m_oDir.File("job.log")));
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].substr(19), " INFO: Startup");
}

TEST_F(BufferedProgressFileVisualizer, RootOnlyGivesOneLineAndAnEmptyLine)
{
    auto logger = boost::make_shared<CLogger>("Run", 1.0, 10.0);
    logger->SetProgress(4.0, true);
    {
        CTestProgressVisualizer visualizer(m_oDir.Path(), "job", false);
        visualizer.Watch(logger);
        visualizer.Update(logger);
        EXPECT_EQ(visualizer.Layer(0), 0);
        EXPECT_EQ(visualizer.Fraction(0), 0.4);
        EXPECT_EQ(visualizer.Fraction(1), -1.0);
        // The destructor's last pass writes the change at the latest.
    }
    const std::vector<std::string> lines = ProgressFileLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(StartsWith(lines[0], "Run: 40 %")) << lines[0];
    EXPECT_EQ(lines[1], "");
}

TEST_F(BufferedProgressFileVisualizer, RowsFollowOnlyMovesAboveOneHundredth)
{
    auto logger = boost::make_shared<CLogger>("Run", 1.0, 1000.0);
    CTestProgressVisualizer visualizer(m_oDir.Path(), "job", false);
    visualizer.Watch(logger);
    visualizer.Update(logger, 500.0);
    ASSERT_TRUE(visualizer.WaitUntilTaken());
    visualizer.Update(logger, 505.0);
    EXPECT_EQ(visualizer.Fraction(0), 0.5);
    EXPECT_FALSE(visualizer.Changed());
    visualizer.Update(logger, 511.0);
    EXPECT_EQ(visualizer.Fraction(0), 0.511);
    EXPECT_TRUE(WaitFor([&] { return StartsWith(ReadFileOrEmpty(m_sProgressFile), "Run: 51.1 %"); }, g_oDeadline));
}

TEST_F(BufferedProgressFileVisualizer, TextChangeAloneKeepsTheOldFraction)
{
    auto logger = boost::make_shared<CLogger>("Run", 1.0, 100.0);
    CTestProgressVisualizer visualizer(m_oDir.Path(), "job", false);
    visualizer.Watch(logger);
    visualizer.Update(logger, 20.0);
    ASSERT_TRUE(visualizer.WaitUntilTaken());
    logger->SetText(0, "Renamed");
    visualizer.Update(logger, 60.0);
    EXPECT_EQ(visualizer.Text(0), "Renamed");
    EXPECT_EQ(visualizer.Fraction(0), 0.2);
    visualizer.Update(logger);
    EXPECT_EQ(visualizer.Fraction(0), 0.6);
}

TEST_F(BufferedProgressFileVisualizer, StepLayerWithoutProgressHasNoLine)
{
    auto logger = boost::make_shared<CLogger>("Run", 1.0, 10.0);
    logger->SetProgress(3.0, true);
    logger->Push("Step", 5.0, 10.0, 0.0, false, LayerClassStep);
    {
        CTestProgressVisualizer visualizer(m_oDir.Path(), "job", false);
        visualizer.Watch(logger);
        visualizer.Update(logger);
        EXPECT_EQ(visualizer.Layer(1), 1);
        EXPECT_EQ(visualizer.Text(1), "Step");
        EXPECT_EQ(visualizer.Fraction(1), 0.0);
    }
    const std::vector<std::string> lines = ProgressFileLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(StartsWith(lines[0], "Run: 30 %")) << lines[0];
}

TEST_F(BufferedProgressFileVisualizer, RootOfClassZeroIsShownTwice)
{
    auto logger = boost::make_shared<CLogger>("Run", 1.0, 10.0);
    logger->SetClass(0, LayerClassStep);
    logger->Push("Inner", 5.0, 10.0, 0.0, false, LayerClassOther);
    logger->SetProgress(10.0, true);
    {
        CTestProgressVisualizer visualizer(m_oDir.Path(), "job", false);
        visualizer.Watch(logger);
        visualizer.Update(logger);
        EXPECT_EQ(visualizer.Layer(1), 0);
    }
    const std::vector<std::string> lines = ProgressFileLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(StartsWith(lines[0], "Run: 50 %")) << lines[0];
    EXPECT_EQ(lines[1], lines[0]);
}

TEST_F(BufferedProgressFileVisualizer, PoppedStepLineDisappearsEvenWhenTheRootBarelyMoves)
{
    const std::string& file = m_sProgressFile;
    auto logger = boost::make_shared<CLogger>("Run", 1.0, 100.0);
    logger->SetProgress(50.0, true);
    CTestProgressVisualizer visualizer(m_oDir.Path(), "job", false);
    visualizer.Watch(logger);
    logger->Push("Step", 0.1, 10.0, 0.0, false, LayerClassStep);
    visualizer.Update(logger, 5.0);
    ASSERT_TRUE(WaitFor([&] { return ProgressLines(ReadFileOrEmpty(file)).size() == 3; }, g_oDeadline));
    logger->Pop();
    visualizer.Update(logger);
    EXPECT_EQ(visualizer.Fraction(1), -1.0);
    ASSERT_TRUE(WaitFor([&] { return ProgressLines(ReadFileOrEmpty(file)).size() == 2; }, g_oDeadline));
    // The root row moved by less than 0.01 and keeps its fraction.
    EXPECT_TRUE(StartsWith(ReadFile(file), "Run: 50.05 %")) << ReadFile(file);
}

TEST_F(BufferedProgressFileVisualizer, ClearWritesTheDroppedProgress)
{
    ::Test::FileSupport::ExpectClearWritesTheDroppedProgress<CBufferedProgressFileVisualizer>(
        [&] { return boost::make_shared<CBufferedProgressFileVisualizer>(m_oDir.Path(), "job", false); },
        m_sProgressFile);
}

// With the log and the progress file failing, the loss of each is reported,
// once; progress rewrites land again once the file can be written.
TEST_F(BufferedProgressFileVisualizer, EachFailingFileIsReportedOnceAndLaterRewritesLand)
{
    const ::Test::FileSupport::CFailHandlerScope noHandler{boost::shared_ptr<Qz::Varnel::Fileio::CFailHandler>()};
    const std::string& file = m_sProgressFile;
    const std::string log = m_oDir.File("job.log");
    ASSERT_EQ(::symlink("/dev/full", file.c_str()), 0);
    ASSERT_EQ(::symlink("/dev/full", log.c_str()), 0);
    ::Test::CStderrRedirect errors;
    auto lines = [&] {
        const std::string report = errors.Text();
        return std::count(report.begin(), report.end(), '\n');
    };
    {
        auto logger = boost::make_shared<CLogger>("Run", 1.0, 100.0);
        CTestProgressVisualizer visualizer(m_oDir.Path(), "job", false);
        visualizer.Watch(logger);
        for (int i = 0; i < 3; ++i)
            visualizer.ShowMessage("lost", VerbosityInfo, "2026-12-05 03:49:11", "");
        visualizer.Update(logger, 20.0);
        ASSERT_TRUE(WaitFor([&] { return lines() == 2; }, g_oDeadline)) << errors.Text();
        ASSERT_EQ(::unlink(file.c_str()), 0);
        visualizer.Update(logger, 70.0);
        visualizer.ShowMessage("lost", VerbosityInfo, "2026-12-05 03:49:11", "");
        EXPECT_TRUE(WaitFor([&] { return StartsWith(ReadFileOrEmpty(file), "Run: 70 %"); }, g_oDeadline));
    }
    const std::string report = errors.Text();
    EXPECT_EQ(lines(), 2) << report;
    EXPECT_NE(report.find("\"" + file + "\""), std::string::npos) << report;
    EXPECT_NE(report.find("\"" + log + "\""), std::string::npos) << report;
}
