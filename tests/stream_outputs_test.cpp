// The stream outputs: XML escaping, the XML log stream on standard output
// and over TCP, and the console progress lines, byte for byte.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>

#include <random>
#include <regex>
#include <thread>

#include <boost/thread/barrier.hpp>

#include <vidOderavev/Progress/SocketVisualizer.h>
#include <vidOderavev/Progress/StdoutVisualizer.h>
#include <vidOderavev/Progress/XmlEscape.h>
#include <vidOderavev/Progress/ZevVisualizer.h>

#include "support/Loopback.h"
#include "support/RecordingVisualizer.h"
#include "support/XmlStream.h"

using namespace Qz::Varnel::Progress;
using Qz::Varnel::Progress::Detail::EscapeXml;
using Test::MakeLogger;

namespace {

const std::string R = "\xEF\xBF\xBD";
const std::string g_sPrologue = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n<LOG_STREAM>\n";
const std::string g_sEpilogue = "<PROGRESS>\n<PERCENTAGE>-1</PERCENTAGE>\n</PROGRESS>\n</LOG_STREAM>\n";
const std::string g_sStampPattern = "\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}";

// A LOG record; ids are the network output's identity fields.
std::string Log(const std::string& type, const std::string& text, const std::string& task = "",
                const std::string& time = "@", const std::string& ids = "")
{
    return "<LOG>\n<TIME>" + time + "</TIME>\n<TYPE>" + type + "</TYPE>\n" + ids +
           (task.empty() ? "" : "<TASKID>" + task + "</TASKID>\n") + "<TEXT>" + text + "</TEXT>\n</LOG>\n\n";
}

std::string Progress(const std::string& percentage, const std::string& text = "", const std::string& ids = "")
{
    return "<PROGRESS>\n" + (text.empty() ? std::string() : "<TEXT>" + text + "</TEXT>\n") + "<PERCENTAGE>" +
           percentage + "</PERCENTAGE>\n" + ids + "</PROGRESS>\n\n";
}

// Replaces the real time stamps of the notes and the run time.
std::string Normalise(const std::string& bytes)
{
    return std::regex_replace(
        std::regex_replace(bytes, std::regex("<TIME>" + g_sStampPattern + "</TIME>"), "<TIME>@</TIME>"),
        std::regex("Total Runtime: \\d{2,}:\\d{2}:\\d{2}(\\.\\d{6})?s"), "Total Runtime: RUNTIMEs");
}

// Sets the progress, forced, and tells the output at once, so that the
// output depends on the state alone.
void Step(const boost::shared_ptr<CLogger>& logger, Detail::CVisualizer& visualizer, double value)
{
    logger->SetProgress(value, true);
    visualizer.ProgressChanged(logger, true);
}

std::string Wrap(const std::string& content)
{
    return g_sPrologue + "<LOG>\n<TEXT>" + content + "</TEXT>\n</LOG>\n</LOG_STREAM>\n";
}

// A listening socket on a port that the system picks.
struct SListener
{
    int m_nPort = 0, m_nFd;
    explicit SListener(int backlog = 16) : m_nFd(::Test::BoundSocket(SOCK_STREAM, m_nPort, backlog)) {}
    ~SListener() { close(m_nFd); }
};

std::string ThisThread() { return std::to_string(static_cast<unsigned long>(pthread_self())); }

double SecondsSince(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

} // namespace

TEST(XmlEscape, MarkupControlBytesAndIllFormedUtf8)
{
    const std::string utf8 = "\xC3\xA9 \xE2\x82\xAC \xF0\x9D\x84\x9E \xC2\x80 \xED\x9F\xBF \xEE\x80\x80 "
                             "\xEF\xBF\xBD \xEF\xB7\x90 \xF4\x8F\xBF\xBF";
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"Copy \"out\" isn't 100% done; [ok] {x} ~`!@#$^*()_+=|\\/?,.",
         "Copy \"out\" isn't 100% done; [ok] {x} ~`!@#$^*()_+=|\\/?,."},
        {"tab\tline\ncarriage\r\n\x7F", "tab\tline\ncarriage\r\n\x7F"},
        {utf8, utf8},
        {"a&b<c>d", "a&amp;b&lt;c&gt;d"},
        {"]]>&amp;", "]]&gt;&amp;amp;"},
        {std::string("\0\0", 2), R + R},
        {"a\xEF\xBF\xBE"
         "b\xEF\xBF\xBF",
         "a" + R + "b" + R}, // non-characters
        {"\x80", R},
        {"\xBF\x80", R + R},
        {"\xC0\x80\xC1\xBF", R + R + R + R}, // overlong leads
        {"\xE0\x80\x80", R + R + R},         // overlong three-byte form
        {"\xED\xA0\x80", R + R + R},         // surrogate
        {"\xF4\x90\x80\x80", R + R + R + R}, // above U+10FFFF
        {"\xF5\x80\xFE\xFF", R + R + R + R},
        {"\xE2\x82", R}, // truncated at the end
        {"\xF0\x9D\x84", R},
        {"\xE2\x82"
         "A\xE2\x82<",
         R + "A" + R + "&lt;"},
        {"\xC3\xC3\xA9", R + "\xC3\xA9"},
        // The example of the Unicode standard for replacing maximal subparts.
        {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64", "a" + R + R + R + "b" + R + "c" + R + R + "d"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EscapeXml(c.first), c.second) << c.first;
    for (int c = 0; c < 0x20; ++c) {
        const std::string in = std::string("x") + static_cast<char>(c) + "y";
        EXPECT_EQ(EscapeXml(in), c == 0x09 || c == 0x0A || c == 0x0D ? in : "x" + R + "y") << c;
    }
    // Long plain texts are scanned a word at a time: a special byte must be
    // found at every offset within and across words.
    const std::pair<std::string, std::string> special[] = {
        {"&", "&amp;"},           {"<", "&lt;"}, {">", "&gt;"}, {"\x01", R}, {"\x1F", R},      {"\x80", R},
        {"\xEF\xBF\xBE", R},      {"\t", "\t"},  {"\r", "\r"},  {"~", "~"},  {"\x7F", "\x7F"}, {"\xC3\xA9", "\xC3\xA9"},
        {std::string(1, '\0'), R}};
    for (const auto& one : special)
        for (std::size_t offset = 0; offset <= 24; ++offset) {
            const std::string before(offset, 'a'), after(24 - offset, 'z');
            EXPECT_EQ(EscapeXml(before + one.first + after), before + one.second + after) << offset;
        }
    std::string out = "<TEXT>";
    Detail::AppendXmlEscaped(out, "1 < 2");
    EXPECT_EQ(out, "<TEXT>1 &lt; 2");
    // Any bytes give content that a conforming reader accepts; well-formed
    // text comes back exactly (line ends aside).
    std::mt19937 random(20261206);
    for (int round = 0; round < 3000; ++round) {
        ASSERT_TRUE(::Test::ParseXmlStream(Wrap(EscapeXml(::Test::RandomText(random, false, 40)))).m_bWellFormed)
            << round;
        const std::string text = ::Test::RandomText(random, true, 40);
        const ::Test::SXmlStream back = ::Test::ParseXmlStream(Wrap(EscapeXml(text)));
        ASSERT_TRUE(back.m_bWellFormed) << back.m_sError << " round " << round;
        ASSERT_EQ(back.m_oRecords.at(0).Field("TEXT"), ::Test::NormaliseLineEnds(text)) << round;
    }
}

TEST(StdoutVisualizer, WholeSessionByteForByte)
{
    auto logger = MakeLogger("Job", 1.0, 1000.0);
    logger->SetNotificationLevel(VerbosityTrace);
    auto other = MakeLogger("other", 1.0, 1000.0);
    testing::internal::CaptureStdout();
    {
        auto visualizer = boost::make_shared<CStdoutVisualizer>();
        visualizer->ProgressChanged(other, true); // no logger yet: ignored
        visualizer->AddLogger(logger);
        visualizer->AddLogger(other);
        logger->Message(VerbosityInfo, "first line\nsecond line");
        visualizer->ShowMessage("with task", VerbosityFatal, "2026-12-06 10:00:01", "job-7");
        visualizer->ShowMessage("unnamed", VerbosityNone, "2026-12-06 10:00:02", "");
        logger->Message(VerbosityDebug, "a < b && \"c\" > 'd'");
        // A message cannot forge records or break the document, whatever its bytes.
        visualizer->ShowMessage("</TEXT></LOG>\n<LOG><TEXT>forged", VerbosityInfo, "<now>", "a&b");
        visualizer->ShowMessage(std::string("\x01\x7F \xFF\xC3 ok\xC3\xA9", 10), VerbosityInfo, "t",
                                std::string("\0", 1));
        Step(other, *visualizer, 500);  // describes the first logger: 0 %
        Step(logger, *visualizer, 429); // 42.9 %
        Step(logger, *visualizer, 431); // 43.1 %: a new whole percent
        Step(logger, *visualizer, 439); // 43.9 %: the same whole percent, nothing
        logger->SetText(0, "Job: phase <2>");
        visualizer->ProgressChanged(logger, true); // text changed, same percent
        Step(logger, *visualizer, 300);            // back to 30 %
        Step(logger, *visualizer, -1);             // -0.1 % counts as 0 %: a record
        Step(logger, *visualizer, 1000);
        visualizer->Clear();
        logger->Message(VerbosityFatal, "not shown after Clear");
    }
    const std::string raw = testing::internal::GetCapturedStdout();
    EXPECT_EQ(Normalise(raw),
              g_sPrologue + Log("INFO", "Startup") + Log("INFO", "first line") + Log("INFO", "second line") +
                  Log("FATAL", "with task", "job-7") + Log("", "unnamed") +
                  Log("DEBUG", "a &lt; b &amp;&amp; \"c\" &gt; 'd'") +
                  Log("INFO", "&lt;/TEXT&gt;&lt;/LOG&gt;\n&lt;LOG&gt;&lt;TEXT&gt;forged", "a&amp;b", "&lt;now&gt;") +
                  Log("INFO", R + "\x7F " + R + R + " ok\xC3\xA9", R, "t") + Progress("0", "Job") + Progress("42.9") +
                  Progress("43.1") + Progress("43.9", "Job: phase &lt;2&gt;") + Progress("30") + Progress("-0.1") +
                  Progress("100") + Log("INFO", "Total Runtime: RUNTIMEs") + g_sEpilogue);
    const ::Test::SXmlStream parsed = ::Test::ParseXmlStream(raw);
    ASSERT_TRUE(parsed.m_bWellFormed) << parsed.m_sError;
    EXPECT_EQ(parsed.m_sRoot, "LOG_STREAM");
    EXPECT_EQ(parsed.m_oRecords.at(5).Field("TEXT"), "a < b && \"c\" > 'd'");
    EXPECT_EQ(parsed.m_oRecords.at(6).Field("TEXT") + "|" + parsed.m_oRecords.at(6).Field("TASKID"),
              "</TEXT></LOG>\n<LOG><TEXT>forged|a&b");

    // Within one whole percent and below one percent with an empty root text.
    auto quiet = MakeLogger("", 1.0, 1000.0);
    testing::internal::CaptureStdout();
    {
        auto visualizer = boost::make_shared<CStdoutVisualizer>();
        visualizer->SetNotificationLevel(VerbosityNone); // no notes
        visualizer->AddLogger(quiet);
        for (double value : {9.0, 10.0, 19.0})
            Step(quiet, *visualizer, value);
        visualizer->Clear();
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), g_sPrologue + Progress("1") + g_sEpilogue);
}

TEST(NetVisualizer, WholeDocumentByteForByte)
{
    SListener listener;
    auto logger = MakeLogger("Job <1>", 1.0, 100.0);
    logger->SetNotificationLevel(VerbosityTrace);
    auto visualizer = boost::make_shared<CNetVisualizer>("127.0.0.1", listener.m_nPort);
    const int connection = ::Test::AcceptOne(listener.m_nFd);
    ASSERT_GE(connection, 0);
    EXPECT_FALSE(::Test::Readable(connection, 200)); // the prologue waits for the first record
    visualizer->AddLogger(logger);
    visualizer->ShowMessage("a&b", VerbosityError, "2026-12-06 10:00:01", "task<7>");
    Step(logger, *visualizer, 42.5);
    Step(logger, *visualizer, 42.9); // the same whole percent: nothing
    Step(logger, *visualizer, 10);
    std::thread other([&] { visualizer->ShowMessage("other thread", VerbosityInfo, "2026-12-06 10:00:02", ""); });
    other.join();
    visualizer->Clear();
    visualizer.reset();
    const std::string raw = ::Test::ReadAll(connection);
    char host[1024] = {};
    gethostname(host, sizeof host - 1);
    const std::string ids =
        "<HOSTNAME>" + std::string(host) + "</HOSTNAME>\n<PID>" + std::to_string(getpid()) + "</PID>\n";
    const std::string logIds = ids + "<TID>" + ThisThread() + "</TID>\n";
    EXPECT_EQ(Normalise(raw), g_sPrologue + Log("INFO", "Startup", "", "@", logIds) +
                                  Log("ERROR", "a&amp;b", "task&lt;7&gt;", "@", logIds) +
                                  Progress("42.5", "Job &lt;1&gt;", ids) + Progress("10", "", ids) +
                                  Log("INFO", "other thread", "", "@", logIds) +
                                  Log("INFO", "Total Runtime: RUNTIMEs", "", "@", logIds) + g_sEpilogue + "\n");
    EXPECT_TRUE(::Test::ParseXmlStream(raw).m_bWellFormed);

    // Records carry the constructing thread, whichever thread sends them.
    boost::shared_ptr<CNetVisualizer> visualizers[2];
    std::string tids[2];
    boost::barrier together(2);
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i)
        threads.emplace_back([&, i] {
            visualizers[i] = boost::make_shared<CNetVisualizer>("127.0.0.1", listener.m_nPort);
            tids[i] = ThisThread();
            together.wait(); // both alive until both exist: their identifiers differ
        });
    for (auto& thread : threads)
        thread.join();
    const int connections[2] = {::Test::AcceptOne(listener.m_nFd), ::Test::AcceptOne(listener.m_nFd)};
    for (int i = 0; i < 2; ++i) {
        visualizers[i]->ShowMessage("x", VerbosityInfo, "2026-12-06 10:00:00", "");
        visualizers[i].reset();
    }
    std::vector<std::string> seen;
    for (int connection_ : connections)
        seen.push_back(::Test::ParseXmlStream(::Test::ReadAll(connection_)).m_oRecords.at(0).Field("TID"));
    std::sort(seen.begin(), seen.end());
    std::sort(tids, tids + 2);
    EXPECT_EQ(seen, std::vector<std::string>(tids, tids + 2));
    EXPECT_NE(tids[0], tids[1]);
}

// A refused connection silences the output at once; a listener whose queue
// is full drops connection requests, like a filtering firewall, and the
// attempt is bounded (5 s by default).
TEST(NetVisualizer, UnreachableCollectorsSilenceTheOutputInBoundedTime)
{
    SListener full(0), closed(-1);
    const sockaddr_in address = ::Test::Loopback(full.m_nPort);
    const int filler = socket(AF_INET, SOCK_STREAM, 0), probe = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ASSERT_EQ(connect(filler, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    pollfd ready{probe, POLLOUT, 0};
    const bool dropping = poll(&ready, 1, 300) == 0;
    close(probe);
    auto logger = MakeLogger("root", 1.0, 10.0);
    for (const double bound : {0.0, 0.3, 5.0}) {
        if (bound > 0 && !dropping)
            break; // the kernel does not drop connection requests on a full queue
        const auto start = std::chrono::steady_clock::now();
        {
            const int port = bound > 0 ? full.m_nPort : closed.m_nPort;
            auto visualizer = bound == 0.3 ? boost::make_shared<CNetVisualizer>("127.0.0.1", port,
                                                                                boost::posix_time::milliseconds(300))
                                           : boost::make_shared<CNetVisualizer>("127.0.0.1", port);
            visualizer->AddLogger(logger);
            Step(logger, *visualizer, 5);
            visualizer->Clear();
        }
        EXPECT_GE(SecondsSince(start), bound - 0.05);
        EXPECT_LT(SecondsSince(start), bound * 2 + 2);
    }
    close(filler);
}

// With the default SIGPIPE disposition a send to a vanished collector would
// kill the process; the host must survive, keep computing and stay silent.
TEST(NetVisualizerDeathTest, PeerClosingMidwayLeavesTheHostRunning)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            signal(SIGPIPE, SIG_DFL);
            SListener listener;
            auto logger = MakeLogger("root", 1.0, 1000.0);
            auto visualizer = boost::make_shared<CNetVisualizer>("127.0.0.1", listener.m_nPort);
            const int connection = ::Test::AcceptOne(listener.m_nFd);
            visualizer->AddLogger(logger);
            char buffer[256];
            if (read(connection, buffer, sizeof buffer) <= 0)
                std::_Exit(3);
            close(connection);
            double sum = 0.0;
            for (int i = 1; i <= 300; ++i) {
                logger->Message(VerbosityInfo, "record " + std::to_string(i));
                Step(logger, *visualizer, i);
                sum += i;
                if (i % 50 == 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            visualizer->Clear();
            visualizer.reset();
            std::fprintf(stderr, "survived %.0f\n", sum);
            std::exit(sum == 45150.0 ? 0 : 4);
        },
        ::testing::ExitedWithCode(0), "survived 45150");
}

TEST(ZevVisualizer, MessageAndProgressLines)
{
    auto logger = MakeLogger("", 1.0, 1000.0);
    auto noted = MakeLogger("root");
    noted->SetNotificationLevel(VerbosityTrace);
    testing::internal::CaptureStdout();
    {
        auto visualizer = boost::make_shared<CZevVisualizer>();
        CZevVisualizer silent(true); // construction and destruction write nothing
        visualizer->ProgressChanged(MakeLogger("text", 1.0, 10.0, 5.0), true); // no logger yet: ignored
        visualizer->ShowMessage("careful: the disk is almost full", VerbosityWarning, "2026-12-06 10:00:00", "");
        visualizer->ShowMessage("same <&> bytes", VerbosityError, "2026-12-06 10:00:01", "task-9");
        visualizer->ShowMessage("unnamed", VerbosityNone, "2026-12-06 10:00:02", "");
        visualizer->SetNotificationLevel(VerbosityNone);
        visualizer->AddLogger(logger);
        // Every two percent, both ways; a new text first.
        for (double value : {19.0, 20.0, 39.0, 50.0, 30.0})
            Step(logger, *visualizer, value);
        logger->SetText(0, "Phase <1>");
        Step(logger, *visualizer, 125);
        visualizer->ProgressChanged(logger, true); // nothing changed
        logger->SetText(0, "");
        visualizer->ProgressChanged(logger, true); // "Progress: " alone
        Step(logger, *visualizer, 1000);
        visualizer->Clear();
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "2026-12-06 10:00:00 WARNING: careful: the disk is almost full\n"
              "2026-12-06 10:00:01 ERROR: same <&> bytes\n2026-12-06 10:00:02 : unnamed\nProgress: 2%\nProgress: 5%\n"
              "Progress: 3%\nProgress: Phase <1>\nProgress: 12.5%\nProgress: \nProgress: 100%\n");
    testing::internal::CaptureStdout();
    {
        auto visualizer = boost::make_shared<CZevVisualizer>();
        visualizer->AddLogger(noted);
        noted->Message(VerbosityDebug, "one\ntwo", "task");
        visualizer->Clear();
    }
    const std::string bytes = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(
        std::regex_match(bytes, std::regex(g_sStampPattern + " INFO: Startup\n" + g_sStampPattern + " DEBUG: one\n" +
                                           g_sStampPattern + " DEBUG: two\n" + g_sStampPattern +
                                           " INFO: Total Runtime: \\d{2,}:\\d{2}:\\d{2}(\\.\\d{6})?s\n")))
        << bytes;
}
