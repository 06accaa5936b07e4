// Shared state changed on one thread while another reports: ThreadSanitizer
// flags an unguarded access; the normal build checks what arrives.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <future>

#include <boost/make_shared.hpp>
#include <boost/thread/barrier.hpp>

#include <vidOderavev/ThreadSafety.h>

#include "support/RecordingVisualizer.h"

using namespace Qz::Varnel::Progress;
using Test::Attach;

namespace {

const int g_nRounds = 2000;

// Runs both functions at once and waits for them; a hang ends the program.
template <typename TFirst, typename TSecond> void RunTogether(TFirst first, TSecond second)
{
    auto a = std::async(std::launch::async, first);
    auto b = std::async(std::launch::async, second);
    if (a.wait_for(std::chrono::seconds(30)) != std::future_status::ready ||
        b.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        ADD_FAILURE() << "deadlock";
        std::_Exit(1); // the threads can never be joined
    }
    a.get();
    b.get();
}

// An output that reads its loggers inside its hooks, as the real ones do, and
// records which logger every progress call was for.
class CLoggerReader : public Detail::CVisualizerBase
{
public:
    std::function<void(const boost::shared_ptr<CLogger>&)> m_fnOnProgress;
    std::vector<const CLogger*> m_oProgressCalls;
    const CLogger* m_pFirstLogger = nullptr;

protected:
    void _ProgressChanged(const boost::shared_ptr<CLogger>& logger) override VIDODERAVEV_REQUIRES(m_oMutex)
    {
        m_oProgressCalls.push_back(logger.get());
        m_pFirstLogger = m_oLoggers.empty() ? nullptr : m_oLoggers.front().get();
        if (m_fnOnProgress)
            m_fnOnProgress(logger);
    }
};

} // namespace

TEST(Locking, VerbosityOffsetChangesWhileMessagesFlow)
{
    auto logger = boost::make_shared<CLogger>("root");
    auto visualizer = Attach(logger);
    logger->SetNotificationLevel(VerbosityTrace);
    RunTogether(
        [&] {
            for (int i = 0; i < g_nRounds; ++i) {
                logger->SetVerbosityOffset(i % 2);
                logger->IncreaseVerbosityOffset(1);
            }
        },
        [&] {
            for (int i = 0; i < g_nRounds; ++i)
                logger->Message(VerbosityInfo, "m");
        });
    // INFO moved by an offset of 0, 1 or 2, never by anything else.
    EXPECT_EQ(visualizer->Count("Message 4|m|") + visualizer->Count("Message 5|m|") + visualizer->Count("Message 6|m|"),
              g_nRounds);
}

TEST(Locking, ChildLinkedAndUnlinkedWhileMessagesAndProgressFlow)
{
    auto parent = boost::make_shared<CLogger>("parent", 1.0, 1000.0);
    auto child = boost::make_shared<CLogger>("child", 1.0, 1000.0);
    auto visualizer = Attach(parent);
    RunTogether(
        [&] {
            for (int i = 0; i < g_nRounds; ++i) {
                parent->AddChildLogger(child);
                parent->RemoveChildLogger(child);
            }
        },
        [&] {
            for (int i = 0; i < g_nRounds; ++i) {
                child->Message(VerbosityInfo, "m");
                child->SetProgress(i % 1000, true);
            }
        });
    EXPECT_FALSE(child->GetParent());
    // Whatever reached the parent arrived whole.
    for (const std::string& event : visualizer->Take())
        EXPECT_TRUE(event == "Message 4|m|" || event == "Progress") << event;
}

TEST(Locking, LoggersAddedAndClearedWhileAnotherThreadReports)
{
    auto logger = boost::make_shared<CLogger>("root");
    auto visualizer = boost::make_shared<CLoggerReader>();
    visualizer->SetNotificationLevel(VerbosityFatal); // no notes
    RunTogether(
        [&] {
            for (int i = 0; i < g_nRounds; ++i) {
                visualizer->AddLogger(logger);
                visualizer->Clear();
            }
        },
        [&] {
            for (int i = 0; i < g_nRounds; ++i)
                visualizer->ProgressChanged(logger, true);
        });
    EXPECT_EQ(visualizer->m_oProgressCalls.size(), static_cast<size_t>(g_nRounds));
}

// Outputs added and removed while another thread sends messages: each
// message reaches the output that stays, and each output removed is let go of
// once the messages reading it have ended.
TEST(Locking, OutputsReplacedWhileMessagesFlow)
{
    auto logger = boost::make_shared<CLogger>("root");
    auto kept = Attach(logger);
    std::vector<boost::weak_ptr<::Test::CRecordingVisualizer> > removed;
    RunTogether(
        [&] {
            for (int i = 0; i < g_nRounds; ++i) {
                auto visualizer = boost::make_shared<::Test::CRecordingVisualizer>();
                logger->AddVisualizer(visualizer);
                logger->RemoveVisualizer(visualizer);
                removed.push_back(visualizer);
            }
        },
        [&] {
            for (int i = 0; i < g_nRounds; ++i)
                logger->Message(VerbosityInfo, "m");
        });
    EXPECT_EQ(kept->Count("Message 4|m|"), g_nRounds);
    EXPECT_TRUE(std::all_of(removed.begin(), removed.end(), [](const auto& output) { return output.expired(); }));
}

// An output that drops the last reference to the logger while it shows the
// logger's message: the logger goes, its outputs only when the message ends.
TEST(Locking, AnOutputDropsTheLoggerWhileShowingItsMessage)
{
    struct CDropper : ::Test::CRecordingVisualizer
    {
        boost::shared_ptr<CLogger> m_pLogger;
        void ShowMessage(const std::string& text, _EVerbosityLevel level, const std::string& stamp,
                         const std::string& task) override
        {
            m_pLogger.reset();
            CRecordingVisualizer::ShowMessage(text, level, stamp, task);
        }
    };
    auto dropper = boost::make_shared<CDropper>();
    auto logger = boost::make_shared<CLogger>("root");
    logger->AddVisualizer(dropper);
    auto second = Attach(logger);
    CLogger& raw = *logger;
    dropper->m_pLogger.swap(logger);
    raw.Message(VerbosityInfo, "last");
    EXPECT_EQ(second->Take(), ::Test::TEvents{"Message 4|last|"});
}

// Two threads, each inside a hook of one of two visualizers, each reading a
// getter that passes held-back progress on to both visualizers: the one the
// other thread holds is told once that thread lets it go, not never. Only the
// outer call of each thread waits for the other thread.
TEST(Locking, ImmediateNotificationForABusyVisualizerIsDeliveredLater)
{
    auto first = boost::make_shared<CLoggerReader>();
    auto second = boost::make_shared<CLoggerReader>();
    auto firstLogger = boost::make_shared<CLogger>("first", 1.0, 100.0);
    auto secondLogger = boost::make_shared<CLogger>("second", 1.0, 100.0);
    for (const auto& visualizer : {first, second}) {
        visualizer->AddLogger(firstLogger);
        visualizer->AddLogger(secondLogger);
    }
    boost::barrier inside(2), read(2);
    auto crossOnce = [&](CLoggerReader& visualizer) {
        return [&](const boost::shared_ptr<CLogger>& logger) {
            if (visualizer.m_oProgressCalls.size() != 1)
                return;
            inside.wait();
            logger->IncrementProgress(); // held back: below 5 %
            logger->GetProgress(0);
            read.wait();
        };
    };
    first->m_fnOnProgress = crossOnce(*first);
    second->m_fnOnProgress = crossOnce(*second);
    RunTogether([&] { first->ProgressChanged(firstLogger, true); },
                [&] { second->ProgressChanged(secondLogger, true); });
    typedef std::vector<const CLogger*> TCalls;
    EXPECT_EQ(first->m_oProgressCalls, (TCalls{firstLogger.get(), firstLogger.get(), secondLogger.get()}));
    EXPECT_EQ(second->m_oProgressCalls, (TCalls{secondLogger.get(), secondLogger.get(), firstLogger.get()}));
    first->Clear();
    second->Clear();
}
