// What visualizers are told, in which order and with which immediate flag,
// and that they may read the logger back from inside every notification.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>

#include <vidOderavev/Progress/Logger.h>

#include "support/RecordingVisualizer.h"

using namespace Qz::Varnel::Progress;
using Test::Attach;
using Test::CChildLink;
using Test::CRecordingVisualizer;

namespace {

typedef std::vector<std::string> TEvents;

// Runs a scenario on its own thread; a deadlock would otherwise hang the
// whole test program, so it ends the program with a message instead.
template <typename TScenario> void RunWithDeadline(TScenario scenario)
{
    auto done = std::async(std::launch::async, scenario);
    if (done.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        std::fprintf(stderr, "scenario did not finish: deadlock\n");
        std::_Exit(1);
    }
    done.get();
}

// A visualizer that reads every getter inside every notification, as the
// outputs do.
class CReadingVisualizer : public Detail::CVisualizer
{
public:
    void LoggerChanged(const boost::shared_ptr<CLogger>& logger) override { Read(logger); }
    void TextChanged(const boost::shared_ptr<CLogger>& logger) override { Read(logger); }
    void ProgressChanged(const boost::shared_ptr<CLogger>& logger, bool) override { Read(logger); }
    void ShowMessage(const std::string&, _EVerbosityLevel, const std::string&, const std::string&) override
    {
        ++m_nCalls;
    }

    int m_nCalls = 0;
    bool m_bAllFinite = true;

private:
    void Read(const boost::shared_ptr<CLogger>& logger)
    {
        ++m_nCalls;
        const int layers = logger->GetNumberOfLayers();
        for (int layer = 0; layer < layers; ++layer) {
            m_bAllFinite = m_bAllFinite && std::isfinite(logger->GetRelativeProgressValue(layer)) &&
                           std::isfinite(logger->GetProgress(layer)) && std::isfinite(logger->GetMaxValue(layer));
            logger->GetTimeRemaining(layer);
            logger->GetRuntime(layer);
            logger->GetText(layer);
            logger->GetAltText(layer);
            logger->GetClass(layer);
        }
        logger->GetText();
        logger->GetProgress();
        logger->GetMaxValue();
        logger->GetNumberOfChildren();
        logger->GetNotificationLevel();
        logger->GetParent();
        logger->GetTimeStamp();
    }
};

} // namespace

TEST(LoggerNotification, PushTellsLoggerChangedWithTheNewLayerOnTheStack)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    auto visualizer = Attach(logger);
    logger->Push("layer", 50.0, 10.0);
    EXPECT_EQ(visualizer->Events(), TEvents({"LoggerChanged"}));
    EXPECT_EQ(visualizer->m_oLayerCounts, std::vector<int>({2}));
    EXPECT_EQ(visualizer->m_pLastLogger, logger.get());

    visualizer->Reset();
    logger->Push("started", 50.0, 10.0, 5.0);
    EXPECT_EQ(visualizer->Events(), TEvents({"LoggerChanged", "Progress"}));
    EXPECT_EQ(visualizer->m_oLayerCounts, std::vector<int>({3}));
}

TEST(LoggerNotification, PopTellsProgressWithCompletedLayerThenLoggerChanged)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    logger->Push("layer", 50.0, 10.0);
    logger->SetProgress(3.0);
    auto visualizer = Attach(logger);
    visualizer->m_bReadLayersOnProgress = true;
    logger->Pop();
    EXPECT_EQ(visualizer->Events(), TEvents({"Progress(immediate)", "LoggerChanged"}));
    // Inside Progress the completed layer is still there, at its max value;
    // inside LoggerChanged it is gone.
    EXPECT_EQ(visualizer->m_oLayerCounts, std::vector<int>({2, 1}));
    EXPECT_EQ(visualizer->m_oTopValues, std::vector<double>({10.0}));
    EXPECT_EQ(visualizer->m_oTopMaxValues, std::vector<double>({10.0}));
    EXPECT_EQ(logger->GetProgress(0), 50.0);
}

TEST(LoggerNotification, PopOfACompleteLayerStillTellsProgress)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    logger->Push("layer", 50.0, 10.0);
    logger->SetProgress(10.0);
    auto visualizer = Attach(logger);
    logger->Pop();
    EXPECT_EQ(visualizer->Events(), TEvents({"Progress(immediate)", "LoggerChanged"}));
}

TEST(LoggerNotification, PopOfAZeroMaxLayerShowsItComplete)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    logger->Push("empty", 10.0, 0.0);
    auto visualizer = Attach(logger);
    visualizer->m_bReadLayersOnProgress = true;
    logger->Pop();
    EXPECT_EQ(visualizer->Events(), TEvents({"Progress(immediate)", "LoggerChanged"}));
    ASSERT_EQ(visualizer->m_oTopValues.size(), 1u);
    EXPECT_EQ(visualizer->m_oTopValues[0], visualizer->m_oTopMaxValues[0]);
}

TEST(LoggerNotification, GetterFlushTellsImmediateProgressOnce)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    logger->Push("layer", 50.0, 10.0);
    auto visualizer = Attach(logger);
    logger->SetProgress(0.2);
    logger->IncrementProgress(0.2);
    EXPECT_TRUE(visualizer->Events().empty());
    EXPECT_EQ(logger->GetProgress(), 0.4);
    EXPECT_EQ(visualizer->Events(), TEvents({"Progress(immediate)"}));
    EXPECT_EQ(logger->GetMaxValue(), 10.0);
    EXPECT_DOUBLE_EQ(logger->GetRelativeProgressValue(0), 0.02);
    EXPECT_EQ(visualizer->Events(), TEvents({"Progress(immediate)"}));

    logger->IncrementProgress(0.1);
    EXPECT_EQ(logger->GetMaxValue(0), 100.0);
    logger->IncrementProgress(0.1);
    EXPECT_DOUBLE_EQ(logger->GetRelativeProgressValue(1), 0.06);
    EXPECT_EQ(visualizer->Events(), TEvents(3, "Progress(immediate)"));
}

TEST(LoggerNotification, SettersTellNonImmediateProgress)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    auto visualizer = Attach(logger);
    logger->SetProgress(10.0);
    logger->IncrementProgress(10.0);
    logger->SetMaxValue(40.0);
    logger->SetMaxValue(0, 50.0);
    EXPECT_EQ(visualizer->Events(), TEvents(4, "Progress"));
}

TEST(LoggerNotification, TextChangedOnlyOnRealChange)
{
    auto logger = boost::make_shared<CLogger>("root");
    auto visualizer = Attach(logger);
    logger->SetText("root");
    logger->SetText(0, "root");
    logger->SetAltText("");
    EXPECT_TRUE(visualizer->Events().empty());
    logger->SetText("new");
    logger->SetText(0, "newer");
    logger->SetAltText("alt");
    logger->SetAltText(0, "alter");
    EXPECT_EQ(visualizer->Events(), TEvents(4, "TextChanged"));
    EXPECT_EQ(logger->GetText(), "newer");
    EXPECT_EQ(logger->GetAltText(0), "alter");
}

TEST(LoggerNotification, SetClassAlwaysTellsLoggerChanged)
{
    auto logger = boost::make_shared<CLogger>("root");
    auto visualizer = Attach(logger);
    logger->SetClass(0, LayerClassRoot);
    logger->SetClass(0, LayerClassStep);
    EXPECT_EQ(visualizer->Events(), TEvents(2, "LoggerChanged"));
    EXPECT_EQ(logger->GetClass(0), LayerClassStep);
}

TEST(LoggerNotification, VisualizersInListOrderAndTwiceWhenAddedTwice)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    std::vector<std::string> order;
    auto first = Attach(logger);
    auto second = Attach(logger);
    logger->AddVisualizer(first);
    first->m_fnOnProgress = [&](const boost::shared_ptr<CLogger>&, bool) { order.push_back("first"); };
    second->m_fnOnProgress = [&](const boost::shared_ptr<CLogger>&, bool) { order.push_back("second"); };
    logger->SetProgress(50.0);
    EXPECT_EQ(order, TEvents({"first", "second", "first"}));

    // Removal takes the first entry only; an unknown visualizer changes nothing.
    logger->RemoveVisualizer(first);
    logger->RemoveVisualizer(boost::make_shared<CRecordingVisualizer>());
    order.clear();
    logger->SetProgress(60.0);
    EXPECT_EQ(order, TEvents({"second", "first"}));
    logger->RemoveVisualizer(first);
    logger->RemoveVisualizer(second);
    logger->SetProgress(70.0);
    EXPECT_EQ(order, TEvents({"second", "first"}));
}

TEST(LoggerNotification, ChildWithoutVisualizersNotifiesParentVisualizersWithParent)
{
    auto parent = boost::make_shared<CLogger>("parent", 1.0, 100.0);
    auto child = boost::make_shared<CLogger>("child", 20.0, 1.0);
    const CChildLink link(parent, child);
    auto visualizer = Attach(parent);
    child->SetProgress(0.5);
    EXPECT_EQ(visualizer->Events(), TEvents({"Progress"}));
    EXPECT_EQ(visualizer->m_pLastLogger, parent.get());

    // Held back in the parent's top layer, but the parent's visualizers are
    // told all the same; a flush on the child is immediate for them.
    child->SetProgress(0.52, true);
    child->SetProgress(0.55);
    EXPECT_DOUBLE_EQ(child->GetProgress(), 0.55);
    EXPECT_EQ(visualizer->Events(), TEvents({"Progress", "Progress", "Progress(immediate)"}));
    // Pop on the child tells the parent's visualizers too.
    child->Push("step", 1.0, 1.0);
    child->Pop();
    EXPECT_EQ(visualizer->Events(),
              TEvents({"Progress", "Progress", "Progress(immediate)", "Progress(immediate)"}));
}

TEST(LoggerNotification, ChildWithVisualizersNotifiesOnlyItsOwn)
{
    auto parent = boost::make_shared<CLogger>("parent", 1.0, 100.0);
    auto child = boost::make_shared<CLogger>("child", 20.0, 1.0);
    const CChildLink link(parent, child);
    auto parentVisualizer = Attach(parent);
    auto childVisualizer = Attach(child);
    child->SetProgress(0.5);
    EXPECT_EQ(childVisualizer->Events(), TEvents({"Progress"}));
    EXPECT_EQ(childVisualizer->m_pLastLogger, child.get());
    EXPECT_TRUE(parentVisualizer->Events().empty());
    EXPECT_EQ(parent->GetProgress(0), 10.0);
}

TEST(LoggerNotification, GetterInsideProgressChangedCausesOneFurtherImmediateNotification)
{
    // The child's change is held back in the parent's top layer; the getter
    // inside the notification flushes it and so causes one nested
    // notification, whose own getter finds nothing more to pass.
    auto parent = boost::make_shared<CLogger>("parent", 1.0, 100.0);
    auto child = boost::make_shared<CLogger>("child", 2.0, 1.0);
    const CChildLink link(parent, child);
    auto visualizer = Attach(parent);
    std::vector<double> seen;
    visualizer->m_fnOnProgress = [&](const boost::shared_ptr<CLogger>& logger, bool) {
        seen.push_back(logger->GetRelativeProgressValue(0));
    };
    child->SetProgress(1.0);
    EXPECT_EQ(visualizer->Events(), TEvents({"Progress", "Progress(immediate)"}));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_DOUBLE_EQ(seen[0], 0.02);
    EXPECT_DOUBLE_EQ(seen[1], 0.02);
}

TEST(LoggerNotification, ProgressReportedInsideANotificationDoesNotNestWithoutBound)
{
    // Every notification stores a held-back change and reads it back, so
    // every getter flushes something new: the nesting must stop by itself.
    auto logger = boost::make_shared<CLogger>("root", 1.0, 1000.0);
    auto visualizer = Attach(logger);
    int depth = 0;
    int deepest = 0;
    int calls = 0;
    visualizer->m_fnOnProgress = [&](const boost::shared_ptr<CLogger>& l, bool) {
        ++depth;
        deepest = std::max(deepest, depth);
        if (++calls < 1000) {
            l->IncrementProgress(0.25);
            l->GetProgress();
        }
        --depth;
    };
    logger->SetProgress(100.0);
    EXPECT_EQ(deepest, 4);
    EXPECT_EQ(visualizer->Events(), TEvents({"Progress", "Progress(immediate)", "Progress(immediate)",
                                             "Progress(immediate)"}));
    // The change flushed without a notification is in place all the same.
    EXPECT_EQ(logger->GetProgress(0), 101.0);
    EXPECT_EQ(visualizer->Events().size(), 4u);
}

TEST(LoggerNotification, VisualizerReadingGettersDoesNotDeadlock)
{
    RunWithDeadline([] {
        auto parent = boost::make_shared<CLogger>("parent", 1.0, 100.0);
        auto child = boost::make_shared<CLogger>("child", 50.0, 10.0);
        auto parentVisualizer = boost::make_shared<CReadingVisualizer>();
        auto childVisualizer = boost::make_shared<CReadingVisualizer>();
        parent->AddVisualizer(parentVisualizer);
        parent->AddChildLogger(child);
        child->Push("step", 5.0, 1000.0, 3.0, false, LayerClassStep);
        for (int i = 0; i < 200; ++i)
            child->IncrementProgress();
        child->SetText("text");
        child->SetAltText("alt");
        child->SetClass(1, LayerClassOther);
        child->Message(VerbosityInfo, "line one\nline two");
        child->AddVisualizer(childVisualizer);
        child->SetProgress(900.0, true);
        child->GetRelativeProgressValue(0);
        child->Pop();
        parent->RemoveChildLogger(child);
        parent->Push("zero", 10.0, 0.0);
        parent->IncrementProgress();
        parent->SetMaxValue(0.0);
        parent->Pop();
        parent->SetText("done");
        parent->Message(VerbosityInfo, "bye");
        EXPECT_GT(parentVisualizer->m_nCalls, 10);
        EXPECT_GE(childVisualizer->m_nCalls, 3);
        EXPECT_TRUE(parentVisualizer->m_bAllFinite);
        EXPECT_TRUE(childVisualizer->m_bAllFinite);
    });
}

TEST(LoggerNotification, VisualizerMayChangeTheLoggerInsideANotification)
{
    RunWithDeadline([] {
        auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
        auto visualizer = Attach(logger);
        int calls = 0;
        visualizer->m_fnOnProgress = [&](const boost::shared_ptr<CLogger>& l, bool) {
            if (++calls == 1) {
                l->SetText("from inside");
                l->Push("inner", 10.0, 10.0);
            }
        };
        logger->SetProgress(50.0);
        EXPECT_EQ(visualizer->Events(), TEvents({"Progress", "TextChanged", "LoggerChanged"}));
        EXPECT_EQ(logger->GetNumberOfLayers(), 2);
    });
}

TEST(LoggerNotification, DirectObserverThatOverridesNothing)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    auto observer = boost::make_shared<Detail::CVisualizer>();
    logger->AddVisualizer(observer);
    logger->Push("layer", 50.0, 10.0, 5.0);
    logger->SetText("text");
    logger->SetProgress(10.0);
    logger->Message(VerbosityError, "message");
    logger->Pop();
    EXPECT_EQ(logger->GetProgress(0), 50.0);
}

TEST(LoggerNotification, NotificationsNeedASharedOwner)
{
    CLogger logger("root", 1.0, 100.0);
    logger.Push("layer", 1.0, 1.0);
    logger.SetProgress(1.0);
    logger.Pop();
    EXPECT_EQ(logger.GetProgress(0), 1.0);
    auto visualizer = boost::make_shared<CRecordingVisualizer>();
    logger.AddVisualizer(visualizer);
    EXPECT_THROW(logger.Push("again", 1.0, 1.0), boost::bad_weak_ptr);
    logger.RemoveVisualizer(visualizer);
}
