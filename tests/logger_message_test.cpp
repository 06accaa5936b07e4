// Messages (line cutting, time stamps, verbosity mapping along a chain of
// loggers), the time-stamp text and the layer trace on standard error.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

#include <vidOderavev/Diagnostics.h>
#include <vidOderavev/Libraries/Fileio/FileioUnix.h>
#include <vidOderavev/Progress/TimeStamp.h>

#include "support/TemporaryDirectory.h"
#include "support/RecordingVisualizer.h"

using namespace Qz::Varnel::Progress;
using namespace Test;
using Qz::Varnel::Fileio::CFileioError;

namespace {

// Appends "name:line:level" to a log shared by several visualizers, to see
// the order across them; with raise set every call throws a CFileioError
// named after it, as a file output on a full disk does.
class CNamedVisualizer : public Detail::CVisualizer
{
public:
    CNamedVisualizer(const std::string& name, TEvents& log, bool raise = false)
        : m_sName(name), m_rLog(log), m_bRaise(raise) {}
    void LoggerChanged(const boost::shared_ptr<CLogger>&) override { Raise(); }
    void TextChanged(const boost::shared_ptr<CLogger>&) override { Raise(); }
    void ProgressChanged(const boost::shared_ptr<CLogger>&, bool) override { Raise(); }
    void ShowMessage(const std::string& text, _EVerbosityLevel level, const std::string&, const std::string&) override
    {
        m_rLog.push_back(m_sName + ":" + text + ":" + std::to_string(static_cast<int>(level)));
        Raise();
    }

private:
    void Raise()
    {
        if (m_bRaise)
            throw CFileioError("file", 1, m_sName, ENOSPC, "");
    }
    std::string m_sName;
    TEvents& m_rLog;
    bool m_bRaise;
};

std::string Now() { return Detail::FormatTimeStamp(boost::posix_time::second_clock::local_time()); }


} // namespace

TEST(LoggerMessage, LinesStampsAndListOrder)
{
    EXPECT_EQ(Detail::FormatTimeStamp(boost::posix_time::ptime(boost::gregorian::date(2026, 12, 5),
                                                               boost::posix_time::time_duration(3, 49, 11))),
              "2026-12-05 03:49:11");
    // One stamp for all lines of a message.
    auto logger = MakeLogger("root");
    auto visualizer = Attach(logger);
    std::string text;
    for (int i = 0; i < 200; ++i)
        text += "line " + std::to_string(i) + "\n";
    const std::string before = Now();
    logger->Message(VerbosityInfo, text);
    const TEvents stamps = visualizer->TimeStamps();
    EXPECT_EQ(stamps, TEvents(200, stamps.front()));
    // Stamps sort like the times they show: each lies between two readings.
    const std::string stamp = logger->GetTimeStamp();
    EXPECT_LE(before, stamps.front());
    EXPECT_LE(stamps.front(), stamp);
    EXPECT_LE(stamp, Now());
    visualizer->Take();
    for (const char* message : {"a\n\nb\n", "", "\n\n\n"})
        logger->Message(VerbosityInfo, message, "task");
    logger->Message(VerbosityError, "\nfirst\r\nsecond \t", "");
    EXPECT_EQ(visualizer->Take(),
              TEvents({"Message 4|a|task", "Message 4|b|task", "Message 2|first\r|", "Message 2|second \t|"}));
    TEvents log;
    auto other = MakeLogger("root");
    other->AddVisualizer(boost::make_shared<CNamedVisualizer>("first", log));
    other->AddVisualizer(boost::make_shared<CNamedVisualizer>("second", log));
    other->Message(VerbosityWarning, "one\ntwo");
    EXPECT_EQ(log, TEvents({"first:one:3", "second:one:3", "first:two:3", "second:two:3"}));
}

// An output that raises keeps nothing from the others, and the first
// exception reaches the host once all were served; the change is made.
TEST(LoggerMessage, ARaisingOutputSilencesNoOtherAndTheFirstExceptionReachesTheHost)
{
    typedef std::function<void(const boost::shared_ptr<CLogger>&)> TCall;
    const std::vector<std::tuple<TCall, TEvents, int>> cases = {
        {[](const boost::shared_ptr<CLogger>& l) { l->Message(VerbosityInfo, "one\ntwo", "t"); },
         {"Message 4|one|t", "Message 4|two|t"}, 2},
        {[](const boost::shared_ptr<CLogger>& l) { l->Push("inner", 1.0, 10.0, 5.0); }, {"Layers 3", "Progress"}, 3},
        {[](const boost::shared_ptr<CLogger>& l) { l->Pop(); }, {"Progress!", "Layers 1"}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::get<1>(c).front());
        auto logger = MakeLogger("root", 1.0, 100.0);
        logger->Push("layer", 1.0, 100.0);
        TEvents log;
        auto recorder = boost::make_shared<CRecordingVisualizer>();
        logger->AddVisualizer(boost::make_shared<CNamedVisualizer>("first", log, true));
        logger->AddVisualizer(recorder);
        logger->AddVisualizer(boost::make_shared<CNamedVisualizer>("second", log, true));
        try {
            std::get<0>(c)(logger);
            ADD_FAILURE() << "no exception";
        } catch (const CFileioError& error) {
            EXPECT_EQ(error.GetDescription() + std::to_string(error.GetErrorCode()), "first" + std::to_string(ENOSPC));
        }
        EXPECT_EQ(recorder->Take(), std::get<1>(c));
        EXPECT_EQ(logger->GetNumberOfLayers(), std::get<2>(c));
    }
    // A parent whose output raises still lets the child's outputs have the message.
    auto parent = MakeLogger("parent"), child = MakeLogger("child");
    SChildLink link(parent, child);
    TEvents log;
    parent->AddVisualizer(boost::make_shared<CNamedVisualizer>("parent", log, true));
    auto recorder = Attach(child);
    EXPECT_THROW(child->Message(VerbosityInfo, "text"), CFileioError);
    EXPECT_EQ(recorder->Take(), TEvents({"Message 4|text|"}));
}

TEST(LoggerMessage, NotificationLevelAndVerbosityOffsets)
{
    // The default level lets INFO through, not LOG; NONE silences all.
    auto logger = MakeLogger("root");
    auto visualizer = Attach(logger);
    for (auto level : {VerbosityLog, VerbosityInfo})
        logger->Message(level, "default");
    logger->SetNotificationLevel(VerbosityNone);
    logger->Message(VerbosityFatal, "none");
    EXPECT_EQ(visualizer->Take(), TEvents({"Message 4|default|"}));
    // Offsets map the informational levels only, clamped to 0..7; -3 is set
    // as 2 then -5.
    const std::vector<std::pair<int, std::vector<int>>> cases = {
        {0, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},  {-1, {0, 1, 2, 3, 3, 4, 5, 6, 8, 9}},
        {10, {0, 1, 2, 3, 7, 7, 7, 7, 8, 9}}, {-10, {0, 1, 2, 3, 0, 0, 0, 0, 8, 9}},
        {-3, {0, 1, 2, 3, 1, 2, 3, 4, 8, 9}}};
    for (const auto& c : cases) {
        auto mapped = MakeLogger("root");
        mapped->SetVerbosityOffset(c.first == -3 ? 2 : c.first);
        if (c.first == -3)
            mapped->IncreaseVerbosityOffset(-5);
        EXPECT_EQ(mapped->GetVerbosityOffset(), c.first);
        for (int level = 0; level < 10; ++level)
            EXPECT_EQ(mapped->_GetMappedVerbosityLevel(static_cast<_EVerbosityLevel>(level)), c.second[level])
                << "offset " << c.first << ", level " << level;
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
    auto childVisualizer = boost::make_shared<CNamedVisualizer>("child", log);
    parent->AddVisualizer(boost::make_shared<CNamedVisualizer>("parent", log));
    child->AddVisualizer(childVisualizer);
    child->Message(VerbosityWarning, "x\ny");
    child->Message(VerbosityInfo, "detail", "task 7"); // 5 for the child, 6 for the parent
    parent->SetNotificationLevel(VerbosityDebug);
    child->Message(VerbosityInfo, "fine");
    // A child without visualizers still hands its messages on; a removed one does not.
    child->RemoveVisualizer(childVisualizer);
    child->Message(VerbosityWarning, "warn");
    parent->RemoveChildLogger(child);
    child->Message(VerbosityWarning, "alone");
    EXPECT_EQ(log, TEvents({"parent:x:3", "parent:y:3", "child:x:3", "child:y:3", "child:detail:5", "parent:fine:6",
                            "child:fine:5", "parent:warn:3"}));
}

TEST(LoggerTrace, PushAndPopLinesOnStandardError)
{
    auto logger = MakeLogger("root", 1.0, 100.0, 0.0, true);
    CStderrRedirect capture;
    logger->SetLayerTracing(true);
    logger->Push("first", 50.0, 10.0, 0.0, false, LayerClassStep);
    EXPECT_EQ(logger->GetText(), "first"); // traced layers keep their own texts
    logger->Push("second", 0.25, 1000000.0, 0.0, false, static_cast<ELayerClass>(7));
    logger->Push("third \"q\"", 1234567.0, 0.0001, 0.0, false, static_cast<ELayerClass>(-3));
    logger->Push("fourth", 0.5, 1e-05);
    for (int i = 0; i < 5; ++i)
        logger->Pop(); // the last one is refused: no line
    // While a sink is set, the library's diagnostics go there instead.
    std::string seen;
    const auto previous = Qz::Varnel::Detail::SetDiagnosticSink([&](const std::string& text) { seen += text; });
    logger->Push("sunk", 50.0, 10.0);
    Qz::Varnel::Detail::SetDiagnosticSink(previous);
    logger->Pop();
    EXPECT_EQ(seen, "    Pushing layer \"sunk\" with parent quota: 50, and max value: 10, and class 1\n");
    logger->SetLayerTracing(false);
    logger->Push("quiet", 1.0, 1.0);
    logger->Push("quieter", 1.0, 1.0); // a fixed text passes down through every layer
    EXPECT_EQ(logger->GetText(), "root");
    EXPECT_EQ(capture.Text(),
              "    Pushing layer \"first\" with parent quota: 50, and max value: 10, and class 0\n"
              "        Pushing layer \"second\" with parent quota: 0.25, and max value: 1e+06, and class 7\n"
              "            Pushing layer \"third \"q\"\" with parent quota: 1.23457e+06, and max value: 0.0001, and "
              "class -3\n"
              "                Pushing layer \"fourth\" with parent quota: 0.5, and max value: 1e-05, and class 1\n"
              "                Poping layer \"fourth\"\n"
              "            Poping layer \"third \"q\"\"\n"
              "        Poping layer \"second\"\n"
              "    Poping layer \"first\"\n"
              "    Poping layer \"sunk\"\n");
}
