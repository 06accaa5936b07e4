// The syslog output: the bytes of its messages, the datagram limit, address
// parsing, and what a TCP collector that is away or slow costs.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <regex>
#include <thread>

#include <boost/make_shared.hpp>

#include <vidOderavev/Diagnostics.h>
#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/Progress/Rfc5424.h>
#include <vidOderavev/Progress/SyslogVisualizer.h>
#include <vidOderavev/Progress/XmlEscape.h>

#include "support/Loopback.h"

using namespace Qz::Varnel::Progress;

namespace {

const std::string R = "\xEF\xBF\xBD";

std::vector<std::string> ReceiveDatagrams(int fd)
{
    std::vector<std::string> datagrams;
    char buffer[65536];
    for (ssize_t n;
         ::Test::Readable(fd, datagrams.empty() ? 2000 : 200) && (n = ::recv(fd, buffer, sizeof buffer, 0)) >= 0;)
        datagrams.emplace_back(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    return datagrams;
}

std::string Repaired(const std::string& text, std::string out = {})
{
    return Detail::AppendUtf8Repaired(out, text), out;
}

// What is wrong with a message as the output writes it ("" if nothing); fills in MSG and the values.
std::string Rfc5424Fault(const std::string& m, std::string& msg, std::map<std::string, std::string>& params)
{
    static const std::string s_sName = "[!#-<>-\\\\^-~]{1,32}"; // printable ASCII but '=', ']' and '"'
    static const std::regex s_oHeader("<(1[0-8][0-9]|19[01]|[1-9]?[0-9])>1 [0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}"
                                      "(:[0-9]{2}){2}(\\.[0-9]{1,6})?(Z|[+-][0-9]{2}:[0-9]{2}) [!-~]{1,255} "
                                      "[!-~]{1,48} [!-~]{1,128} [!-~]{1,32} \\[" +
                                      s_sName),
        s_oParam(" (" + s_sName + ")=\"((?:[^\"\\\\\\]]|\\\\[\"\\\\\\]])*)\""), s_oEscape("\\\\(.)");
    std::smatch hit;
    if (!std::regex_search(m, hit, s_oHeader, std::regex_constants::match_continuous))
        return "header";
    auto at = m.begin() + hit.length(0);
    for (; std::regex_search(at, m.end(), hit, s_oParam, std::regex_constants::match_continuous); at += hit.length(0)) {
        const std::string value = std::regex_replace(hit.str(2), s_oEscape, "$1");
        if (value != Repaired(value) || !params.emplace(hit.str(1), value).second)
            return "value of " + hit.str(1);
    }
    if (m.compare(static_cast<std::size_t>(at - m.begin()), 2, "] ") != 0)
        return "end of the element at " + std::to_string(at - m.begin());
    msg = std::string(at + 2, m.end());
    return msg == Repaired(msg) ? "" : "MSG not UTF-8";
}

} // namespace

TEST(Syslog, UdpMessagesByteForByte)
{
    int port = 0;
    const int receiver = ::Test::BoundSocket(SOCK_DGRAM, port);
    SSyslogOptions options;
    options.m_nFacility = 16; // local0
    options.m_sAppName = "app";
    const auto logger = boost::make_shared<CLogger>("Root \"x\" \xFF", 1.0, 100.0);
    {
        const auto output = boost::make_shared<CSyslogVisualizer>(eSyslogUdp, "127.0.0.1", port, options);
        output->AddLogger(logger);
        logger->SetNotificationLevel(VerbosityTrace);
        for (int level = 1; level <= 7; ++level)
            logger->Message(static_cast<_EVerbosityLevel>(level), "line " + std::to_string(level), "t]\\\xC3");
        logger->SetProgress(42.0);
        output->ProgressChanged(logger, true);
        logger->Message(VerbosityInfo, std::string("bad \xC3 byte"), "");
        EXPECT_EQ(output->GetDroppedCount(), 0u);
        output->Clear();
    }
    std::string bytes;
    for (const std::string& datagram : ReceiveDatagrams(receiver))
        bytes += std::regex_replace(datagram, std::regex("^(<[0-9]+>1 )[-+:.T0-9]{32} "), "$1T ") + "\n";
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const std::string ids = std::string(host) + " app " + std::to_string(getpid()) + " ";
    const auto log = [&](int pri, const std::string& level, const std::string& params, const std::string& text) {
        return "<" + std::to_string(pri) + ">1 T " + ids + "LOG [vidOderavev@32473" +
               (level.empty() ? "" : " level=\"" + level + "\"") + params + " logger=\"Root \\\"x\\\" " + R + "\"] " +
               text + "\n";
    };
    const std::string task = " task=\"t\\]\\\\" + R + "\"";
    EXPECT_EQ(std::regex_replace(bytes, std::regex("Total Runtime: [0-9:.]+s"), "Total Runtime: RUNTIMEs"),
              log(133, "INFO", "", "Startup") + log(130, "FATAL", task, "line 1") + log(131, "ERROR", task, "line 2") +
                  log(132, "WARNING", task, "line 3") + log(133, "INFO", task, "line 4") +
                  log(134, "LOG", task, "line 5") + log(135, "DEBUG", task, "line 6") +
                  log(135, "TRACE", task, "line 7") + "<134>1 T " + ids +
                  "PROGRESS [vidOderavev@32473 progress=\"0.42\" logger=\"Root \\\"x\\\" " + R + "\"] Root \"x\" " + R +
                  ": 42 %\n" + log(133, "INFO", " progress=\"0.42\"", "bad " + R + " byte") +
                  log(133, "INFO", " progress=\"0.42\"", "Total Runtime: RUNTIMEs"));
}

// Random bytes in line, task and root text: well-formed, read back repaired, cut only before the mark.
TEST(Syslog, RandomBytesStayWellFormed)
{
    auto bytes = [random = std::mt19937(20240611)](std::size_t most) mutable { // mostly what needs escaping or repair
        std::string text(random() % (most + 1), '\0');
        for (char& c : text)
            c = random() % 2 ? "\"\\]=[ \xC3\xE2\xF0\x80\xBF\xFF"[random() % 12] : static_cast<char>(random());
        return text;
    };
    const Detail::CRfc5424Format format(1, "x@1", "fuzz");
    for (int r = 0; r < 400; ++r) {
        const Detail::SSyslogEntry entry{r % 8, r % 5 == 0, r % 3 == 0, 0.5, {}, bytes(600), bytes(99), bytes(99)};
        const std::string line = Repaired(entry.m_sText), task = Repaired(entry.m_sTaskId);
        for (const std::size_t limit : {0u, 480u}) {
            std::string message, msg;
            std::map<std::string, std::string> params;
            format.Append(message, entry, limit);
            ASSERT_EQ(Rfc5424Fault(message, msg, params), "") << message;
            const std::string cut = line.substr(0, std::max<std::size_t>(msg.size(), 5) - 5) + "[...]";
            EXPECT_TRUE(limit == 0
                            ? msg == line && params["task"] == task && params["logger"] == Repaired(entry.m_sRootText)
                            : message.size() <= limit && (msg == line || msg == cut))
                << message;
        }
    }
}

TEST(Syslog, DatagramLimitAndAddresses)
{
    int port = 0;
    const int receiver = ::Test::BoundSocket(SOCK_DGRAM, port);
    const auto logger = boost::make_shared<CLogger>("r");
    {
        const auto output = CSyslogVisualizer::Create("udp://127.0.0.1:" + std::to_string(port));
        output->SetNotificationLevel(VerbosityWarning);
        output->AddLogger(logger);
        std::string text;
        for (int i = 0; i < 2000; ++i)
            text += "\xC3\xA9"; // two bytes
        logger->Message(VerbosityError, text, "");
        output->Clear();
    }
    const std::vector<std::string> datagrams = ReceiveDatagrams(receiver);
    ASSERT_EQ(datagrams.size(), 1u);
    EXPECT_LE(datagrams[0].size(), 2048u);
    EXPECT_GT(datagrams[0].size(), 2040u);
    const std::string msg = datagrams[0].substr(datagrams[0].find("] ") + 2);
    EXPECT_TRUE(std::regex_match(msg, std::regex("(\xC3\xA9)+\\[\\.\\.\\.\\]"))) << msg;

    for (const char* address : {"udp://[::1]:514", "tcp://h:65535", "unix:/nonexistent/log"})
        EXPECT_NO_THROW(CSyslogVisualizer::Create(address)) << address;
    for (const char* address : {"unix:", "tcp://host", "udp://::1:514", "http://h:1", "udp://h:70000", "udp://h:0",
                                "udp://h:", "udp://:5", "udp://h:5a4", "udp://[]:5"})
        EXPECT_THROW(CSyslogVisualizer::Create(address), std::invalid_argument) << address;
}

// Nothing listens at first: the queue takes what it can hold, the newest
// are dropped; once a collector listens, the sender connects on its next
// try (after 1 s) and sends the drop WARNING before the queued messages, in
// octet-counted frames.
TEST(Syslog, TcpAnnouncesDropsWhenTheCollectorComesBack)
{
    int port = 0;
    ::close(::Test::BoundSocket(SOCK_STREAM, port, -1));
    SSyslogOptions options;
    options.m_nQueueCapacity = 5;
    const auto logger = boost::make_shared<CLogger>("r");
    const auto output = boost::make_shared<CSyslogVisualizer>(eSyslogTcp, "127.0.0.1", port, options);
    output->SetNotificationLevel(VerbosityWarning);
    output->AddLogger(logger);
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the first attempt has failed
    for (int i = 0; i < 12; ++i)
        logger->Message(VerbosityWarning, "m" + std::to_string(i), "");
    EXPECT_EQ(output->GetDroppedCount(), 7u);
    const int listener = ::Test::BoundSocket(SOCK_STREAM, port);
    const std::string stream = ::Test::ReadAll(::Test::AcceptOne(listener), 1000);
    ::close(listener);
    output->Clear();
    std::string texts;
    for (std::size_t at = 0, space; (space = stream.find(' ', at)) != std::string::npos;) {
        const std::size_t length = std::stoul(stream.substr(at, space - at));
        const std::string frame = stream.substr(space + 1, length);
        texts += std::regex_replace(frame, std::regex("^<([0-9]+)>1 [^\\]]*\\] "), "$1 ") + "\n";
        at = space + 1 + length;
    }
    EXPECT_EQ(texts,
              "12 7 messages were dropped while the collector was unreachable\n12 m0\n12 m1\n12 m2\n12 m3\n12 m4\n");
}

// A collector that accepts and never reads: messages pile up in the queue and
// then are dropped; destruction gives up after the shutdown bound and says
// how many messages were lost.
TEST(Syslog, TcpCollectorThatNeverReadsCostsDropsNotTime)
{
    int port = 0;
    const int listener = ::Test::BoundSocket(SOCK_STREAM, port);
    std::string diagnostics;
    const auto previous = Qz::Varnel::Detail::SetDiagnosticSink([&](const std::string& text) { diagnostics += text; });
    SSyslogOptions options;
    options.m_nQueueCapacity = 100;
    options.m_oShutdownTimeout = boost::posix_time::milliseconds(300);
    const auto logger = boost::make_shared<CLogger>("r");
    {
        const auto output = boost::make_shared<CSyslogVisualizer>(eSyslogTcp, "127.0.0.1", port, options);
        output->SetNotificationLevel(VerbosityWarning);
        output->AddLogger(logger);
        for (int i = 0; i < 2000; ++i)
            logger->Message(VerbosityWarning, std::string(60000, 'x'), "");
        EXPECT_GT(output->GetDroppedCount(), 0u);
        output->Clear();
    } // only a hang fails here
    Qz::Varnel::Detail::SetDiagnosticSink(previous);
    ::close(listener);
    EXPECT_NE(diagnostics.find("syslog messages for 127.0.0.1:" + std::to_string(port) + " were dropped"),
              std::string::npos)
        << diagnostics;
}
