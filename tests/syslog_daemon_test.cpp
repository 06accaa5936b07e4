// The syslog output against a real rsyslogd that the test starts for itself
// on free loopback ports, with TCP and UDP inputs, the structured-data parser
// and a file action that writes what the daemon received and parsed.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <boost/make_shared.hpp>

#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/Progress/SyslogVisualizer.h>

#include "support/Loopback.h"
#include "support/Rfc5424Check.h"
#include "support/TemporaryDirectory.h"

using namespace Qz::Varnel::Progress;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
const int g_nPerThread = 2500;
#else
const int g_nPerThread = 25000;
#endif

const char g_acDaemon[] = "/usr/sbin/rsyslogd";

int FreePort(int type)
{
    int port = 0;
    ::close(::Test::BoundSocket(type, port, -1));
    return port;
}

bool Accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = ::Test::Loopback(port);
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

std::vector<std::string> Lines(const std::string& path)
{
    std::ifstream file(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    return lines;
}

// One line of the daemon's file: the fields the template writes, separated by tabs.
struct SReceived
{
    std::string m_sPri, m_sMsgId, m_sStructured, m_sMsg, m_sRaw;
};

SReceived Split(const std::string& line)
{
    SReceived r;
    std::istringstream in(line);
    std::getline(in, r.m_sPri, '\t');
    std::getline(in, r.m_sMsgId, '\t');
    std::getline(in, r.m_sStructured, '\t');
    std::getline(in, r.m_sMsg, '\t');
    std::getline(in, r.m_sRaw);
    return r;
}

class CSyslogDaemon : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (::access(g_acDaemon, X_OK) != 0)
            GTEST_SKIP() << g_acDaemon << " is not installed (Debian's rsyslog; scripts/install-deps.sh installs it)";
        m_nTcpPort = FreePort(SOCK_STREAM);
        m_nUdpPort = FreePort(SOCK_DGRAM);
        m_sOut = m_oDirectory.Path() + "/received.log";
        m_sConfig = m_oDirectory.Path() + "/rsyslog.conf";
        std::ofstream config(m_sConfig);
        config << "global(workDirectory=\"" << m_oDirectory.Path() << "\" maxMessageSize=\"64k\")\n"
               << "module(load=\"imtcp\")\nmodule(load=\"imudp\")\nmodule(load=\"mmpstrucdata\")\n"
               << "template(name=\"t\" type=\"string\" "
                  "string=\"%pri%\\t%msgid%\\t%$!rfc5424-sd%\\t%msg%\\t%rawmsg%\\n\")\n"
               << "ruleset(name=\"r\") {\n"
               << "  if $rawmsg == \"probe\" then {\n"
               << "    action(type=\"omfile\" file=\"" << m_sOut << ".probe\" template=\"t\")\n    stop\n  }\n"
               << "  action(type=\"mmpstrucdata\")\n"
               << "  action(type=\"omfile\" file=\"" << m_sOut << "\" template=\"t\")\n}\n"
               << "input(type=\"imtcp\" address=\"127.0.0.1\" port=\"" << m_nTcpPort << "\" ruleset=\"r\")\n"
               << "input(type=\"imudp\" address=\"127.0.0.1\" port=\"" << m_nUdpPort << "\" ruleset=\"r\")\n";
        config.close();
        ASSERT_TRUE(Start());
    }

    void TearDown() override { Stop(SIGTERM); }

    bool Start()
    {
        const std::string pidFile = m_oDirectory.Path() + "/rsyslogd.pid";
        m_nPid = ::fork();
        if (m_nPid == 0) {
            ::execl(g_acDaemon, g_acDaemon, "-n", "-f", m_sConfig.c_str(), "-i", pidFile.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // Ready when the TCP input accepts and a probe datagram has come through.
        const int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in address = ::Test::Loopback(m_nUdpPort);
        bool ready = false;
        for (int i = 0; i < 200 && !ready; ++i) {
            ::sendto(probe, "probe", 5, 0, reinterpret_cast<const sockaddr*>(&address), sizeof address);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            ready = Accepts(m_nTcpPort) && !Lines(m_sOut + ".probe").empty();
        }
        ::close(probe);
        return ready;
    }

    void Stop(int signal)
    {
        if (m_nPid <= 0)
            return;
        ::kill(m_nPid, signal);
        ::waitpid(m_nPid, nullptr, 0);
        m_nPid = -1;
    }

    // Waits (10 s at most, longer for the big run) until the file holds count lines.
    std::vector<std::string> WaitForLines(std::size_t count, int seconds = 10)
    {
        ::Test::WaitFor(seconds, [&] { return Lines(m_sOut).size() >= count; });
        std::this_thread::sleep_for(std::chrono::milliseconds(200)); // nothing more must come
        return Lines(m_sOut);
    }

    ::Test::CTemporaryDirectory m_oDirectory;
    std::string m_sOut, m_sConfig;
    int m_nTcpPort = 0, m_nUdpPort = 0;
    pid_t m_nPid = -1;
};

} // namespace

// Every message arrives once, with the PRI, MSGID, structured data and text
// rsyslog makes of it, over both network transports.
TEST_F(CSyslogDaemon, MessagesArriveParsed)
{
    const auto logger = boost::make_shared<CLogger>("Job [1]", 1.0, 10.0);
    for (const std::string scheme : {"udp", "tcp"}) {
        const int port = scheme == "udp" ? m_nUdpPort : m_nTcpPort;
        const auto output = CSyslogVisualizer::Create(scheme + "://127.0.0.1:" + std::to_string(port));
        output->SetNotificationLevel(static_cast<_EVerbosityLevel>(3));
        output->AddLogger(logger);
        logger->Message(static_cast<_EVerbosityLevel>(2), scheme + " failed \"quoted\" \\ here", "task \"7\" ]");
        logger->Message(static_cast<_EVerbosityLevel>(3), scheme + " careful", "");
        logger->SetProgress(5.0);
        output->ProgressChanged(logger, true);
        output->Clear();
    }
    const std::vector<std::string> lines = WaitForLines(6);
    ASSERT_EQ(lines.size(), 6u);
    for (std::size_t i = 0; i < 2; ++i) {
        const std::string scheme = i == 0 ? "udp" : "tcp";
        const SReceived error = Split(lines[3 * i]);
        EXPECT_EQ(error.m_sPri, "11");
        EXPECT_EQ(error.m_sMsgId, "LOG");
        EXPECT_NE(error.m_sStructured.find("\"level\": \"ERROR\""), std::string::npos) << error.m_sStructured;
        EXPECT_NE(error.m_sStructured.find("\"task\": \"task \\\"7\\\" ]\""), std::string::npos) << error.m_sStructured;
        EXPECT_NE(error.m_sStructured.find("\"logger\": \"Job [1]\""), std::string::npos) << error.m_sStructured;
        EXPECT_EQ(error.m_sMsg, scheme + " failed \"quoted\" \\ here");
        ::Test::SSyslogMessage raw;
        std::string why;
        EXPECT_TRUE(::Test::ParseRfc5424(error.m_sRaw, raw, why)) << why;
        const SReceived warning = Split(lines[3 * i + 1]);
        EXPECT_EQ(warning.m_sPri, "12");
        EXPECT_EQ(warning.m_sMsg, scheme + " careful");
        const SReceived progress = Split(lines[3 * i + 2]);
        EXPECT_EQ(progress.m_sPri, "14");
        EXPECT_EQ(progress.m_sMsgId, "PROGRESS");
        EXPECT_NE(progress.m_sStructured.find("\"progress\": \"0.5\""), std::string::npos) << progress.m_sStructured;
        EXPECT_EQ(progress.m_sMsg, "Job [1]: 50 %");
    }
}

// Four threads over one TCP output: nothing lost, nothing twice.
TEST_F(CSyslogDaemon, ManyMessagesFromFourThreads)
{
    SSyslogOptions options;
    options.m_nQueueCapacity = 4 * g_nPerThread;
    options.m_oShutdownTimeout = boost::posix_time::seconds(60);
    const auto logger = boost::make_shared<CLogger>("r");
    {
        const auto output = boost::make_shared<CSyslogVisualizer>(eSyslogTcp, "127.0.0.1", m_nTcpPort, options);
        output->SetNotificationLevel(static_cast<_EVerbosityLevel>(3));
        output->AddLogger(logger);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&logger, t] {
                for (int i = 0; i < g_nPerThread; ++i)
                    logger->Message(static_cast<_EVerbosityLevel>(3), std::to_string(t) + "-" + std::to_string(i), "");
            });
        for (std::thread& thread : threads)
            thread.join();
        EXPECT_EQ(output->GetDroppedCount(), 0u);
        output->Clear();
    }
    const std::vector<std::string> lines = WaitForLines(4u * g_nPerThread, 120);
    std::vector<std::string> texts;
    for (const std::string& line : lines)
        texts.push_back(Split(line).m_sMsg);
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(std::adjacent_find(texts.begin(), texts.end()), texts.end()) << "a message arrived twice";
    EXPECT_EQ(texts.size(), 4u * g_nPerThread);
}

// The collector dies and comes back: while it is down the host never waits,
// what the queue cannot hold is dropped and counted, and after the restart the
// drop WARNING comes first, then the queued messages.
TEST_F(CSyslogDaemon, RestartedCollectorGetsTheDropNote)
{
    SSyslogOptions options;
    options.m_nQueueCapacity = 10;
    const auto logger = boost::make_shared<CLogger>("r");
    const auto output = boost::make_shared<CSyslogVisualizer>(eSyslogTcp, "127.0.0.1", m_nTcpPort, options);
    output->SetNotificationLevel(static_cast<_EVerbosityLevel>(3));
    output->AddLogger(logger);
    logger->Message(static_cast<_EVerbosityLevel>(3), "before", "");
    ASSERT_EQ(WaitForLines(1).size(), 1u);

    Stop(SIGKILL);
    double slowest = 0.0;
    for (int i = 0; i < 50; ++i) {
        const auto start = std::chrono::steady_clock::now();
        logger->Message(static_cast<_EVerbosityLevel>(3), "down " + std::to_string(i), "");
        slowest = std::max(slowest, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_LT(slowest, 2.0); // only a send that waits for the collector fails this
    const uint64_t dropped = output->GetDroppedCount();
    EXPECT_GE(dropped, 40u);
    ASSERT_TRUE(Start());

    const std::vector<std::string> lines = WaitForLines(1 + 1 + 50 - dropped, 15);
    output->Clear();
    ASSERT_EQ(lines.size(), 1 + 1 + 50 - dropped);
    const SReceived note = Split(lines[1]);
    EXPECT_EQ(note.m_sPri, "12");
    EXPECT_EQ(note.m_sMsg, std::to_string(dropped) + " messages were dropped while the collector was unreachable");
    for (std::size_t i = 2; i < lines.size(); ++i)
        EXPECT_EQ(Split(lines[i]).m_sMsg.compare(0, 5, "down "), 0);
}
