// The base of every output: notes, the level filter, the progress throttle
// and the visualizer's lock.
#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <stdexcept>
#include <thread>

#include "support/RecordingVisualizer.h"

using namespace Qz::Varnel::Progress;
using Test::MakeLogger;
using Test::TEvents;

namespace {

// Records what the base hands to the hooks, as "level|text|task".
class CBaseRecorder : public Detail::CVisualizerBase
{
public:
    TEvents m_oMessages;
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
        const bool stamped = std::regex_match(timeStamp, std::regex("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d"));
        m_oMessages.push_back(std::to_string(level) + "|" + text + "|" + taskId + (stamped ? "" : "|" + timeStamp));
        if (m_fnOnMessage)
            m_fnOnMessage();
    }
};

} // namespace

TEST(VisualizerBase, NotesAndTheLevelFilter)
{
    auto visualizer = boost::make_shared<CBaseRecorder>();
    auto first = MakeLogger("first"), second = MakeLogger("second");
    visualizer->AddLogger(first);
    visualizer->AddLogger(second); // no second "Startup"
    second->Message(VerbosityInfo, "once");
    visualizer->Clear(); // one run-time note, detached from all
    second->Message(VerbosityFatal, "gone");
    visualizer->AddLogger(first); // "Startup" again
    visualizer->Clear();
    TEvents& seen = visualizer->m_oMessages;
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_TRUE(std::regex_match(seen[2], std::regex("4\\|Total Runtime: \\d{2,}:\\d\\d:\\d\\d(\\.\\d{6})?s\\|")));
    seen[2] = seen[4] = "runtime";
    EXPECT_EQ(seen, (TEvents{"4|Startup|", "4|once|", "runtime", "4|Startup|", "runtime"}));

    // The filter, set before attaching, applies to the notes too.
    auto filtered = boost::make_shared<CBaseRecorder>();
    filtered->SetNotificationLevel(VerbosityWarning);
    filtered->AddLogger(first);
    for (int level = 0; level <= 7; ++level)
        filtered->ShowMessage("direct", static_cast<_EVerbosityLevel>(level), "ts", "");
    first->Message(VerbosityWarning, "warning", "task");
    first->Message(VerbosityInfo, "info");
    filtered->Clear();
    EXPECT_EQ(filtered->m_oMessages,
              (TEvents{"0|direct||ts", "1|direct||ts", "2|direct||ts", "3|direct||ts", "3|warning|task"}));
}

TEST(VisualizerBase, ThrottleOfTwoTenthsOfASecond)
{
    namespace pt = boost::posix_time;
    // A drop is certain only when the calls lay within 0.2 s of the window's start.
    pt::ptime start;
    auto within = [&] { return pt::microsec_clock::local_time() - start <= pt::microseconds(200000); };
    auto visualizer = boost::make_shared<CBaseRecorder>();
    auto logger = MakeLogger("root");
    int& calls = visualizer->m_nProgressCalls;
    for (bool immediate : {false, true}) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        const int before = calls;
        start = pt::microsec_clock::local_time();
        visualizer->ProgressChanged(logger, immediate); // either restarts the window
        EXPECT_EQ(calls, before + 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        visualizer->ProgressChanged(logger, false);
        if (within()) {
            EXPECT_EQ(calls, before + 1);
        }
        const int now = calls;
        visualizer->ProgressChanged(logger, true);
        EXPECT_EQ(calls, now + 1);
    }
}

TEST(VisualizerBase, TheLockIsRecursiveAndReleasedByAThrowingHook)
{
    auto visualizer = boost::make_shared<CBaseRecorder>();
    auto logger = MakeLogger("root");
    visualizer->m_fnOnProgress = [&] {
        if (visualizer->m_nProgressCalls == 1)
            visualizer->ProgressChanged(logger, true);
    };
    visualizer->ProgressChanged(logger, true);
    EXPECT_EQ(visualizer->m_nProgressCalls, 2);
    visualizer->m_fnOnMessage = [] { throw std::runtime_error("hook"); };
    EXPECT_THROW(visualizer->ShowMessage("a", VerbosityInfo, "ts", ""), std::runtime_error);
    visualizer->m_fnOnMessage = nullptr;
    std::thread([&] { visualizer->ShowMessage("b", VerbosityInfo, "ts", ""); }).join();
    EXPECT_EQ(visualizer->m_oMessages, (TEvents{"4|a||ts", "4|b||ts"}));
}
