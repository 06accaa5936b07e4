// Messages (line cutting, time stamps, verbosity mapping along a chain of
// loggers), the time-stamp text and the layer trace on standard error.
#include <gtest/gtest.h>

#include <chrono>
#include <iomanip>
#include <iostream>
#include <locale>
#include <stdexcept>
#include <thread>

#include <vidOderavev/Progress/TimeStamp.h>

#include "support/TemporaryDirectory.h"
#include "support/RecordingVisualizer.h"

using namespace Qz::Varnel::Progress;
using Test::Attach;
using Test::MakeLogger;
using Test::SChildLink;
using Test::TEvents;

namespace {

// Appends "name:line:level" to a log shared by several visualizers, to see
// the order across them.
class CNamedVisualizer : public Detail::CVisualizer
{
public:
    CNamedVisualizer(const std::string& name, TEvents& log) : m_sName(name), m_rLog(log) {}
    void ShowMessage(const std::string& text, _EVerbosityLevel level, const std::string&, const std::string&) override
    {
        m_rLog.push_back(m_sName + ":" + text + ":" + std::to_string(static_cast<int>(level)));
        if (text == m_sThrowOn)
            throw std::runtime_error("refused");
    }
    std::string m_sThrowOn;

private:
    std::string m_sName;
    TEvents& m_rLog;
};

std::string Now() { return Detail::FormatTimeStamp(boost::posix_time::second_clock::local_time()); }

// "YYYY-MM-DD HH:MM:SS" read between two clock readings: the text sorts like
// the time it shows.
void ExpectStampBetween(const std::string& stamp, const std::string& before, const std::string& after)
{
    const std::string shape = "dddd-dd-dd dd:dd:dd";
    ASSERT_EQ(stamp.size(), shape.size()) << stamp;
    for (std::string::size_type i = 0; i < shape.size(); ++i)
        EXPECT_TRUE(shape[i] == 'd' ? stamp[i] >= '0' && stamp[i] <= '9' : stamp[i] == shape[i]) << stamp;
    EXPECT_LE(before, stamp);
    EXPECT_LE(stamp, after);
}

} // namespace

TEST(LoggerMessage, LinesToEveryVisualizerInListOrder)
{
    auto logger = MakeLogger("root");
    auto visualizer = Attach(logger);
    logger->Message(VerbosityInfo, "a\n\nb\n", "task");
    logger->Message(VerbosityInfo, "");
    logger->Message(VerbosityInfo, "\n\n\n");
    logger->Message(VerbosityError, "\nfirst\r\nsecond \t", "");
    EXPECT_EQ(visualizer->Take(),
              TEvents({"Message 4|a|task", "Message 4|b|task", "Message 2|first\r|", "Message 2|second \t|"}));

    // Line by line to each visualizer; an exception stops the message.
    TEvents log;
    auto first = boost::make_shared<CNamedVisualizer>("first", log);
    auto second = boost::make_shared<CNamedVisualizer>("second", log);
    first->m_sThrowOn = "three";
    auto other = MakeLogger("root");
    other->AddVisualizer(first);
    other->AddVisualizer(second);
    EXPECT_THROW(other->Message(VerbosityWarning, "one\ntwo\nthree\nfour"), std::runtime_error);
    EXPECT_EQ(log, TEvents({"first:one:3", "second:one:3", "first:two:3", "second:two:3", "first:three:3"}));
    other->Message(VerbosityInfo, "five");
    EXPECT_EQ(log.back(), "second:five:4");
}

TEST(LoggerMessage, TimeStamps)
{
    // One stamp for all lines of a message.
    auto logger = MakeLogger("root");
    auto visualizer = Attach(logger);
    std::string text;
    for (int i = 0; i < 2000; ++i)
        text += "line " + std::to_string(i) + "\n";
    const std::string before = Now();
    logger->Message(VerbosityInfo, text);
    const std::string after = Now();
    const TEvents stamps = visualizer->TimeStamps();
    ASSERT_EQ(stamps.size(), 2000u);
    EXPECT_EQ(stamps, TEvents(2000, stamps.front()));
    ExpectStampBetween(stamps.front(), before, after);

    // Two threads over more than one second change: never a stale second.
    auto check = [&logger] {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1300);
        while (std::chrono::steady_clock::now() < end) {
            const std::string first = Now(), stamp = logger->GetTimeStamp(), last = Now();
            ExpectStampBetween(stamp, first, last);
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    };
    std::thread other(check);
    check();
    other.join();
    EXPECT_EQ(Detail::FormatTimeStamp(boost::posix_time::ptime(boost::gregorian::date(2026, 12, 5),
                                                               boost::posix_time::time_duration(3, 49, 11))),
              "2026-12-05 03:49:11");

    // A host's global locale with digit grouping changes no byte.
    struct SGrouping : std::numpunct<char>
    {
        std::string do_grouping() const override { return "\1"; }
        char do_thousands_sep() const override { return '\''; }
    };
    const std::locale saved = std::locale::global(std::locale(std::locale::classic(), new SGrouping));
    std::string stamp, first = Now();
    std::thread reader([&] { stamp = logger->GetTimeStamp(); });
    reader.join();
    std::locale::global(saved);
    ExpectStampBetween(stamp, first, Now());
}

TEST(LoggerMessage, NotificationLevelAndVerbosityOffsets)
{
    auto logger = MakeLogger("root");
    auto visualizer = Attach(logger);
    EXPECT_EQ(logger->GetNotificationLevel(), VerbosityInfo);
    EXPECT_EQ(logger->GetVerbosityOffset(), 0);
    for (auto level : {VerbosityLog, VerbosityTrace, VerbosityFatal, VerbosityInfo})
        logger->Message(level, "default");
    logger->SetNotificationLevel(VerbosityTrace);
    logger->Message(VerbosityTrace, "trace");
    logger->SetNotificationLevel(VerbosityNone);
    logger->Message(VerbosityFatal, "none");
    logger->SetNotificationLevel(VerbosityTrace);
    logger->SetVerbosityOffset(-10);
    logger->Message(VerbosityTrace, "zero");
    logger->SetVerbosityOffset(10);
    logger->Message(VerbosityInfo, "seven");
    EXPECT_EQ(visualizer->Take(), TEvents({"Message 1|default|", "Message 4|default|", "Message 7|trace|",
                                           "Message 0|zero|", "Message 7|seven|"}));

    // Offsets map the informational levels only, clamped to 0..7.
    struct SCase
    {
        int m_nOffset;
        int m_aMapped[10]; // for the levels 0 to 9
    };
    const SCase cases[] = {{0, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},   {-1, {0, 1, 2, 3, 3, 4, 5, 6, 8, 9}},
                           {2, {0, 1, 2, 3, 6, 7, 7, 7, 8, 9}},   {10, {0, 1, 2, 3, 7, 7, 7, 7, 8, 9}},
                           {-10, {0, 1, 2, 3, 0, 0, 0, 0, 8, 9}}, {-3, {0, 1, 2, 3, 1, 2, 3, 4, 8, 9}}};
    for (const SCase& c : cases) {
        auto mapped = MakeLogger("root");
        if (c.m_nOffset == 2) {
            mapped->IncreaseVerbosityOffset(1);
            mapped->IncreaseVerbosityOffset(1);
        } else if (c.m_nOffset == -3) {
            mapped->SetVerbosityOffset(2);
            mapped->IncreaseVerbosityOffset(-5);
        } else {
            mapped->SetVerbosityOffset(c.m_nOffset);
        }
        EXPECT_EQ(mapped->GetVerbosityOffset(), c.m_nOffset);
        for (int level = 0; level < 10; ++level)
            EXPECT_EQ(mapped->_GetMappedVerbosityLevel(static_cast<_EVerbosityLevel>(level)), c.m_aMapped[level])
                << "offset " << c.m_nOffset << ", level " << level;
    }
}

TEST(LoggerMessage, ChainOfLoggers)
{
    // The parent is served first, with its own mapping on top of the child's
    // and its own level filter.
    auto parent = MakeLogger("parent"), child = MakeLogger("child");
    SChildLink link(parent, child);
    parent->SetVerbosityOffset(1);
    child->SetVerbosityOffset(1);
    child->SetNotificationLevel(VerbosityTrace);
    TEvents log;
    auto parentVisualizer = boost::make_shared<CNamedVisualizer>("parent", log);
    auto childVisualizer = boost::make_shared<CNamedVisualizer>("child", log);
    parent->AddVisualizer(parentVisualizer);
    child->AddVisualizer(childVisualizer);
    child->Message(VerbosityWarning, "x\ny");
    child->Message(VerbosityInfo, "detail", "task 7"); // 5 for the child, 6 for the parent
    parent->SetNotificationLevel(VerbosityDebug);
    child->Message(VerbosityInfo, "fine");
    EXPECT_EQ(log, TEvents({"parent:x:3", "parent:y:3", "child:x:3", "child:y:3", "child:detail:5", "parent:fine:6",
                            "child:fine:5"}));
    // A child without visualizers still hands its messages on; a removed one
    // does not.
    log.clear();
    child->RemoveVisualizer(childVisualizer);
    child->Message(VerbosityWarning, "warn");
    parent->RemoveChildLogger(child);
    child->Message(VerbosityWarning, "alone");
    EXPECT_EQ(log, TEvents({"parent:warn:3"}));
}

TEST(LoggerTrace, PushAndPopLinesOnStandardError)
{
    auto logger = MakeLogger("root", 1.0, 100.0, 0.0, true);
    ::Test::CStderrRedirect capture;
    logger->Push("silent", 50.0, 10.0); // tracing off: no line, and the fixed text is inherited
    EXPECT_EQ(logger->GetText(), "root");
    logger->SetLayerTracing(true);
    logger->Push("first", 50.0, 10.0, 0.0, false, LayerClassStep);
    EXPECT_EQ(logger->GetText(), "first"); // traced layers keep their own texts
    logger->Push("second", 0.25, 1000000.0, 0.0, false, static_cast<ELayerClass>(7));
    // The host's stream state does not change the line.
    std::cerr << std::fixed << std::setprecision(2);
    logger->Push("third \"q\"", 1234567.0, 0.0001, 0.0, false, static_cast<ELayerClass>(-3));
    std::cerr.flags(std::ios::fmtflags(std::ios::skipws | std::ios::dec));
    std::cerr.precision(6);
    logger->Push("fourth", 0.5, 1e-05);
    for (int i = 0; i < 6; ++i)
        logger->Pop(); // the last one is refused: no line
    const std::string trace =
        "        Pushing layer \"first\" with parent quota: 50, and max value: 10, and class 0\n"
        "            Pushing layer \"second\" with parent quota: 0.25, and max value: 1e+06, and class 7\n"
        "                Pushing layer \"third \"q\"\" with parent quota: 1.23457e+06, and max value: 0.0001, and "
        "class -3\n"
        "                    Pushing layer \"fourth\" with parent quota: 0.5, and max value: 1e-05, and class 1\n"
        "                    Poping layer \"fourth\"\n"
        "                Poping layer \"third \"q\"\"\n"
        "            Poping layer \"second\"\n"
        "        Poping layer \"first\"\n"
        "    Poping layer \"root\"\n";
    EXPECT_EQ(capture.Text(), trace);
    logger->SetLayerTracing(false);
    logger->Push("quiet", 1.0, 1.0);
    logger->Pop();
    EXPECT_EQ(capture.Text(), trace);
}
