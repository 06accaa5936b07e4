#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/make_shared.hpp>
#include <boost/thread/barrier.hpp>
#include <boost/smart_ptr/bad_weak_ptr.hpp>

#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/Progress/Visualizer.h>

using namespace Qz::Varnel::Progress;
namespace pt = boost::posix_time;

namespace {

struct SMessage
{
    std::string m_sText;
    int m_nLevel;
    std::string m_sTimeStamp;
    std::string m_sTaskId;
};

// Records what the base hands to the hooks of a concrete output.
class CBaseRecorder : public Detail::CVisualizerBase
{
public:
    std::string Level(_EVerbosityLevel level) { return _GetLevel(level); }

    std::vector<SMessage> m_oMessages;
    int m_nProgressCalls = 0;
    std::function<void()> m_oOnProgress;
    std::function<void()> m_oOnMessage;

protected:
    void _ProgressChanged(const boost::shared_ptr<CLogger>&) override
    {
        ++m_nProgressCalls;
        if (m_oOnProgress)
            m_oOnProgress();
    }
    void _ShowMessage(const std::string& text, _EVerbosityLevel level, const std::string& timeStamp,
                      const std::string& taskId) override
    {
        m_oMessages.push_back({text, level, timeStamp, taskId});
        if (m_oOnMessage)
            m_oOnMessage();
    }
};

const std::regex g_oTimeStamp("\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}");

pt::ptime Now() { return pt::microsec_clock::local_time(); }

} // namespace

TEST(VisualizerBase, StartupNoteOnFirstLoggerOnly)
{
    auto visualizer = boost::make_shared<CBaseRecorder>();
    auto first = boost::make_shared<CLogger>("first");
    auto second = boost::make_shared<CLogger>("second");
    visualizer->AddLogger(first);
    ASSERT_EQ(visualizer->m_oMessages.size(), 1u);
    EXPECT_EQ(visualizer->m_oMessages[0].m_sText, "Startup");
    EXPECT_EQ(visualizer->m_oMessages[0].m_nLevel, 4);
    EXPECT_TRUE(std::regex_match(visualizer->m_oMessages[0].m_sTimeStamp, g_oTimeStamp));
    EXPECT_EQ(visualizer->m_oMessages[0].m_sTaskId, "");
    visualizer->AddLogger(second);
    EXPECT_EQ(visualizer->m_oMessages.size(), 1u);
    visualizer->Clear();
}

TEST(VisualizerBase, StartupAgainAfterClear)
{
    auto visualizer = boost::make_shared<CBaseRecorder>();
    auto logger = boost::make_shared<CLogger>("root");
    visualizer->AddLogger(logger);
    visualizer->Clear();
    visualizer->AddLogger(logger);
    ASSERT_EQ(visualizer->m_oMessages.size(), 3u);
    EXPECT_EQ(visualizer->m_oMessages[2].m_sText, "Startup");
    visualizer->Clear();
}

TEST(VisualizerBase, LevelFilterSetBeforeAttaching)
{
    auto visualizer = boost::make_shared<CBaseRecorder>();
    auto logger = boost::make_shared<CLogger>("root");
    logger->SetNotificationLevel(VerbosityTrace);
    visualizer->SetNotificationLevel(VerbosityWarning);
    visualizer->AddLogger(logger);
    EXPECT_TRUE(visualizer->m_oMessages.empty()); // "Startup" is INFO

    for (int level = 0; level <= 7; ++level)
        visualizer->ShowMessage("direct" + std::to_string(level), static_cast<_EVerbosityLevel>(level), "ts", "");
    logger->Message(VerbosityWarning, "warning", "task");
    logger->Message(VerbosityInfo, "info");
    visualizer->Clear(); // the run-time note is INFO too
    logger->Message(VerbosityFatal, "after clear");

    std::vector<std::string> texts;
    for (const auto& message : visualizer->m_oMessages)
        texts.push_back(message.m_sText);
    EXPECT_EQ(texts, (std::vector<std::string>{"direct0", "direct1", "direct2", "direct3", "warning"}));
    EXPECT_EQ(visualizer->m_oMessages.back().m_sTaskId, "task");
}

// The filter runs before the mutex is taken: a filtered message must not wait
// for another thread that is inside a hook.
TEST(VisualizerBase, FilteredMessageDoesNotWaitForTheMutex)
{
    auto visualizer = boost::make_shared<CBaseRecorder>();
    visualizer->SetNotificationLevel(VerbosityInfo);
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    visualizer->m_oOnMessage = [&] {
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
    filtered.wait();
    EXPECT_TRUE(done);
    ASSERT_EQ(visualizer->m_oMessages.size(), 1u);
    EXPECT_EQ(visualizer->m_oMessages[0].m_sText, "held");
}

TEST(VisualizerBase, ThrottleDropsNonImmediateWithinTheWindow)
{
    auto visualizer = boost::make_shared<CBaseRecorder>();
    auto logger = boost::make_shared<CLogger>("root");
    // Leave the window that construction opened.
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    const pt::ptime before = Now();
    visualizer->ProgressChanged(logger, false);
    EXPECT_EQ(visualizer->m_nProgressCalls, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    visualizer->ProgressChanged(logger, false);
    const pt::ptime after = Now();
    // Both calls read the clock between these two readings; only when those
    // lie within 0.2 s is the drop guaranteed (a stalled machine may stretch
    // the 0.1 s).
    if (after - before <= pt::microseconds(200000)) {
        EXPECT_EQ(visualizer->m_nProgressCalls, 1);
    }
    const int calls = visualizer->m_nProgressCalls;
    visualizer->ProgressChanged(logger, true);
    EXPECT_EQ(visualizer->m_nProgressCalls, calls + 1);
}

TEST(VisualizerBase, ImmediateNotificationRestartsTheWindow)
{
    auto visualizer = boost::make_shared<CBaseRecorder>();
    auto logger = boost::make_shared<CLogger>("root");
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    const pt::ptime before = Now();
    visualizer->ProgressChanged(logger, true);
    visualizer->ProgressChanged(logger, false);
    const pt::ptime after = Now();
    if (after - before <= pt::microseconds(200000)) {
        EXPECT_EQ(visualizer->m_nProgressCalls, 1);
    }
    // Well past the window, a non-immediate notification gets through.
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    const int calls = visualizer->m_nProgressCalls;
    visualizer->ProgressChanged(logger, false);
    EXPECT_EQ(visualizer->m_nProgressCalls, calls + 1);
}

TEST(VisualizerBase, HookMayReenterOnTheSameThread)
{
    auto visualizer = boost::make_shared<CBaseRecorder>();
    auto logger = boost::make_shared<CLogger>("root");
    visualizer->m_oOnProgress = [&] {
        if (visualizer->m_nProgressCalls == 1)
            visualizer->ProgressChanged(logger, true);
    };
    visualizer->ProgressChanged(logger, true);
    EXPECT_EQ(visualizer->m_nProgressCalls, 2);
}

// Two threads, each inside the hook of one of two visualizers of a logger,
// each led into the other visualizer (as a getter that passes held-back
// progress on does): neither may wait for the other.
TEST(VisualizerBase, NestedNotificationOfABusyVisualizerDoesNotDeadlock)
{
    auto logger = boost::make_shared<CLogger>("root");
    auto first = boost::make_shared<CBaseRecorder>();
    auto second = boost::make_shared<CBaseRecorder>();
    boost::barrier inside(2);
    // Only the outer calls meet and cross over; a crossing call that finds
    // the other visualizer already free gets through and ends there.
    first->m_oOnProgress = [&] {
        if (first->m_nProgressCalls == 1) {
            inside.wait();
            second->ProgressChanged(logger, true);
        }
    };
    second->m_oOnProgress = [&] {
        if (second->m_nProgressCalls == 1) {
            inside.wait();
            first->ProgressChanged(logger, true);
        }
    };
    auto a = std::async(std::launch::async, [&] { first->ProgressChanged(logger, true); });
    auto b = std::async(std::launch::async, [&] { second->ProgressChanged(logger, true); });
    const bool done = a.wait_for(std::chrono::seconds(20)) == std::future_status::ready &&
                      b.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    if (!done) {
        ADD_FAILURE() << "deadlock";
        std::_Exit(1); // the two threads can never be joined
    }
    // A crossing call that found its visualizer busy arrives all the same,
    // once its thread has left the outer hook.
    EXPECT_EQ(first->m_nProgressCalls, 2);
    EXPECT_EQ(second->m_nProgressCalls, 2);
}

TEST(VisualizerBase, ThrowingHookReleasesTheMutex)
{
    auto visualizer = boost::make_shared<CBaseRecorder>();
    visualizer->m_oOnMessage = [] { throw std::runtime_error("hook"); };
    EXPECT_THROW(visualizer->ShowMessage("a", VerbosityInfo, "ts", ""), std::runtime_error);
    visualizer->m_oOnMessage = nullptr;
    auto other = std::async(std::launch::async, [&] { visualizer->ShowMessage("b", VerbosityInfo, "ts", ""); });
    ASSERT_EQ(other.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(visualizer->m_oMessages.size(), 2u);
}

TEST(VisualizerBase, ClearWritesTheRuntimeNoteAndDetaches)
{
    auto visualizer = boost::make_shared<CBaseRecorder>();
    auto first = boost::make_shared<CLogger>("first");
    auto second = boost::make_shared<CLogger>("second");
    visualizer->AddLogger(first);
    visualizer->AddLogger(second);
    visualizer->Clear();
    ASSERT_EQ(visualizer->m_oMessages.size(), 2u);
    const SMessage& note = visualizer->m_oMessages[1];
    EXPECT_TRUE(std::regex_match(note.m_sText, std::regex("Total Runtime: \\d{2,}:\\d{2}:\\d{2}(\\.\\d{6})?s")))
        << note.m_sText;
    EXPECT_EQ(note.m_nLevel, 4);
    EXPECT_TRUE(std::regex_match(note.m_sTimeStamp, g_oTimeStamp));
    EXPECT_EQ(note.m_sTaskId, "");

    first->Message(VerbosityFatal, "gone");
    second->Message(VerbosityFatal, "gone");
    visualizer->Clear(); // no loggers: nothing
    EXPECT_EQ(visualizer->m_oMessages.size(), 2u);
}

TEST(VisualizerBase, SameLoggerTwiceDeliversTwiceAndClearRemovesBoth)
{
    auto visualizer = boost::make_shared<CBaseRecorder>();
    auto logger = boost::make_shared<CLogger>("root");
    visualizer->AddLogger(logger);
    visualizer->AddLogger(logger);
    logger->Message(VerbosityInfo, "twice");
    ASSERT_EQ(visualizer->m_oMessages.size(), 3u);
    EXPECT_EQ(visualizer->m_oMessages[1].m_sText, "twice");
    EXPECT_EQ(visualizer->m_oMessages[2].m_sText, "twice");
    visualizer->Clear();
    logger->Message(VerbosityInfo, "none");
    EXPECT_EQ(visualizer->m_oMessages.size(), 4u);
}

// A visualizer whose only owners are its loggers survives its own Clear until
// the loggers list has been emptied (ASan checks the accesses).
TEST(VisualizerBase, ClearWhenLoggersHoldTheLastReference)
{
    auto first = boost::make_shared<CLogger>("first");
    auto second = boost::make_shared<CLogger>("second");
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

TEST(VisualizerBase, UnownedVisualizerCannotAttach)
{
    CBaseRecorder visualizer;
    auto logger = boost::make_shared<CLogger>("root");
    EXPECT_THROW(visualizer.AddLogger(logger), boost::bad_weak_ptr);
    EXPECT_TRUE(visualizer.m_oMessages.empty());
}

TEST(VisualizerBase, LevelNames)
{
    auto visualizer = boost::make_shared<CBaseRecorder>();
    const char* const names[] = {"", "FATAL", "ERROR", "WARNING", "INFO", "LOG", "DEBUG", "TRACE", ""};
    for (int level = 0; level <= 8; ++level)
        EXPECT_EQ(visualizer->Level(static_cast<_EVerbosityLevel>(level)), names[level]) << level;
    EXPECT_EQ(visualizer->Level(static_cast<_EVerbosityLevel>(-1)), "");
}

TEST(VisualizerBase, DurationText)
{
    using Detail::FormatDuration;
    EXPECT_EQ(FormatDuration(pt::seconds(7)), "00:00:07");
    EXPECT_EQ(FormatDuration(pt::hours(100)), "100:00:00");
    EXPECT_EQ(FormatDuration(pt::seconds(65) + pt::milliseconds(250)), "00:01:05.250000");
    EXPECT_EQ(FormatDuration(pt::microseconds(1)), "00:00:00.000001");
    EXPECT_EQ(FormatDuration(pt::seconds(0)), "00:00:00");
    EXPECT_EQ(FormatDuration(-pt::seconds(61)), "-00:01:01");
    EXPECT_EQ(FormatDuration(pt::time_duration(pt::not_a_date_time)), "not-a-date-time");
    EXPECT_EQ(FormatDuration(pt::time_duration(pt::pos_infin)), "+infinity");
    EXPECT_EQ(FormatDuration(pt::time_duration(pt::neg_infin)), "-infinity");
}
