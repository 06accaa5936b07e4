// The collector's parts a process-level test could not reach cheaply: the
// parser and its refusals, the save file, time remaining, the text helpers.

#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/TemporaryDirectory.h"
#include "watch/Eta.h"
#include "watch/JsonRecord.h"
#include "watch/PlainView.h"
#include "watch/Stream.h"
#include "watch/Text.h"
#include "watch/XmlStreamParser.h"

using namespace Qz::Varnel::Watch;
using Test::CTemporaryDirectory;
using Test::ReadFile;

namespace {

std::FILE* const g_pNull = std::fopen("/dev/null", "w");
CPlainView g_oQuietView(g_pNull, g_pNull, CMessageFilter(7));
const std::string g_sPrologue = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n<LOG_STREAM>\n";
const std::string g_sEpilogue = "<PROGRESS>\n<PERCENTAGE>-1</PERCENTAGE>\n</PROGRESS>\n</LOG_STREAM>\n";

std::string LogRecord(const std::string& text, const std::string& taskId = std::string())
{
    std::string record = "<LOG>\n<TIME>2026-12-06 10:00:01</TIME>\n<TYPE>INFO</TYPE>\n";
    if (!taskId.empty())
        record += "<TASKID>" + taskId + "</TASKID>\n";
    return record + "<TEXT>" + text + "</TEXT>\n</LOG>\n\n";
}

struct CCollectingSink : CRecordSink
{
    void OnLog(const SLogRecord& record) override
    {
        m_oEvents.push_back("LOG " + record.m_sTaskId + "|" + record.m_sText);
    }
    void OnProgress(const SProgressRecord& record) override
    {
        m_oEvents.push_back("PROGRESS " + record.m_sPercentage + (record.m_bHasText ? "|" + record.m_sText : ""));
    }
    void OnEnd() override { m_oEvents.push_back("END"); }
    std::vector<std::string> m_oEvents;
};

struct SMalformed
{
    const char* m_pName;
    std::string m_sDocument;
    // Part of the reason given; empty where the XML parser words it.
    const char* m_pError;
};

std::vector<SMalformed> MalformedDocuments()
{
    std::string attributes = g_sPrologue + "<LOG";
    for (int i = 0; attributes.size() < (1u << 20); ++i)
        attributes += " a" + std::to_string(i) + "=\"\"";
    const std::string mebibyte(1 << 20, 'A');
    std::string nested = g_sPrologue;
    for (int i = 0; i < 10000; ++i)
        nested += "<LOG>";
    return {
        {"DocumentType", "<?xml version=\"1.0\"?>\n<!DOCTYPE LOG_STREAM [<!ENTITY a \"aaaa\">]>\n<LOG_STREAM>\n", ""},
        {"ForeignRoot", "<?xml version=\"1.0\"?>\n<html>\n", ""},
        {"PercentSign", g_sPrologue + "<PROGRESS>\n<PERCENTAGE>12%</PERCENTAGE>\n</PROGRESS>\n", ""},
        {"InfinitePercentage", g_sPrologue + "<PROGRESS>\n<PERCENTAGE>inf</PERCENTAGE>\n</PROGRESS>\n", "inf"},
        {"NoPercentage", g_sPrologue + "<PROGRESS>\n<TEXT>no percentage</TEXT>\n</PROGRESS>\n", ""},
        {"UndefinedEntity", g_sPrologue + LogRecord("undefined &nbsp; entity"), ""},
        {"EndlessReference", g_sPrologue + "<LOG>\n<TEXT>&" + mebibyte, ""},
        {"MebibyteOfAttributes", attributes, "attributes"},
        {"ForeignRecord", g_sPrologue + "<NOTE>\n</NOTE>\n", "<NOTE>"},
        {"ForeignField", g_sPrologue + "<LOG>\n<FOO>x</FOO>\n</LOG>\n", "<FOO>"},
        {"EndlessName", g_sPrologue + "<" + mebibyte, "name longer"},
        {"EndlessTag", g_sPrologue + "<LOG" + std::string(1 << 20, ' '), "tag longer"},
        {"NestedTenThousandDeep", nested, ""},
        {"EndlessComment", g_sPrologue + "<!--" + mebibyte + "-->", "comment"},
        {"LongHostName",
         g_sPrologue + "<LOG>\n<HOSTNAME>" + std::string(300, 'h') + "</HOSTNAME>\n<TEXT>x</TEXT>\n</LOG>\n",
         "HOSTNAME longer"},
    };
}

class WatchParserRefuses : public testing::TestWithParam<SMalformed>
{
};

} // namespace

TEST(WatchParser, DeliversEachRecordAsSoonAsItsClosingTagArrivesAndUnescapesIt)
{
    // Markup that no writer sends but XML allows is read as well.
    const std::string first = g_sPrologue + LogRecord("a &lt;b&gt; &amp; \xEF\xBF\xBD &#x41;", "&amp;7");
    const std::string document =
        first + "<PROGRESS>\n<TEXT>x &lt; y</TEXT>\n<PERCENTAGE>12.5</PERCENTAGE>\n</PROGRESS>\n" +
        "<!-- note --><?pi x?>\n<LOG >\n<TYPE\n/>\n<TEXT><![CDATA[a<b]]></TEXT >\n</LOG>\n" + g_sEpilogue;
    CCollectingSink sink;
    CXmlStreamParser parser(sink);
    // Byte by byte: the first record must be out when "</LOG>" is complete,
    // before anything of the next record has arrived.
    const std::size_t closeOfFirst = first.find("</LOG>") + 6;
    for (std::size_t i = 0; i < document.size(); ++i) {
        ASSERT_TRUE(parser.Feed(&document[i], 1)) << parser.GetError();
        if (i + 1 == closeOfFirst) {
            EXPECT_EQ(1u, sink.m_oEvents.size());
        }
    }
    EXPECT_EQ((std::vector<std::string>{"LOG &7|a <b> & \xEF\xBF\xBD A", "PROGRESS 12.5|x < y", "LOG |a<b",
                                        "PROGRESS -1", "END"}),
              sink.m_oEvents);
    EXPECT_TRUE(parser.IsComplete());
    // Bytes after the end of the document are taken and ignored.
    EXPECT_TRUE(parser.Feed("\n<garbage", 9));
}

TEST_P(WatchParserRefuses, AtTheFirstFaultBeforeTheParserSpendsOnIt)
{
    const SMalformed& malformed = GetParam();
    const std::string& document = malformed.m_sDocument;
    std::string firstError;
    // Whole, and in pieces that split every tag somewhere.
    for (const std::size_t piece : {document.size(), std::size_t(3)}) {
        CCollectingSink sink;
        CXmlStreamParser parser(sink);
        bool fed = true;
        for (std::size_t at = 0; at < document.size() && fed; at += piece)
            fed = parser.Feed(document.data() + at, std::min(piece, document.size() - at));
        EXPECT_FALSE(fed);
        EXPECT_TRUE(sink.m_oEvents.empty());
        EXPECT_NE(std::string::npos, parser.GetError().find(malformed.m_pError)) << parser.GetError();
        // Refused where it starts: the XML parser never got the rest.
        EXPECT_LT(parser.GetErrorPosition().m_nBytes, 8192u);
        if (firstError.empty())
            firstError = parser.GetError();
        EXPECT_EQ(firstError, parser.GetError());
    }
}

INSTANTIATE_TEST_SUITE_P(Hostile, WatchParserRefuses, testing::ValuesIn(MalformedDocuments()),
                         [](const testing::TestParamInfo<SMalformed>& info) { return info.param.m_pName; });

TEST(WatchText, NeutralisesFitsAndFormatsAndNumbersRepeatedLabels)
{
    CLabelRegistry labels;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a^[[2Jb^Mc^?d", MakePrintable("a\x1b[2Jb\rc\x7f"
                                        "d")},
        {"x<U+009B>y \xC3\xA9", MakePrintable("x\xC2\x9By\t\xC3\xA9")},
        {"\xC3\xA9t\xC3\xA9", FitToWidth("\xC3\xA9t\xC3\xA9 long", 3, false)},
        {"ab   ", FitToWidth("ab", 5, true)},
        {"4", std::to_string(DisplayWidth("\xE2\x82\xAC\xC3\xA9xy"))},
        {"0s", FormatEta(-3.0)},
        {"59s", FormatEta(59.4)},
        {"1m 05s", FormatEta(65.0)},
        {"2h 01m", FormatEta(7260.0)},
        {"998h 59m", FormatEta(999.0 * 3600.0 - 60.0)},
        {">999h", FormatEta(1e300)},
        {"[###-------]", MakeBar(30.0, 10)},
        {"[##########]", MakeBar(250.0, 10)},
        {"99.9%", FormatPercentage(99.96)},
        {"100%", FormatPercentage(100.0)},
        {"_._.._etc_passwd", MakeFileStem("../../etc/passwd")},
        {"stream", MakeFileStem("")},
        {"h/1", labels.Claim("h/1")},
        {"h/1#2", labels.Claim("h/1")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.first, c.second);
}

struct SEtaCase
{
    const char* m_pName;
    EEtaMethod m_eMethod;
    std::vector<std::pair<double, double>> m_oUpdates; // (time, percentage) after a start at 0 s
    double m_dNow;
    double m_dRemaining; // negative: no estimate
    bool m_bStalled;
};

// Slowing from 1 %/s for 30 s to 0.1 %/s for 10 s: the average since the start
// says 69 / (31 / 40) s; the moving average weighs the last 10 s at
// 1 - e^(-2/3) against e^(-2/3) (1 - e^-2) for the 30 s before.
TEST(WatchEta, EstimatesTheTimeRemainingOrSaysTheStreamStalled)
{
    const SEtaCase rows[] = {
        {"NothingYet", EtaMoving, {}, 0.0, -1.0, false},
        {"SteadyAverage", EtaAverage, {{10.0, 25.0}}, 15.0, 25.0, false},
        {"SteadyMovingIsUnbiased", EtaMoving, {{10.0, 25.0}}, 10.0, 30.0, false},
        {"SameInstantJoinsTheNextInterval", EtaMoving, {{5.0, 10.0}, {5.0, 12.5}, {10.0, 25.0}}, 10.0, 30.0, false},
        {"SlowingAverage", EtaAverage, {{30.0, 30.0}, {40.0, 31.0}}, 40.0, 89.032, false},
        {"SlowingMoving", EtaMoving, {{30.0, 30.0}, {40.0, 31.0}}, 45.0, 125.342, false},
        {"FallingStartsAgain", EtaMoving, {{10.0, 50.0}, {20.0, 10.0}}, 20.0, -1.0, false},
        {"FallingThenRising", EtaAverage, {{10.0, 50.0}, {20.0, 10.0}, {30.0, 55.0}}, 30.0, 10.0, false},
        {"AlmostStalled", EtaAverage, {{10.0, 25.0}, {15.0, 25.0}}, 19.9, 40.1, false},
        {"Stalled", EtaAverage, {{10.0, 25.0}, {15.0, 25.0}}, 20.0, 40.0, true},
        {"StalledWithoutProgress", EtaMoving, {}, 10.0, -1.0, true},
    };
    for (const SEtaCase& row : rows) {
        SCOPED_TRACE(row.m_pName);
        CLabelRegistry labels;
        CStream stream("peer", "", labels, g_oQuietView, 0.0, row.m_eMethod);
        ASSERT_TRUE(stream.Receive(g_sPrologue.data(), g_sPrologue.size(), 0.0));
        for (const auto& update : row.m_oUpdates) {
            const std::string record =
                "<PROGRESS>\n<PERCENTAGE>" + std::to_string(update.second) + "</PERCENTAGE>\n</PROGRESS>\n";
            ASSERT_TRUE(stream.Receive(record.data(), record.size(), update.first));
        }
        double seconds = -1.0;
        EXPECT_EQ(row.m_dRemaining >= 0.0, stream.GetEta(row.m_dNow, seconds));
        if (row.m_dRemaining >= 0.0) {
            EXPECT_NEAR(row.m_dRemaining, seconds, 0.01);
        }
        EXPECT_EQ(row.m_bStalled, stream.IsStalled(row.m_dNow));
    }
}

TEST(WatchJson, EscapesEveryStringAndKeepsTheKeyOrder)
{
    std::string out;
    const char text[] = "q\"b\\s/n\nt\tc\x01\x1F\x7F \xC3\xA9 bad\xFF cut\xE2\x82 end\0";
    AppendJsonString(out, std::string(text, sizeof(text) - 1));
    EXPECT_EQ("\"q\\\"b\\\\s/n\\nt\\tc\\u0001\\u001F\\u007F \xC3\xA9 bad\xEF\xBF\xBD cut\xEF\xBF\xBD end\\u0000\"",
              out);

    // The records' layout is pinned through the program; what it cannot show
    // cheaply is a stream with a name and a time remaining.
    CLabelRegistry labels;
    CStream stream("127.0.0.1:40112", "", labels, g_oQuietView, 0.0);
    const std::string document = g_sPrologue + "<PROGRESS>\n<TEXT>Job \"1\"</TEXT>\n<PERCENTAGE>42.456</PERCENTAGE>\n"
                                               "<HOSTNAME>h</HOSTNAME>\n<PID>7</PID>\n</PROGRESS>\n";
    ASSERT_TRUE(stream.Receive(document.data(), document.size(), 10.0));
    EXPECT_EQ("{\"type\":\"progress\",\"source\":\"127.0.0.1:40112\",\"stream\":\"h/7\",\"host\":\"h\",\"pid\":\"7\","
              "\"percent\":42.46,\"text\":\"Job \\\"1\\\"\",\"eta\":14,\"stalled\":false}",
              FormatJsonProgress(stream, 10.0));
}

TEST(WatchSaveFile, StopsAtTheFirstRefusedWriteAndSaysSo)
{
    CTemporaryDirectory directory;
    CPlainView view(g_pNull, g_pNull, CMessageFilter(7));
    CLabelRegistry labels;
    const std::string document = g_sPrologue + LogRecord("one") + LogRecord("two") + g_sEpilogue;
    CStream stream("peer", directory.Path(), labels, view, 0.0);
    // A file size limit refuses a write as a full disk does; once it is
    // lifted, as space freed on a disk would be, writes succeed again.
    const sighandler_t handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved = {};
    ASSERT_EQ(0, ::getrlimit(RLIMIT_FSIZE, &saved));
    rlimit small = saved;
    small.rlim_cur = 100;
    ASSERT_EQ(0, ::setrlimit(RLIMIT_FSIZE, &small));
    EXPECT_TRUE(stream.Receive(document.data(), 60, 1.0));
    EXPECT_TRUE(stream.Receive(document.data() + 60, 60, 1.0));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, handler);
    EXPECT_TRUE(stream.Receive(document.data() + 120, document.size() - 120, 2.0));
    const std::string file = directory.File("peer.xml.incomplete");
    EXPECT_EQ(std::vector<std::string>{"peer.xml.incomplete"}, directory.Entries());
    EXPECT_EQ(document.substr(0, 100), ReadFile(file));
    EXPECT_EQ("peer FINISHED (saved copy incomplete: " + file + ")", CPlainView::FormatEnd(stream));
}
