// The base of every output: notes, the level filter, the progress throttle
// and the visualizer's lock.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <future>
#include <regex>
#include <stdexcept>
#include <thread>

#include <boost/thread/barrier.hpp>

#include "support/RecordingVisualizer.h"

using namespace Qz::Varnel::Progress;
using Test::MakeLogger;
using Test::TEvents;
namespace pt = boost::posix_time;

namespace {

// Records what the base hands to the hooks of a concrete output, as
// "level|text|task".
class CBaseRecorder : public Detail::CVisualizerBase
{
public:
    TEvents m_oMessages, m_oStamps;
    int m_nProgressCalls = 0;
    std::function<void()> m_fnOnProgress, m_fnOnMessage;

protected:
    void _ProgressChanged(const boost::shared_ptr<CLogger>&) override
    {
        ++m_nProgressCalls;
        if (m_fnOnProgress)
            m_fnOnProgress();
    }
    void _ShowMessage(const std::string& text, _EVerbosityLevel level, const std::string& timeStamp,
                      const std::string& taskId) override
    {
        m_oMessages.push_back(std::to_string(static_cast<int>(level)) + "|" + text + "|" + taskId);
        m_oStamps.push_back(timeStamp);
        if (m_fnOnMessage)
            m_fnOnMessage();
    }
};

const std::string g_sRuntime = "4\\|Total Runtime: \\d{2,}:\\d{2}:\\d{2}(\\.\\d{6})?s\\|";

} // namespace

TEST(VisualizerBase, NotesAndTheLevelFilter)
{
    auto visualizer = boost::make_shared<CBaseRecorder>();
    auto first = MakeLogger("first"), second = MakeLogger("second");
    visualizer->AddLogger(first);
    visualizer->AddLogger(second); // "Startup" for the first logger only
    visualizer->AddLogger(second); // twice: delivered twice
    second->Message(VerbosityInfo, "twice");
    visualizer->Clear(); // one run-time note; detaches from all
    first->Message(VerbosityFatal, "gone");
    second->Message(VerbosityFatal, "gone");
    visualizer->Clear();          // no loggers: nothing
    visualizer->AddLogger(first); // "Startup" again after Clear
    ASSERT_EQ(visualizer->m_oMessages.size(), 5u);
    EXPECT_EQ(TEvents(visualizer->m_oMessages.begin(), visualizer->m_oMessages.begin() + 3),
              (TEvents{"4|Startup|", "4|twice|", "4|twice|"}));
    EXPECT_TRUE(std::regex_match(visualizer->m_oMessages[3], std::regex(g_sRuntime))) << visualizer->m_oMessages[3];
    EXPECT_EQ(visualizer->m_oMessages[4], "4|Startup|");
    for (const std::string& stamp : visualizer->m_oStamps)
        EXPECT_TRUE(std::regex_match(stamp, std::regex("\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}"))) << stamp;
    visualizer->Clear();

    // The filter, set before attaching, applies to the notes too.
    auto filtered = boost::make_shared<CBaseRecorder>();
    first->SetNotificationLevel(VerbosityTrace);
    filtered->SetNotificationLevel(VerbosityWarning);
    filtered->AddLogger(first);
    for (int level = 0; level <= 7; ++level)
        filtered->ShowMessage("direct", static_cast<_EVerbosityLevel>(level), "ts", "");
    first->Message(VerbosityWarning, "warning", "task");
    first->Message(VerbosityInfo, "info");
    filtered->Clear();
    EXPECT_EQ(filtered->m_oMessages, (TEvents{"0|direct|", "1|direct|", "2|direct|", "3|direct|", "3|warning|task"}));

    // A visualizer that is not owned by a shared pointer cannot attach.
    CBaseRecorder unowned;
    EXPECT_THROW(unowned.AddLogger(first), boost::bad_weak_ptr);
    EXPECT_TRUE(unowned.m_oMessages.empty());
}

TEST(VisualizerBase, ThrottleOfTwoTenthsOfASecond)
{
    auto visualizer = boost::make_shared<CBaseRecorder>();
    auto logger = MakeLogger("root");
    // Leave the window that construction opened.
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    for (bool immediate : {false, true}) {
        const pt::ptime before = pt::microsec_clock::local_time();
        const int calls = visualizer->m_nProgressCalls;
        visualizer->ProgressChanged(logger, immediate); // either restarts the window
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        visualizer->ProgressChanged(logger, false);
        // Both calls read the clock between these two readings; only when
        // those lie within 0.2 s is the drop certain.
        if (pt::microsec_clock::local_time() - before <= pt::microseconds(200000)) {
            EXPECT_EQ(visualizer->m_nProgressCalls, calls + 1) << immediate;
        }
        visualizer->ProgressChanged(logger, true); // immediate: always
        EXPECT_GE(visualizer->m_nProgressCalls, calls + 2);
        // Well past the window a non-immediate notification gets through.
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        const int before_ = visualizer->m_nProgressCalls;
        visualizer->ProgressChanged(logger, false);
        EXPECT_EQ(visualizer->m_nProgressCalls, before_ + 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
}

TEST(VisualizerBase, TheLock)
{
    auto visualizer = boost::make_shared<CBaseRecorder>();
    auto logger = MakeLogger("root");
    // A hook may re-enter on the same thread.
    visualizer->m_fnOnProgress = [&] {
        if (visualizer->m_nProgressCalls == 1)
            visualizer->ProgressChanged(logger, true);
    };
    visualizer->ProgressChanged(logger, true);
    EXPECT_EQ(visualizer->m_nProgressCalls, 2);

    // A throwing hook releases the mutex.
    visualizer->m_fnOnMessage = [] { throw std::runtime_error("hook"); };
    EXPECT_THROW(visualizer->ShowMessage("a", VerbosityInfo, "ts", ""), std::runtime_error);
    visualizer->m_fnOnMessage = nullptr;
    auto other = std::async(std::launch::async, [&] { visualizer->ShowMessage("b", VerbosityInfo, "ts", ""); });
    ASSERT_EQ(other.wait_for(std::chrono::seconds(10)), std::future_status::ready);

    // The filter runs before the mutex is taken: a filtered message does not
    // wait for another thread that is inside a hook.
    visualizer->SetNotificationLevel(VerbosityInfo);
    std::promise<void> entered, release;
    std::shared_future<void> released = release.get_future().share();
    visualizer->m_fnOnMessage = [&] {
        entered.set_value();
        released.wait();
    };
    std::thread inside([&] { visualizer->ShowMessage("held", VerbosityError, "ts", ""); });
    entered.get_future().wait();
    auto filtered =
        std::async(std::launch::async, [&] { visualizer->ShowMessage("dropped", VerbosityTrace, "ts", ""); });
    const bool done = filtered.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    release.set_value();
    inside.join();
    EXPECT_TRUE(done);
    EXPECT_EQ(visualizer->m_oMessages, (TEvents{"4|a|", "4|b|", "2|held|"}));
}

// Two threads, each inside the hook of one of two visualizers of a logger,
// each led into the other visualizer (as a getter that passes held-back
// progress on does): neither may wait for the other.
TEST(VisualizerBase, NestedNotificationOfABusyVisualizerDoesNotDeadlock)
{
    auto logger = MakeLogger("root");
    auto first = boost::make_shared<CBaseRecorder>(), second = boost::make_shared<CBaseRecorder>();
    boost::barrier inside(2);
    // Only the outer calls meet and cross over.
    first->m_fnOnProgress = [&] {
        if (first->m_nProgressCalls == 1) {
            inside.wait();
            second->ProgressChanged(logger, true);
        }
    };
    second->m_fnOnProgress = [&] {
        if (second->m_nProgressCalls == 1) {
            inside.wait();
            first->ProgressChanged(logger, true);
        }
    };
    auto a = std::async(std::launch::async, [&] { first->ProgressChanged(logger, true); });
    auto b = std::async(std::launch::async, [&] { second->ProgressChanged(logger, true); });
    if (a.wait_for(std::chrono::seconds(20)) != std::future_status::ready ||
        b.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ADD_FAILURE() << "deadlock";
        std::_Exit(1); // the two threads can never be joined
    }
    // A crossing call that found its visualizer busy arrives all the same,
    // once its thread has left the outer hook.
    EXPECT_EQ(first->m_nProgressCalls, 2);
    EXPECT_EQ(second->m_nProgressCalls, 2);
}

// A visualizer whose only owners are its loggers survives its own Clear until
// the loggers list has been emptied (ASan checks the accesses).
TEST(VisualizerBase, ClearWhenLoggersHoldTheLastReference)
{
    auto first = MakeLogger("first"), second = MakeLogger("second");
    auto owned = boost::make_shared<CBaseRecorder>();
    owned->AddLogger(first);
    owned->AddLogger(second);
    CBaseRecorder* visualizer = owned.get();
    boost::weak_ptr<CBaseRecorder> watch = owned;
    owned.reset();
    ASSERT_FALSE(watch.expired());
    visualizer->Clear();
    EXPECT_TRUE(watch.expired());
}
