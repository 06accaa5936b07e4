// The stream outputs byte for byte: XML escaping, the XML log on standard output and over TCP, console lines.
#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>

#include <functional>
#include <regex>
#include <thread>

#include <vidOderavev/Progress/SocketVisualizer.h>
#include <vidOderavev/Progress/StdoutVisualizer.h>
#include <vidOderavev/Progress/XmlEscape.h>
#include <vidOderavev/Progress/ZevVisualizer.h>

#include "support/Loopback.h"
#include "support/RecordingVisualizer.h"

using namespace Qz::Varnel::Progress;
using Detail::EscapeXml;
using Test::MakeLogger;

namespace {

const std::string R = "\xEF\xBF\xBD";

std::string Replaced(int count) { return count > 0 ? R + Replaced(count - 1) : ""; }
const std::string g_sPrologue = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n<LOG_STREAM>\n";
const std::string g_sEpilogue = "<PROGRESS>\n<PERCENTAGE>-1</PERCENTAGE>\n</PROGRESS>\n</LOG_STREAM>\n";

std::string Normalise(const std::string& bytes)
{
    const std::regex stamp("\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}"), runtime("\\d{2,}:\\d{2}:\\d{2}(\\.\\d{6})?s");
    return std::regex_replace(std::regex_replace(bytes, stamp, "@"), runtime, "RUNTIMEs");
}

// Sets the progress, forced, and tells the output at once, so that its output depends on the state alone.
void Step(const boost::shared_ptr<CLogger>& logger, Detail::CVisualizer& visualizer, double value)
{
    logger->SetProgress(value, true);
    visualizer.ProgressChanged(logger, true);
}

struct SListener
{
    int m_nPort = 0, m_nFd;
    explicit SListener(int backlog = 16) : m_nFd(::Test::BoundSocket(SOCK_STREAM, m_nPort, backlog)) {}
    ~SListener() { close(m_nFd); }
};

// Runs the session on the stdout or network XML output, built on its own thread (into tid); returns the bytes.
std::string XmlSession(bool network, std::string& tid, const std::function<void(Detail::CVisualizerBase&)>& session)
{
    SListener listener;
    boost::shared_ptr<Detail::CVisualizerBase> visualizer;
    if (!network)
        testing::internal::CaptureStdout();
    std::thread([&] {
        visualizer = network ? boost::make_shared<CNetVisualizer>("127.0.0.1", listener.m_nPort)
                             : boost::shared_ptr<Detail::CVisualizerBase>(boost::make_shared<CStdoutVisualizer>());
        tid = std::to_string(static_cast<unsigned long>(pthread_self()));
    }).join();
    const int connection = network ? ::Test::AcceptOne(listener.m_nFd) : -1;
    EXPECT_FALSE(network && ::Test::Readable(connection, 200)); // the prologue waits for the first record
    session(*visualizer);
    visualizer.reset();
    return network ? ::Test::ReadAll(connection) : testing::internal::GetCapturedStdout();
}

} // namespace

TEST(XmlEscape, MarkupControlBytesAndIllFormedUtf8)
{
    const std::string utf8 = "\xC3\xA9 \xE2\x82\xAC \xF0\x9D\x84\x9E \xC2\x80 \xED\x9F\xBF \xEE\x80\x80 "
                             "\xEF\xBF\xBD \xEF\xB7\x90 \xF4\x8F\xBF\xBF tab\tline\ncarriage\r\n\x7F\"'%";
    const std::pair<std::string, std::string> cases[] = {
        {utf8, utf8},
        {"a&b<c>d]]>&amp;", "a&amp;b&lt;c&gt;d]]&gt;&amp;amp;"},
        {std::string("\0\x01\x1F", 3), Replaced(3)},
        {"a\xEF\xBF\xBE"
         "b\xEF\xBF\xBF",
         "a" + R + "b" + R}, // non-characters
        // Overlong, surrogate, above U+10FFFF or no lead at all: each byte on its own.
        {"\x80\xBF\xC0\x80\xC1\xBF\xE0\x80\x80\xF0\x8F\xBF\xBF\xED\xA0\x80\xF4\x90\x80\x80\xF5\x80\xFE\xFF",
         Replaced(24)},
        {"\xF0\x9D\x84", R}, // truncated at the end
        {"\xE2\x82"
         "A\xE2\x82<",
         R + "A" + R + "&lt;"},
        {"\xC3\xC3\xA9", R + "\xC3\xA9"},
        // The example of the Unicode standard for replacing maximal subparts.
        {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64", "a" + R + R + R + "b" + R + "c" + R + R + "d"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EscapeXml(c.first), c.second) << c.first;
    // Long plain texts are scanned a word at a time: a special byte must be found at every offset in and across words.
    const std::pair<std::string, std::string> special[] = {{"&", "&amp;"},      {">", "&gt;"}, {"\x1F", R}, {"\x80", R},
                                                           {"\xEF\xBF\xBE", R}, {"\t", "\t"},  {"~", "~"}};
    for (const auto& one : special)
        for (std::size_t offset = 0; offset <= 24; ++offset) {
            const std::string before(offset, 'a'), after(24 - offset, 'z');
            EXPECT_EQ(EscapeXml(before + one.first + after), before + one.second + after) << offset;
        }
}

// The same session on both XML outputs; the network one adds host, process, constructing thread, a last line end.
TEST(XmlOutputs, WholeSessionByteForByte)
{
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    for (const bool network : {false, true}) {
        SCOPED_TRACE(network ? "network" : "standard output");
        auto logger = MakeLogger("Job", 1.0, 1000.0), other = MakeLogger("other", 1.0, 1000.0);
        logger->SetNotificationLevel(VerbosityTrace);
        std::string tid;
        const std::string raw = XmlSession(network, tid, [&](Detail::CVisualizerBase& visualizer) {
            visualizer.ProgressChanged(other, true); // no logger yet: ignored
            visualizer.AddLogger(logger);
            visualizer.AddLogger(other);
            logger->Message(VerbosityInfo, "first line\nsecond line");
            visualizer.ShowMessage("with task", VerbosityFatal, "2026-12-06 10:00:01", "job-7");
            visualizer.ShowMessage("unnamed", VerbosityNone, "2026-12-06 10:00:02", "");
            // A message cannot forge records or break the document, whatever its bytes.
            visualizer.ShowMessage("</TEXT></LOG>\n<LOG><TEXT>\"forged\"", VerbosityDebug, "<now>", "a&b");
            visualizer.ShowMessage(std::string("\x01\x7F \xFF\xC3 ok\xC3\xA9", 10), VerbosityInfo, "t",
                                   std::string("\0", 1));
            Step(other, visualizer, 500);              // describes the first logger: 0 %
            for (double value : {429.0, 431.0, 439.0}) // 43.9 %: the same whole percent, nothing
                Step(logger, visualizer, value);
            logger->SetText(0, "Job: phase <2>");
            visualizer.ProgressChanged(logger, true);  // text changed, same percent
            for (double value : {300.0, -1.0, 1000.0}) // -0.1 % counts as 0 %: a record
                Step(logger, visualizer, value);
            visualizer.Clear();
            logger->Message(VerbosityFatal, "not shown after Clear");
        });
        const std::string ids =
            network ? "<HOSTNAME>" + std::string(host) + "</HOSTNAME>\n<PID>" + std::to_string(getpid()) + "</PID>\n"
                    : "";
        const std::string logIds = network ? ids + "<TID>" + tid + "</TID>\n" : "";
        const auto log = [&](const std::string& type, const std::string& text, const std::string& task = "",
                             const std::string& time = "@") {
            return "<LOG>\n<TIME>" + time + "</TIME>\n<TYPE>" + type + "</TYPE>\n" + logIds +
                   (task.empty() ? "" : "<TASKID>" + task + "</TASKID>\n") + "<TEXT>" + text + "</TEXT>\n</LOG>\n\n";
        };
        const auto progress = [&](const std::string& percentage, const std::string& text = "") {
            return "<PROGRESS>\n" + (text.empty() ? "" : "<TEXT>" + text + "</TEXT>\n") + "<PERCENTAGE>" + percentage +
                   "</PERCENTAGE>\n" + ids + "</PROGRESS>\n\n";
        };
        EXPECT_EQ(
            Normalise(raw),
            g_sPrologue + log("INFO", "Startup") + log("INFO", "first line") + log("INFO", "second line") +
                log("FATAL", "with task", "job-7") + log("", "unnamed") +
                log("DEBUG", "&lt;/TEXT&gt;&lt;/LOG&gt;\n&lt;LOG&gt;&lt;TEXT&gt;\"forged\"", "a&amp;b", "&lt;now&gt;") +
                log("INFO", R + "\x7F " + R + R + " ok\xC3\xA9", R, "t") + progress("0", "Job") + progress("42.9") +
                progress("43.1") + progress("43.9", "Job: phase &lt;2&gt;") + progress("30") + progress("-0.1") +
                progress("100") + log("INFO", "Total Runtime: RUNTIMEs") + g_sEpilogue + (network ? "\n" : ""));
    }
}

// A refused connection silences the output at once; a listener whose queue is full drops connection
// requests, like a filtering firewall, and the attempt is bounded by the given time.
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
    for (const double bound : {0.0, 0.3}) {
        if (bound > 0 && !dropping)
            break; // the kernel does not drop connection requests on a full queue
        const auto start = std::chrono::steady_clock::now();
        {
            const int port = bound > 0 ? full.m_nPort : closed.m_nPort;
            auto visualizer =
                boost::make_shared<CNetVisualizer>("127.0.0.1", port, boost::posix_time::milliseconds(300));
            visualizer->AddLogger(logger);
            Step(logger, *visualizer, 5);
            visualizer->Clear();
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_GE(seconds, bound - 0.05);
        EXPECT_LT(seconds, bound * 2 + 2);
    }
    close(filler);
}

// A send to a vanished collector must not raise SIGPIPE, whose default disposition would kill the host.
TEST(NetVisualizer, PeerClosingMidwayLeavesTheHostRunning)
{
    signal(SIGPIPE, SIG_DFL);
    SListener listener;
    auto logger = MakeLogger("root", 1.0, 1000.0);
    auto visualizer = boost::make_shared<CNetVisualizer>("127.0.0.1", listener.m_nPort);
    visualizer->AddLogger(logger);
    close(::Test::AcceptOne(listener.m_nFd));
    for (int i = 1; i <= 300; ++i) {
        logger->Message(VerbosityInfo, "record " + std::to_string(i));
        Step(logger, *visualizer, i);
        if (i % 50 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    visualizer->Clear();
}

TEST(ZevVisualizer, MessageAndProgressLines)
{
    auto logger = MakeLogger("", 1.0, 1000.0);
    logger->SetNotificationLevel(VerbosityTrace);
    testing::internal::CaptureStdout();
    {
        auto visualizer = boost::make_shared<CZevVisualizer>();
        CZevVisualizer silent(true); // construction and destruction write nothing
        visualizer->ProgressChanged(MakeLogger("text", 1.0, 10.0, 5.0), true); // no logger yet: ignored
        visualizer->ShowMessage("careful: the disk is almost full", VerbosityWarning, "10:00:00", "");
        visualizer->ShowMessage("same <&> bytes", VerbosityError, "10:00:01", "task-9");
        visualizer->ShowMessage("unnamed", VerbosityNone, "10:00:02", "");
        visualizer->AddLogger(logger);
        logger->Message(VerbosityDebug, "one\ntwo", "task");
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
    EXPECT_EQ(Normalise(testing::internal::GetCapturedStdout()),
              "10:00:00 WARNING: careful: the disk is almost full\n10:00:01 ERROR: same <&> bytes\n10:00:02 : unnamed\n"
              "@ INFO: Startup\n@ DEBUG: one\n@ DEBUG: two\nProgress: 2%\nProgress: 5%\nProgress: 3%\n"
              "Progress: Phase <1>\nProgress: 12.5%\nProgress: \nProgress: 100%\n@ INFO: Total Runtime: RUNTIMEs\n");
}
