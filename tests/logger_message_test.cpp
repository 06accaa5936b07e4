// Messages (line cutting, time stamps, verbosity mapping along a chain of
// loggers), the time-stamp text and the layer trace on standard error.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <locale>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/make_shared.hpp>

#include <vidOderavev/Diagnostics.h>
#include <vidOderavev/Internationalisation/TranslatorData.h>
#include <vidOderavev/Internationalisation/TranslatorFile.h>
#include <vidOderavev/Libraries/Fileio/FileioUnix.h>
#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/Progress/TimeStamp.h>

#include "support/RecordingVisualizer.h"
#include "support/TemporaryDirectory.h"

using namespace Qz::Varnel::Progress;
using Test::Attach;
using Test::CChildLink;
using Qz::Varnel::Fileio::CFileioError;
using Test::CRecordingVisualizer;
using Test::CTemporaryDirectory;
using Test::WriteTextFile;

namespace {

typedef std::vector<std::string> TEvents;

// Appends "name:line" to a log shared by several visualizers, to see the
// order across them.
class CNamedVisualizer : public Detail::CVisualizer
{
public:
    CNamedVisualizer(const std::string& name, std::vector<std::string>& log) : m_sName(name), m_rLog(log) {}
    void ShowMessage(const std::string& text, _EVerbosityLevel level, const std::string&,
                     const std::string&) override
    {
        m_rLog.push_back(m_sName + ":" + text + ":" + std::to_string(static_cast<int>(level)));
    }

private:
    std::string m_sName;
    std::vector<std::string>& m_rLog;
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

// Everything written to file descriptor 2 while the object lives.
class CStderrCapture
{
public:
    CStderrCapture()
    {
        std::cerr.flush();
        std::fflush(stderr);
        char name[] = "/tmp/logger_trace_XXXXXX";
        m_nFile = mkstemp(name);
        m_sName = name;
        m_nSaved = dup(2);
        dup2(m_nFile, 2);
    }
    ~CStderrCapture()
    {
        Stop();
        close(m_nFile);
        unlink(m_sName.c_str());
    }
    std::string Stop()
    {
        if (m_nSaved >= 0) {
            std::cerr.flush();
            std::fflush(stderr);
            dup2(m_nSaved, 2);
            close(m_nSaved);
            m_nSaved = -1;
        }
        std::ifstream in(m_sName, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    int m_nFile;
    int m_nSaved;
    std::string m_sName;
};

std::string Stamp(const boost::posix_time::ptime& time) { return Detail::FormatTimeStamp(time); }

// "YYYY-MM-DD HH:MM:SS", digits and separators in place.
bool IsStampShaped(const std::string& stamp)
{
    const std::string shape = "dddd-dd-dd dd:dd:dd";
    if (stamp.size() != shape.size())
        return false;
    for (std::string::size_type i = 0; i < shape.size(); ++i)
        if (shape[i] == 'd' ? (stamp[i] < '0' || stamp[i] > '9') : stamp[i] != shape[i])
            return false;
    return true;
}

// The time stamp must lie between the local times read just before and just
// after it; the text sorts like the time it shows.
void ExpectStampBetween(const std::string& stamp, const std::string& before, const std::string& after)
{
    EXPECT_TRUE(IsStampShaped(stamp)) << stamp;
    EXPECT_LE(before, stamp);
    EXPECT_LE(stamp, after);
}

} // namespace

TEST(LoggerMessage, LinesAreCutAtLineFeedsAndEmptyLinesSkipped)
{
    auto logger = boost::make_shared<CLogger>("root");
    auto visualizer = Attach(logger);
    logger->Message(VerbosityInfo, "a\n\nb\n", "task");
    EXPECT_EQ(visualizer->Events(), TEvents({"Message(4|a|task)", "Message(4|b|task)"}));
    visualizer->Reset();
    logger->Message(VerbosityInfo, "");
    logger->Message(VerbosityInfo, "\n\n\n");
    EXPECT_TRUE(visualizer->Events().empty());
    logger->Message(VerbosityError, "\nfirst\r\nsecond \t", "");
    EXPECT_EQ(visualizer->Events(), TEvents({"Message(2|first\r|)", "Message(2|second \t|)"}));
}

TEST(LoggerMessage, LineByLineToEveryVisualizerInListOrder)
{
    auto logger = boost::make_shared<CLogger>("root");
    std::vector<std::string> log;
    auto first = boost::make_shared<CNamedVisualizer>("first", log);
    auto second = boost::make_shared<CNamedVisualizer>("second", log);
    logger->AddVisualizer(first);
    logger->AddVisualizer(second);
    logger->Message(VerbosityWarning, "one\ntwo");
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
         {"Message(4|one|t)", "Message(4|two|t)"}, 2},
        {"push", [](const boost::shared_ptr<CLogger>& l) { l->Push("inner", 1.0, 10.0, 5.0); },
         {"LoggerChanged", "Progress"}, 3},
        {"pop", [](const boost::shared_ptr<CLogger>& l) { l->Pop(); }, {"Progress(immediate)", "LoggerChanged"}, 1},
        {"text", [](const boost::shared_ptr<CLogger>& l) { l->SetText("new"); }, {"TextChanged"}, 2},
        {"progress", [](const boost::shared_ptr<CLogger>& l) { l->SetProgress(50.0); }, {"Progress"}, 2},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.m_pName);
        auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
        logger->Push("layer", 1.0, 100.0);
        auto first = boost::make_shared<CRaisingOutput>("first");
        auto recorder = boost::make_shared<CRecordingVisualizer>();
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
        EXPECT_EQ(recorder->Events(), c.m_oExpected);
        EXPECT_EQ(second->m_nCalls, static_cast<int>(c.m_oExpected.size()));
        EXPECT_EQ(logger->GetNumberOfLayers(), c.m_nLayersAfter);
    }
}

// A parent whose output raises still lets the child's outputs have the message.
TEST(LoggerMessage, ARaisingOutputOfTheParentSilencesNoneOfTheChild)
{
    auto parent = boost::make_shared<CLogger>("parent");
    auto child = boost::make_shared<CLogger>("child");
    CChildLink link(parent, child);
    parent->AddVisualizer(boost::make_shared<CRaisingOutput>("parent"));
    auto recorder = Attach(child);
    EXPECT_THROW(child->Message(VerbosityInfo, "text"), CFileioError);
    EXPECT_EQ(recorder->Events(), TEvents({"Message(4|text|)"}));
}

TEST(LoggerMessage, OneTimeStampPerMessage)
{
    auto logger = boost::make_shared<CLogger>("root");
    auto visualizer = Attach(logger);
    std::string text;
    for (int i = 0; i < 2000; ++i)
        text += "line " + std::to_string(i) + "\n";
    const std::string before = Stamp(boost::posix_time::second_clock::local_time());
    logger->Message(VerbosityInfo, text);
    const std::string after = Stamp(boost::posix_time::second_clock::local_time());
    const std::vector<std::string> stamps = visualizer->TimeStamps();
    ASSERT_EQ(stamps.size(), 2000u);
    for (const std::string& stamp : stamps)
        EXPECT_EQ(stamp, stamps.front());
    ExpectStampBetween(stamps.front(), before, after);
}

TEST(LoggerMessage, TimeStampIsTheLocalTimeFormattedByTheFacet)
{
    // Several threads over more than one second change: each must always
    // show the current second, never a stale one.
    auto logger = boost::make_shared<CLogger>("root");
    auto check = [&logger] {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1300);
        while (std::chrono::steady_clock::now() < end) {
            const std::string before = Stamp(boost::posix_time::second_clock::local_time());
            const std::string stamp = logger->GetTimeStamp();
            const std::string after = Stamp(boost::posix_time::second_clock::local_time());
            ExpectStampBetween(stamp, before, after);
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    };
    std::thread other(check);
    check();
    other.join();
    EXPECT_EQ(Stamp(boost::posix_time::ptime(boost::gregorian::date(2026, 12, 5),
                                             boost::posix_time::time_duration(3, 49, 11))),
              "2026-12-05 03:49:11");
    EXPECT_EQ(logger->_GetTimeStamp().size(), 19u);
}

TEST(LoggerMessage, TimeStampIgnoresTheGlobalLocale)
{
    // A host that installs a global locale with digit grouping must not
    // change the bytes; a new thread builds its text afresh.
    struct SGrouping : std::numpunct<char>
    {
        std::string do_grouping() const override { return "\1"; }
        char do_thousands_sep() const override { return '\''; }
    };
    const std::locale saved = std::locale::global(std::locale(std::locale::classic(), new SGrouping));
    auto logger = boost::make_shared<CLogger>("root");
    std::string stamp;
    std::thread reader([&] { stamp = logger->GetTimeStamp(); });
    reader.join();
    std::locale::global(saved);
    EXPECT_TRUE(IsStampShaped(stamp)) << stamp;
}

TEST(LoggerMessage, NotificationLevelFilters)
{
    auto logger = boost::make_shared<CLogger>("root");
    auto visualizer = Attach(logger);
    EXPECT_EQ(logger->GetNotificationLevel(), VerbosityInfo);
    logger->Message(VerbosityLog, "log");
    logger->Message(VerbosityTrace, "trace");
    EXPECT_TRUE(visualizer->Events().empty());
    logger->Message(VerbosityFatal, "fatal");
    logger->Message(VerbosityInfo, "info");
    logger->SetNotificationLevel(VerbosityTrace);
    EXPECT_EQ(logger->GetNotificationLevel(), VerbosityTrace);
    logger->Message(VerbosityTrace, "trace");
    logger->SetNotificationLevel(VerbosityNone);
    logger->Message(VerbosityFatal, "fatal");
    EXPECT_EQ(visualizer->Events(), TEvents({"Message(1|fatal|)", "Message(4|info|)", "Message(7|trace|)"}));
}

TEST(LoggerMessage, OffsetsMapInformationalLevelsOnly)
{
    auto logger = boost::make_shared<CLogger>("root");
    auto visualizer = Attach(logger);
    logger->Message(VerbosityLog, "not yet");
    logger->SetVerbosityOffset(-1);
    EXPECT_EQ(logger->GetVerbosityOffset(), -1);
    logger->Message(VerbosityLog, "now");
    EXPECT_EQ(visualizer->Events(), TEvents({"Message(4|now|)"}));

    for (int offset : {-10, -1, 1, 10}) {
        logger->SetVerbosityOffset(offset);
        for (int level = 1; level <= 3; ++level) {
            const _EVerbosityLevel l = static_cast<_EVerbosityLevel>(level);
            EXPECT_EQ(logger->_GetMappedVerbosityLevel(l), l) << offset;
        }
    }
    logger->SetVerbosityOffset(10);
    EXPECT_EQ(logger->_GetMappedVerbosityLevel(VerbosityInfo), VerbosityTrace);
    logger->SetVerbosityOffset(-10);
    EXPECT_EQ(logger->_GetMappedVerbosityLevel(VerbosityTrace), VerbosityNone);
    EXPECT_EQ(logger->_GetMappedVerbosityLevel(VerbosityInfo), VerbosityNone);
    logger->SetVerbosityOffset(2);
    EXPECT_EQ(logger->_GetMappedVerbosityLevel(VerbosityInfo), VerbosityDebug);
    EXPECT_EQ(logger->_GetMappedVerbosityLevel(VerbosityDebug), VerbosityTrace);
    // Levels without an entry are left alone.
    EXPECT_EQ(logger->_GetMappedVerbosityLevel(VerbosityNone), VerbosityNone);
    EXPECT_EQ(logger->_GetMappedVerbosityLevel(static_cast<_EVerbosityLevel>(9)), 9);

    visualizer->Reset();
    logger->SetNotificationLevel(VerbosityTrace);
    logger->SetVerbosityOffset(-10);
    logger->Message(VerbosityTrace, "zero");
    logger->SetVerbosityOffset(10);
    logger->Message(VerbosityInfo, "seven");
    EXPECT_EQ(visualizer->Events(), TEvents({"Message(0|zero|)", "Message(7|seven|)"}));
}

TEST(LoggerMessage, IncreasingOffsetsAddsUp)
{
    auto fresh = boost::make_shared<CLogger>("root");
    EXPECT_EQ(fresh->GetVerbosityOffset(), 0);
    fresh->IncreaseVerbosityOffset(1);
    fresh->IncreaseVerbosityOffset(1);
    EXPECT_EQ(fresh->GetVerbosityOffset(), 2);
    auto set = boost::make_shared<CLogger>("root");
    set->SetVerbosityOffset(2);
    for (int level = 0; level <= 8; ++level) {
        const _EVerbosityLevel l = static_cast<_EVerbosityLevel>(level);
        EXPECT_EQ(fresh->_GetMappedVerbosityLevel(l), set->_GetMappedVerbosityLevel(l)) << level;
    }
    set->IncreaseVerbosityOffset(-5);
    EXPECT_EQ(set->GetVerbosityOffset(), -3);
    EXPECT_EQ(set->_GetMappedVerbosityLevel(VerbosityTrace), VerbosityInfo);
}

TEST(LoggerMessage, OffsetsAddUpAlongAChainOfLoggers)
{
    auto parent = boost::make_shared<CLogger>("parent");
    auto child = boost::make_shared<CLogger>("child");
    const CChildLink link(parent, child);
    parent->SetVerbosityOffset(1);
    child->SetVerbosityOffset(1);
    parent->SetNotificationLevel(VerbosityTrace);
    child->SetNotificationLevel(VerbosityTrace);
    std::vector<std::string> log;
    auto parentVisualizer = boost::make_shared<CNamedVisualizer>("parent", log);
    auto childVisualizer = boost::make_shared<CNamedVisualizer>("child", log);
    parent->AddVisualizer(parentVisualizer);
    child->AddVisualizer(childVisualizer);
    child->Message(VerbosityInfo, "x\ny");
    // The parent is served first, with its own mapping on top of the child's.
    EXPECT_EQ(log, TEvents({"parent:x:6", "parent:y:6", "child:x:5", "child:y:5"}));
}

TEST(LoggerMessage, ParentFiltersByItsOwnLevel)
{
    auto parent = boost::make_shared<CLogger>("parent");
    auto child = boost::make_shared<CLogger>("child");
    parent->AddChildLogger(child);
    auto parentVisualizer = Attach(parent);
    auto childVisualizer = Attach(child);
    parent->SetNotificationLevel(VerbosityDebug);
    child->Message(VerbosityLog, "detail", "task 7");
    EXPECT_EQ(parentVisualizer->Events(), TEvents({"Message(5|detail|task 7)"}));
    EXPECT_TRUE(childVisualizer->Events().empty());
    child->Message(VerbosityTrace, "too fine");
    EXPECT_EQ(parentVisualizer->Events().size(), 1u);

    // A child without visualizers still hands its messages on.
    child->RemoveVisualizer(childVisualizer);
    child->Message(VerbosityWarning, "warn");
    EXPECT_EQ(parentVisualizer->Events().back(), "Message(3|warn|)");
    // After removal the former parent hears nothing.
    parent->RemoveChildLogger(child);
    child->Message(VerbosityWarning, "alone");
    EXPECT_EQ(parentVisualizer->Events().size(), 2u);
}

TEST(LoggerTrace, PushAndPopLinesWithIndentation)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    logger->SetLayerTracing(true);
    CStderrCapture capture;
    logger->Push("first", 50.0, 10.0, 0.0, false, LayerClassStep);
    logger->Push("second", 0.25, 1000000.0, 0.0, false, static_cast<ELayerClass>(7));
    logger->Push("third \"q\"", 1234567.0, 0.0001, 0.0, false, static_cast<ELayerClass>(-3));
    logger->Pop();
    logger->Pop();
    logger->Pop();
    logger->Pop(); // refused: no line
    const std::string trace = capture.Stop();
    EXPECT_EQ(trace, "    Pushing layer \"first\" with parent quota: 50, and max value: 10, and class 0\n"
                     "        Pushing layer \"second\" with parent quota: 0.25, and max value: 1e+06, and class 7\n"
                     "            Pushing layer \"third \"q\"\" with parent quota: 1.23457e+06, and max value: "
                     "0.0001, and class -3\n"
                     "            Poping layer \"third \"q\"\"\n"
                     "        Poping layer \"second\"\n"
                     "    Poping layer \"first\"\n");
}

TEST(LoggerTrace, NothingWhileTracingIsOff)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    CStderrCapture capture;
    logger->Push("first", 50.0, 10.0);
    logger->Pop();
    logger->SetLayerTracing(true);
    logger->SetLayerTracing(false);
    logger->Push("second", 50.0, 10.0);
    logger->Pop();
    EXPECT_EQ(capture.Stop(), "");
}

TEST(LoggerTrace, StreamStateOfTheHostDoesNotChangeTheLine)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    logger->SetLayerTracing(true);
    CStderrCapture capture;
    const std::ios::fmtflags flags = std::cerr.flags();
    const std::streamsize precision = std::cerr.precision();
    std::cerr << std::fixed << std::setprecision(2);
    logger->Push("layer", 0.5, 1e-05);
    std::cerr.flags(flags);
    std::cerr.precision(precision);
    logger->Pop();
    EXPECT_EQ(capture.Stop(), "    Pushing layer \"layer\" with parent quota: 0.5, and max value: 1e-05, and class 1\n"
                              "    Poping layer \"layer\"\n");
}

TEST(LoggerTrace, DiagnosticsGoToTheSinkWhileOneIsSet)
{
    CTemporaryDirectory dir;
    WriteTextFile(dir / "bad.trl", "TF(0002)");
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    logger->SetLayerTracing(true);
    std::string seen;
    CStderrCapture capture;
    const auto previous = Qz::Varnel::Detail::SetDiagnosticSink([&](const std::string& text) { seen += text; });
    logger->Push("layer", 50.0, 10.0);
    Qz::Varnel::Internationalisation::CTranslatorData table;
    const bool read = Qz::Varnel::Internationalisation::CTranslatorFile(dir / "bad.trl").Read(table);
    Qz::Varnel::Detail::SetDiagnosticSink(previous);
    logger->Pop();
    EXPECT_FALSE(read);
    EXPECT_EQ(seen, "    Pushing layer \"layer\" with parent quota: 50, and max value: 10, and class 1\n"
                    "Invalid file version (TF(0001) expected)\n");
    EXPECT_EQ(capture.Stop(), "    Poping layer \"layer\"\n");
}

TEST(LoggerTrace, TracedLayersKeepTheirOwnTexts)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 1.0, 0.0, true);
    logger->Push("inherits", 1.0, 1.0);
    EXPECT_EQ(logger->GetText(), "root");
    logger->SetLayerTracing(true);
    CStderrCapture capture;
    logger->Push("own", 1.0, 1.0, 0.0, false, LayerClassStep);
    EXPECT_EQ(logger->GetText(), "own");
    logger->Pop();
    logger->Pop();
    const std::string trace = capture.Stop();
    EXPECT_EQ(trace, "        Pushing layer \"own\" with parent quota: 1, and max value: 1, and class 0\n"
                     "        Poping layer \"own\"\n"
                     "    Poping layer \"root\"\n");
}
