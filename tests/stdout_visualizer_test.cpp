#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>

#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/Progress/StdoutVisualizer.h>

#include "support/RandomText.h"
#include "support/StdoutCapture.h"
#include "support/XmlStream.h"

using namespace Qz::Varnel::Progress;

namespace {

const std::string g_sPrologue = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n<LOG_STREAM>\n";
const std::string g_sEpilogue = "<PROGRESS>\n<PERCENTAGE>-1</PERCENTAGE>\n</PROGRESS>\n</LOG_STREAM>\n";
const std::string R = "\xEF\xBF\xBD";

std::string Log(const std::string& type, const std::string& text, const std::string& task = "",
                const std::string& time = "@")
{
    return "<LOG>\n<TIME>" + time + "</TIME>\n<TYPE>" + type + "</TYPE>\n" +
           (task.empty() ? "" : "<TASKID>" + task + "</TASKID>\n") + "<TEXT>" + text + "</TEXT>\n</LOG>\n\n";
}

std::string Progress(const std::string& percentage, const std::string* text = nullptr)
{
    return "<PROGRESS>\n" + (text ? "<TEXT>" + *text + "</TEXT>\n" : std::string()) + "<PERCENTAGE>" + percentage +
           "</PERCENTAGE>\n</PROGRESS>\n\n";
}

// Replaces the real time stamps and the run time, after checking their form.
std::string Normalise(const std::string& bytes, int& stamps)
{
    static const std::regex s_oTime("<TIME>\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}</TIME>");
    static const std::regex s_oRuntime("Total Runtime: \\d{2,}:\\d{2}:\\d{2}(\\.\\d{6})?s");
    stamps = static_cast<int>(
        std::distance(std::sregex_iterator(bytes.begin(), bytes.end(), s_oTime), std::sregex_iterator()));
    return std::regex_replace(std::regex_replace(bytes, s_oTime, "<TIME>@</TIME>"), s_oRuntime,
                              "Total Runtime: RUNTIMEs");
}

void Step(const boost::shared_ptr<CLogger>& logger, const boost::shared_ptr<CStdoutVisualizer>& visualizer,
          double value)
{
    logger->SetProgress(value, true);
    // Whether the logger's own notification passed the throttle or not, this
    // one makes the output depend on the state alone.
    visualizer->ProgressChanged(logger, true);
}

} // namespace

TEST(StdoutVisualizer, ConstructAndDestroyWritesPrologueAndEpilogue)
{
    ::Test::CStdoutCapture capture;
    {
        auto visualizer = boost::make_shared<CStdoutVisualizer>();
    }
    const std::string bytes = capture.Finish();
    EXPECT_EQ(bytes, g_sPrologue + g_sEpilogue);
    EXPECT_EQ(g_sPrologue.size(), 70u);
    EXPECT_EQ(g_sEpilogue.size(), 65u);
    EXPECT_TRUE(::Test::ParseXmlStream(bytes).m_bWellFormed);
}

TEST(StdoutVisualizer, RecordLayout)
{
    ::Test::CStdoutCapture capture;
    {
        auto visualizer = boost::make_shared<CStdoutVisualizer>();
        visualizer->ShowMessage("plain", VerbosityWarning, "2026-12-06 10:00:00", "");
        visualizer->ShowMessage("with task", VerbosityFatal, "2026-12-06 10:00:01", "job-7");
        visualizer->ShowMessage("unnamed", VerbosityNone, "2026-12-06 10:00:02", "");
        visualizer->ShowMessage("trace", VerbosityTrace, "2026-12-06 10:00:03", "");
    }
    const std::string bytes = capture.Finish();
    EXPECT_EQ(bytes, g_sPrologue + Log("WARNING", "plain", "", "2026-12-06 10:00:00") +
                         Log("FATAL", "with task", "job-7", "2026-12-06 10:00:01") +
                         Log("", "unnamed", "", "2026-12-06 10:00:02") +
                         Log("TRACE", "trace", "", "2026-12-06 10:00:03") + g_sEpilogue);
    EXPECT_TRUE(::Test::ParseXmlStream(bytes).m_bWellFormed);
}

TEST(StdoutVisualizer, WholeSession)
{
    auto logger = boost::make_shared<CLogger>("Job", 1.0, 1000.0);
    logger->SetNotificationLevel(VerbosityTrace);
    ::Test::CStdoutCapture capture;
    {
        auto visualizer = boost::make_shared<CStdoutVisualizer>();
        visualizer->AddLogger(logger);
        logger->Message(VerbosityInfo, "first line\nsecond line");
        logger->Message(VerbosityWarning, "with task", "T-1");
        logger->Message(VerbosityDebug, "a < b && \"c\" > 'd'");
        Step(logger, visualizer, 5);   // first record: root text and 0.5 %
        Step(logger, visualizer, 429); // 42.9 %
        Step(logger, visualizer, 431); // 43.1 %: a new whole percent
        Step(logger, visualizer, 439); // 43.9 %: the same whole percent, nothing
        logger->SetText(0, "Job: phase <2>");
        visualizer->ProgressChanged(logger, true); // text changed, same percent
        Step(logger, visualizer, 300);             // back to 30 %
        Step(logger, visualizer, -1);              // -0.1 % counts as 0 %: a record
        Step(logger, visualizer, 1000);            // 100 %
        visualizer->Clear();
        logger->Message(VerbosityFatal, "not shown after Clear");
    }
    int stamps = 0;
    const std::string raw = capture.Finish();
    const std::string bytes = Normalise(raw, stamps);
    const std::string job = "Job";
    const std::string phase = "Job: phase &lt;2&gt;";
    const std::string expected =
        g_sPrologue + Log("INFO", "Startup") + Log("INFO", "first line") + Log("INFO", "second line") +
        Log("WARNING", "with task", "T-1") + Log("DEBUG", "a &lt; b &amp;&amp; \"c\" &gt; 'd'") +
        Progress("0.5", &job) + Progress("42.9") + Progress("43.1") + Progress("43.9", &phase) + Progress("30") +
        Progress("-0.1") + Progress("100") + Log("INFO", "Total Runtime: RUNTIMEs") + g_sEpilogue;
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(stamps, 6);

    const ::Test::SXmlStream parsed = ::Test::ParseXmlStream(raw);
    ASSERT_TRUE(parsed.m_bWellFormed) << parsed.m_sError;
    EXPECT_EQ(parsed.m_sRoot, "LOG_STREAM");
    ASSERT_EQ(parsed.m_oRecords.size(), 14u);
    EXPECT_EQ(parsed.m_oRecords[4].Field("TEXT"), "a < b && \"c\" > 'd'");
    EXPECT_EQ(parsed.m_oRecords[8].Field("TEXT"), "Job: phase <2>");
    EXPECT_EQ(parsed.m_oRecords[13].Field("PERCENTAGE"), "-1");
}

TEST(StdoutVisualizer, ProgressWithinOneWholePercentAndBelowOnePercent)
{
    auto logger = boost::make_shared<CLogger>("", 1.0, 1000.0);
    ::Test::CStdoutCapture capture;
    {
        auto visualizer = boost::make_shared<CStdoutVisualizer>();
        visualizer->SetNotificationLevel(VerbosityNone); // no notes
        visualizer->AddLogger(logger);
        Step(logger, visualizer, 9);  // 0.9 % with an empty root text: nothing
        Step(logger, visualizer, 10); // 1 %
        Step(logger, visualizer, 19); // 1.9 %: nothing
        visualizer->Clear();
    }
    EXPECT_EQ(capture.Finish(), g_sPrologue + Progress("1") + g_sEpilogue);
}

TEST(StdoutVisualizer, ProgressWithoutLoggerIsIgnored)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 10.0, 5.0);
    ::Test::CStdoutCapture capture;
    {
        auto visualizer = boost::make_shared<CStdoutVisualizer>();
        visualizer->ProgressChanged(logger, true);
    }
    EXPECT_EQ(capture.Finish(), g_sPrologue + g_sEpilogue);
}

TEST(StdoutVisualizer, ProgressDescribesTheFirstLogger)
{
    auto first = boost::make_shared<CLogger>("first", 1.0, 100.0);
    auto second = boost::make_shared<CLogger>("second", 1.0, 100.0);
    ::Test::CStdoutCapture capture;
    {
        auto visualizer = boost::make_shared<CStdoutVisualizer>();
        visualizer->SetNotificationLevel(VerbosityNone);
        visualizer->AddLogger(first);
        visualizer->AddLogger(second);
        second->SetProgress(50, true);
        visualizer->ProgressChanged(second, true);
        visualizer->Clear();
    }
    const std::string text = "first";
    EXPECT_EQ(capture.Finish(), g_sPrologue + Progress("0", &text) + g_sEpilogue);
}

// A message cannot forge records or break the document, whatever its bytes.
TEST(StdoutVisualizer, HostileContentIsEscaped)
{
    const std::string forged = "</TEXT></LOG>\n\n<LOG><TEXT>forged";
    const std::string bytes = std::string("& \x01\x1F\x7F \xFF\xC3 \xEF\xBF\xBF ok\xC3\xA9", 17);
    ::Test::CStdoutCapture capture;
    {
        auto visualizer = boost::make_shared<CStdoutVisualizer>();
        visualizer->ShowMessage(forged, VerbosityInfo, "<now>", "a&b");
        visualizer->ShowMessage(bytes, VerbosityInfo, "t", std::string("\0", 1));
    }
    const std::string raw = capture.Finish();
    EXPECT_EQ(raw,
              g_sPrologue +
                  Log("INFO", "&lt;/TEXT&gt;&lt;/LOG&gt;\n\n&lt;LOG&gt;&lt;TEXT&gt;forged", "a&amp;b", "&lt;now&gt;") +
                  Log("INFO", "&amp; " + R + R + "\x7F " + R + R + " " + R + " ok\xC3\xA9", R, "t") + g_sEpilogue);
    const ::Test::SXmlStream parsed = ::Test::ParseXmlStream(raw);
    ASSERT_TRUE(parsed.m_bWellFormed) << parsed.m_sError;
    ASSERT_EQ(parsed.m_oRecords.size(), 3u);
    EXPECT_EQ(parsed.m_oRecords[0].Field("TEXT"), forged);
    EXPECT_EQ(parsed.m_oRecords[0].Field("TIME"), "<now>");
    EXPECT_EQ(parsed.m_oRecords[0].Field("TASKID"), "a&b");
}

// Random message texts, task identifiers and root texts: every document
// parses, and well-formed texts come back exactly (line ends aside).
TEST(StdoutVisualizer, RandomContentAlwaysGivesAWellFormedDocument)
{
    std::mt19937 random(4242);
    for (int document = 0; document < 150; ++document) {
        auto logger = boost::make_shared<CLogger>("", 1.0, 100.0);
        struct SSent
        {
            bool m_bValid;
            std::string m_sText;
            std::string m_sTaskId;
        };
        std::vector<SSent> sent;
        std::string rootText;
        std::string raw;
        {
            ::Test::CStdoutCapture capture;
            auto visualizer = boost::make_shared<CStdoutVisualizer>();
            visualizer->SetNotificationLevel(VerbosityNone);
            visualizer->AddLogger(logger);
            for (int message = 0; message < 8; ++message) {
                const bool valid = message % 2 == 0;
                SSent one{valid, valid ? ::Test::RandomXmlText(random, 30) : ::Test::RandomBytes(random, 30),
                          valid ? ::Test::RandomXmlText(random, 6) : ::Test::RandomBytes(random, 6)};
                sent.push_back(one);
                visualizer->ShowMessage(one.m_sText, VerbosityNone, "2026-12-06 10:00:00", one.m_sTaskId);
            }
            rootText = ::Test::RandomXmlText(random, 20) + "x"; // never empty: a record with TEXT
            logger->SetText(0, rootText);
            visualizer->ProgressChanged(logger, true);
            visualizer->Clear();
            visualizer.reset();
            raw = capture.Finish();
        }
        const ::Test::SXmlStream parsed = ::Test::ParseXmlStream(raw);
        ASSERT_TRUE(parsed.m_bWellFormed) << parsed.m_sError << " in document " << document;
        ASSERT_EQ(parsed.m_oRecords.size(), sent.size() + 2);
        for (std::size_t i = 0; i < sent.size(); ++i) {
            const ::Test::SXmlRecord& record = parsed.m_oRecords[i];
            ASSERT_EQ(record.m_sName, "LOG");
            EXPECT_EQ(record.Has("TASKID"), !sent[i].m_sTaskId.empty());
            if (sent[i].m_bValid) {
                EXPECT_EQ(record.Field("TEXT"), ::Test::NormaliseLineEnds(sent[i].m_sText));
                EXPECT_EQ(record.Field("TASKID"), ::Test::NormaliseLineEnds(sent[i].m_sTaskId));
            }
        }
        EXPECT_EQ(parsed.m_oRecords[sent.size()].Field("TEXT"), ::Test::NormaliseLineEnds(rootText));
    }
}
