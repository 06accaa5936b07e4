#include <gtest/gtest.h>

#include <regex>
#include <string>

#include <boost/make_shared.hpp>

#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/Progress/ZevVisualizer.h>

#include "support/StdoutCapture.h"

using namespace Qz::Varnel::Progress;

namespace {

void Step(const boost::shared_ptr<CLogger>& logger, const boost::shared_ptr<CZevVisualizer>& visualizer, double value)
{
    logger->SetProgress(value, true);
    visualizer->ProgressChanged(logger, true);
}

} // namespace

TEST(ZevVisualizer, ConstructionAndDestructionWriteNothing)
{
    ::Test::CStdoutCapture capture;
    {
        auto first = boost::make_shared<CZevVisualizer>();
        auto second = boost::make_shared<CZevVisualizer>(true);
    }
    EXPECT_EQ(capture.Finish(), "");
}

TEST(ZevVisualizer, MessageLines)
{
    ::Test::CStdoutCapture capture;
    {
        auto visualizer = boost::make_shared<CZevVisualizer>();
        visualizer->ShowMessage("careful", VerbosityWarning, "2026-12-06 10:00:00", "");
        visualizer->ShowMessage("same <&> bytes", VerbosityError, "2026-12-06 10:00:01", "task-9");
        visualizer->ShowMessage("unnamed", VerbosityNone, "2026-12-06 10:00:02", "");
    }
    EXPECT_EQ(capture.Finish(), "2026-12-06 10:00:00 WARNING: careful\n"
                                "2026-12-06 10:00:01 ERROR: same <&> bytes\n"
                                "2026-12-06 10:00:02 : unnamed\n");
}

TEST(ZevVisualizer, ProgressLinesEveryTwoPercentBothWays)
{
    auto logger = boost::make_shared<CLogger>("", 1.0, 1000.0);
    ::Test::CStdoutCapture capture;
    {
        auto visualizer = boost::make_shared<CZevVisualizer>();
        visualizer->SetNotificationLevel(VerbosityNone);
        visualizer->AddLogger(logger);
        Step(logger, visualizer, 19); // 1.9 %: nothing
        Step(logger, visualizer, 20); // 2 %
        Step(logger, visualizer, 39); // 3.9 %: the same step
        Step(logger, visualizer, 50); // 5 %
        Step(logger, visualizer, 30); // back to 3 %
        logger->SetText(0, "Phase <1>");
        Step(logger, visualizer, 125);             // text line first, then 12.5 %
        visualizer->ProgressChanged(logger, true); // nothing changed
        logger->SetText(0, "");
        visualizer->ProgressChanged(logger, true); // "Progress: " alone
        Step(logger, visualizer, 1000);
        visualizer->Clear();
    }
    EXPECT_EQ(capture.Finish(), "Progress: 2%\n"
                                "Progress: 5%\n"
                                "Progress: 3%\n"
                                "Progress: Phase <1>\n"
                                "Progress: 12.5%\n"
                                "Progress: \n"
                                "Progress: 100%\n");
}

TEST(ZevVisualizer, NotesArriveAsMessageLines)
{
    auto logger = boost::make_shared<CLogger>("root");
    logger->SetNotificationLevel(VerbosityTrace);
    ::Test::CStdoutCapture capture;
    {
        auto visualizer = boost::make_shared<CZevVisualizer>();
        visualizer->AddLogger(logger);
        logger->Message(VerbosityDebug, "one\ntwo", "task");
        visualizer->Clear();
    }
    const std::string bytes = capture.Finish();
    const std::string stamp = "\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}";
    EXPECT_TRUE(std::regex_match(bytes, std::regex(stamp + " INFO: Startup\n" + stamp + " DEBUG: one\n" + stamp +
                                                   " DEBUG: two\n" + stamp +
                                                   " INFO: Total Runtime: \\d{2,}:\\d{2}:\\d{2}(\\.\\d{6})?s\n")))
        << bytes;
}

TEST(ZevVisualizer, ProgressWithoutLoggerIsIgnored)
{
    auto logger = boost::make_shared<CLogger>("text", 1.0, 10.0, 5.0);
    ::Test::CStdoutCapture capture;
    {
        auto visualizer = boost::make_shared<CZevVisualizer>();
        visualizer->ProgressChanged(logger, true);
    }
    EXPECT_EQ(capture.Finish(), "");
}
