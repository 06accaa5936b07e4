// Several threads advance child loggers of one parent while visualizers and
// a reader thread read the parent's getters; run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include <boost/make_shared.hpp>

#include <vidOderavev/Progress/Logger.h>

#include "support/RecordingVisualizer.h"

using namespace Qz::Varnel::Progress;
using Test::CRecordingVisualizer;

namespace {

const int g_nThreads = 4;
// The logger cuts nested notifications from getter flushes at this depth.
const int g_nNestingBound = 4;

thread_local int g_nDepth = 0;

struct SObserved
{
    // Time a slow output spends before it reads the logger back.
    std::chrono::microseconds m_oWork{0};
    std::atomic<int> m_nMaxDepth{0};
    std::atomic<int> m_nBadValues{0};
    std::atomic<int> m_nReads{0};
};

// Reads the getters inside every progress notification, as the outputs do,
// and notes how deeply notifications nest on one thread.
void ReadInside(const boost::shared_ptr<CLogger>& logger, SObserved& observed)
{
    ++g_nDepth;
    int seen = observed.m_nMaxDepth.load();
    while (g_nDepth > seen && !observed.m_nMaxDepth.compare_exchange_weak(seen, g_nDepth)) {
    }
    if (observed.m_oWork.count() > 0)
        std::this_thread::sleep_for(observed.m_oWork);
    const double fraction = logger->GetRelativeProgressValue(0);
    if (!(fraction >= 0.0 && fraction <= 1.0))
        ++observed.m_nBadValues;
    logger->GetTimeRemaining(0);
    logger->GetRuntime(0);
    logger->GetText(0);
    logger->GetTimeStamp();
    ++observed.m_nReads;
    --g_nDepth;
}

} // namespace

TEST(LoggerThreads, ChildrenOnThreadsFeedOneParent)
{
    const int steps = 2000;
    auto parent = boost::make_shared<CLogger>("parent", 1.0, 100.0);
    auto visualizer = boost::make_shared<CRecordingVisualizer>();
    SObserved observed;
    visualizer->m_fnOnProgress = [&](const boost::shared_ptr<CLogger>& logger, bool) { ReadInside(logger, observed); };
    parent->AddVisualizer(visualizer);
    std::vector<boost::shared_ptr<CLogger> > children;
    for (int i = 0; i < g_nThreads; ++i) {
        children.push_back(boost::make_shared<CLogger>("child " + std::to_string(i), 100.0 / g_nThreads, 1.0));
        parent->AddChildLogger(children.back());
    }

    std::atomic<bool> running(true);
    std::thread reader([&] {
        while (running) {
            const double fraction = parent->GetRelativeProgressValue(0);
            if (!(fraction >= 0.0 && fraction <= 1.0))
                ++observed.m_nBadValues;
            parent->GetTimeRemaining(0);
            parent->GetProgress();
            std::this_thread::yield();
        }
    });
    std::vector<std::thread> workers;
    for (int i = 0; i < g_nThreads; ++i) {
        workers.emplace_back([&, i] {
            const boost::shared_ptr<CLogger>& child = children[i];
            child->Push("phase", 1.0, steps, 0.0, false, LayerClassStep);
            for (int step = 1; step <= steps; ++step) {
                child->IncrementProgress();
                if (step % 100 == 0) {
                    child->Message(VerbosityInfo, "step " + std::to_string(step) + "\nof " + std::to_string(i));
                    child->GetRelativeProgressValue(0);
                }
            }
            child->Pop(); // completes the phase: the child's root is at 1.0
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    running = false;
    reader.join();

    for (const auto& child : children) {
        EXPECT_EQ(child->GetRelativeProgressValue(0), 1.0);
        parent->RemoveChildLogger(child);
    }
    EXPECT_NEAR(parent->GetProgress(0), 100.0, 1e-9);
    EXPECT_NEAR(parent->GetRelativeProgressValue(0), 1.0, 1e-11);
    EXPECT_EQ(observed.m_nBadValues.load(), 0);
    EXPECT_GT(observed.m_nReads.load(), 0);
    EXPECT_EQ(visualizer->Count("LoggerChanged"), 0);
    const std::vector<std::string> events = visualizer->Events();
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](const std::string& event) { return event.compare(0, 8, "Message(") == 0; }),
              g_nThreads * steps / 100 * 2);
    EXPECT_EQ(visualizer->m_pLastLogger, parent.get());
    EXPECT_LE(observed.m_nMaxDepth.load(), g_nNestingBound);
}

TEST(LoggerThreads, ForcedUpdatesFromManyThreadsDoNotNestNotificationsWithoutBound)
{
    // Every forced child update reaches the parent's top layer, where it is
    // held back; the getter inside the parent's notification flushes it and
    // so causes a nested notification. Other threads keep feeding the
    // parent, so without a bound the nesting would grow with the run, the
    // more so with an output that takes its time.
    const int steps = 1500;
    auto parent = boost::make_shared<CLogger>("parent", 1.0, 1000.0);
    auto visualizer = boost::make_shared<CRecordingVisualizer>();
    SObserved observed;
    observed.m_oWork = std::chrono::microseconds(50);
    visualizer->m_fnOnProgress = [&](const boost::shared_ptr<CLogger>& logger, bool) { ReadInside(logger, observed); };
    parent->AddVisualizer(visualizer);
    std::vector<boost::shared_ptr<CLogger> > children;
    for (int i = 0; i < g_nThreads; ++i) {
        children.push_back(boost::make_shared<CLogger>("child", 1000.0 / g_nThreads, steps));
        parent->AddChildLogger(children.back());
    }
    std::vector<std::thread> workers;
    for (int i = 0; i < g_nThreads; ++i) {
        workers.emplace_back([&, i] {
            for (int step = 1; step <= steps; ++step)
                children[i]->SetProgress(step, true);
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    EXPECT_NEAR(parent->GetRelativeProgressValue(0), 1.0, 1e-9);
    EXPECT_EQ(observed.m_nBadValues.load(), 0);
    EXPECT_LE(observed.m_nMaxDepth.load(), g_nNestingBound);
    EXPECT_GE(visualizer->Count("Progress"), g_nThreads * steps);
    for (const auto& child : children)
        parent->RemoveChildLogger(child);
}
