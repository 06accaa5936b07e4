// Messages (line cutting, time stamps, verbosity mapping along a chain of
// loggers), the time-stamp text and the layer trace on standard error.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <iomanip>
#include <iostream>
#include <locale>
#include <thread>

#include <vidOderavev/Diagnostics.h>
#include <vidOderavev/Internationalisation/TranslatorData.h>
#include <vidOderavev/Internationalisation/TranslatorFile.h>
#include <vidOderavev/Libraries/Fileio/FileioUnix.h>
#include <vidOderavev/Progress/TimeStamp.h>

#include "support/TemporaryDirectory.h"
#include "support/RecordingVisualizer.h"

using namespace Qz::Varnel::Progress;
using Test::Attach;
using Test::MakeLogger;
using Test::SChildLink;
using Test::TEvents;
using Qz::Varnel::Fileio::CFileioError;

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
    }

private:
    std::string m_sName;
    TEvents& m_rLog;
};

// Raises a CFileioError with its name as description from every call, as a
// file output on a full disk does.
class CRaisingOutput : public Detail::CVisualizer
{
public:
    explicit CRaisingOutput(const std::string& name) : m_sName(name) {}
    void LoggerChanged(const boost::shared_ptr<CLogger>&) override { Raise(); }
    void TextChanged(const boost::shared_ptr<CLogger>&) override { Raise(); }
    void ProgressChanged(const boost::shared_ptr<CLogger>&, bool) override { Raise(); }
    void ShowMessage(const std::string&, _EVerbosityLevel, const std::string&, const std::string&) override { Raise(); }

    int m_nCalls = 0;

private:
    void Raise()
    {
        ++m_nCalls;
        throw CFileioError("file", 1, m_sName, ENOSPC, "");
    }

    std::string m_sName;
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


    // Line by line to each visualizer.
    TEvents log;
    auto other = MakeLogger("root");
    other->AddVisualizer(boost::make_shared<CNamedVisualizer>("first", log));
    other->AddVisualizer(boost::make_shared<CNamedVisualizer>("second", log));
    other->Message(VerbosityWarning, "one\ntwo");
    EXPECT_EQ(log, TEvents({"first:one:3", "second:one:3", "first:two:3", "second:two:3"}));
}

// Every operation of the logger that tells its outputs: an output that
// raises (a log file on a full disk) keeps nothing from the others, and the
// first exception reaches the host unchanged once all were served; the
// logger's own change is made all the same.
TEST(LoggerMessage, ARaisingOutputSilencesNoOtherAndTheFirstExceptionReachesTheHost)
{
    struct SCase
    {
        const char* m_pName;
        std::function<void(const boost::shared_ptr<CLogger>&)> m_fnCall;
        TEvents m_oExpected;
        int m_nLayersAfter;
    };
    const std::vector<SCase> cases = {
        {"message", [](const boost::shared_ptr<CLogger>& l) { l->Message(VerbosityInfo, "one\ntwo", "t"); },
         {"Message 4|one|t", "Message 4|two|t"}, 2},
        {"push", [](const boost::shared_ptr<CLogger>& l) { l->Push("inner", 1.0, 10.0, 5.0); },
         {"Layers 3", "Progress"}, 3},
        {"pop", [](const boost::shared_ptr<CLogger>& l) { l->Pop(); }, {"Progress!", "Layers 1"}, 1},
        {"text", [](const boost::shared_ptr<CLogger>& l) { l->SetText("new"); }, {"Text"}, 2},
        {"progress", [](const boost::shared_ptr<CLogger>& l) { l->SetProgress(50.0); }, {"Progress"}, 2},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.m_pName);
        auto logger = MakeLogger("root", 1.0, 100.0);
        logger->Push("layer", 1.0, 100.0);
        auto first = boost::make_shared<CRaisingOutput>("first");
        auto recorder = boost::make_shared<::Test::CRecordingVisualizer>();
        auto second = boost::make_shared<CRaisingOutput>("second");
        for (const boost::shared_ptr<Detail::CVisualizer>& visualizer :
             std::vector<boost::shared_ptr<Detail::CVisualizer>>{first, recorder, second})
            logger->AddVisualizer(visualizer);
        try {
            c.m_fnCall(logger);
            ADD_FAILURE() << "no exception";
        } catch (const CFileioError& error) {
            EXPECT_EQ(error.GetDescription(), "first");
            EXPECT_EQ(error.GetErrorCode(), ENOSPC);
        }
        EXPECT_EQ(recorder->Take(), c.m_oExpected);
        EXPECT_EQ(second->m_nCalls, static_cast<int>(c.m_oExpected.size()));
        EXPECT_EQ(logger->GetNumberOfLayers(), c.m_nLayersAfter);
    }

    // A parent whose output raises still lets the child's outputs have the message.
    auto parent = MakeLogger("parent"), child = MakeLogger("child");
    SChildLink link(parent, child);
    parent->AddVisualizer(boost::make_shared<CRaisingOutput>("parent"));
    auto recorder = Attach(child);
    EXPECT_THROW(child->Message(VerbosityInfo, "text"), CFileioError);
    EXPECT_EQ(recorder->Take(), TEvents({"Message 4|text|"}));
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

TEST(LoggerTrace, DiagnosticsGoToTheSinkWhileOneIsSet)
{
    ::Test::CTemporaryDirectory dir;
    ::Test::WriteTextFile(dir / "bad.trl", "TF(0002)");
    auto logger = MakeLogger("root", 1.0, 100.0);
    logger->SetLayerTracing(true);
    std::string seen;
    ::Test::CStderrRedirect capture;
    const auto previous = Qz::Varnel::Detail::SetDiagnosticSink([&](const std::string& text) { seen += text; });
    logger->Push("layer", 50.0, 10.0);
    Qz::Varnel::Internationalisation::CTranslatorData table;
    const bool read = Qz::Varnel::Internationalisation::CTranslatorFile(dir / "bad.trl").Read(table);
    Qz::Varnel::Detail::SetDiagnosticSink(previous);
    logger->Pop();
    EXPECT_FALSE(read);
    EXPECT_EQ(seen, "    Pushing layer \"layer\" with parent quota: 50, and max value: 10, and class 1\n"
                    "Invalid file version (TF(0001) expected)\n");
    EXPECT_EQ(capture.Text(), "    Poping layer \"layer\"\n");
}
