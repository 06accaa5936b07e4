// The syslog output against a real rsyslogd of the test's own (loopback ports, a
// local socket), whose file action writes what it received and parsed.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <fstream>
#include <thread>

#include <boost/make_shared.hpp>

#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/Progress/SyslogVisualizer.h>

#include "support/Loopback.h"
#include "support/TemporaryDirectory.h"

using namespace Qz::Varnel::Progress;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
const int g_nPerThread = 2500;
#else
const int g_nPerThread = 25000;
#endif

const char g_acDaemon[] = "/usr/sbin/rsyslogd";

// Each line of the daemon's file holds PRI, MSGID, the parsed structured
// data and MSG, separated by tabs.
class CSyslogDaemon : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (::access(g_acDaemon, X_OK) != 0)
            GTEST_SKIP() << g_acDaemon << " is not installed (Debian's rsyslog; scripts/install-deps.sh installs it)";
        int udp = 0, &tcp = m_nTcpPort; // free ports
        ::close(::Test::BoundSocket(SOCK_STREAM, tcp, -1));
        ::close(::Test::BoundSocket(SOCK_DGRAM, udp, -1));
        m_oAddresses = {"udp://127.0.0.1:" + std::to_string(udp), "tcp://127.0.0.1:" + std::to_string(tcp),
                        "unix:" + m_oDirectory / "log"};
        std::ofstream(m_sConfig)
            << "global(workDirectory=\"" << m_oDirectory.Path() << "\" maxMessageSize=\"64k\")\n"
            << "module(load=\"imtcp\")\nmodule(load=\"imudp\")\nmodule(load=\"mmpstrucdata\")\n"
            << "module(load=\"imuxsock\" SysSock.Use=\"off\")\n"
            << "template(name=\"t\" type=\"string\" string=\"%pri%\\t%msgid%\\t%$!rfc5424-sd%\\t%msg%\\n\")\n"
            << "ruleset(name=\"r\") {\n  action(type=\"mmpstrucdata\")\n"
            << "  action(type=\"omfile\" file=\"" << m_sOut << "\" template=\"t\")\n}\n"
            << "input(type=\"imtcp\" address=\"127.0.0.1\" port=\"" << tcp << "\" ruleset=\"r\")\n"
            << "input(type=\"imudp\" address=\"127.0.0.1\" port=\"" << udp << "\" ruleset=\"r\")\n"
            << "input(type=\"imuxsock\" Socket=\"" << m_oDirectory / "log"
            << "\" UseSpecialParser=\"off\" Ruleset=\"r\")\n";
        Start();
    }

    void Start()
    {
        m_nPid = ::fork();
        if (m_nPid == 0) {
            ::execl(g_acDaemon, g_acDaemon, "-n", "-f", m_sConfig.c_str(), "-i", m_sPidFile.c_str(), nullptr);
            ::_exit(127);
        }
        // Every input has its socket once the TCP input accepts.
        const sockaddr_in address = ::Test::Loopback(m_nTcpPort);
        ASSERT_TRUE(::Test::WaitFor(10, [&] {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            const bool accepts = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
            ::close(fd);
            return accepts;
        }));
    }

    void TearDown() override
    {
        if (m_nPid > 0 && ::kill(m_nPid, SIGTERM) == 0)
            ::waitpid(m_nPid, nullptr, 0);
    }

    // Waits until the file holds count lines, then a little longer: nothing more must come.
    std::vector<std::string> WaitForLines(std::size_t count, int seconds = 10)
    {
        const auto lines = [&] { return ::Test::SplitLines(::Test::ReadFileOrEmpty(m_sOut)); };
        ::Test::WaitFor(seconds, [&] { return lines().size() >= count; });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return lines();
    }

    ::Test::CTemporaryDirectory m_oDirectory;
    const std::string m_sOut = m_oDirectory / "received.log", m_sConfig = m_oDirectory / "rsyslog.conf",
                      m_sPidFile = m_oDirectory / "rsyslogd.pid";
    std::vector<std::string> m_oAddresses;
    int m_nTcpPort = 0;
    pid_t m_nPid = -1;
};

} // namespace

// Every message arrives once, with the PRI, MSGID, structured data and text
// that rsyslog makes of it, over each transport in turn.
TEST_F(CSyslogDaemon, MessagesArriveParsed)
{
    const auto logger = boost::make_shared<CLogger>("Job [1]", 1.0, 10.0);
    const std::string sd = "{ \"vidoderavev@32473\": { ";
    std::vector<std::string> expected;
    for (const std::string& address : m_oAddresses) {
        const auto output = CSyslogVisualizer::Create(address);
        output->SetNotificationLevel(VerbosityWarning);
        output->AddLogger(logger);
        logger->Message(VerbosityError, "failed \"quoted\" \\ here", "task \"7\" ]");
        logger->SetProgress(5.0);
        output->ProgressChanged(logger, true);
        output->Clear();
        expected.push_back("11\tLOG\t" + sd +
                           "\"level\": \"ERROR\", \"task\": \"task \\\"7\\\" ]\", \"logger\": \"Job [1]\" } }"
                           "\tfailed \"quoted\" \\ here");
        expected.push_back("14\tPROGRESS\t" + sd + "\"progress\": \"0.5\", \"logger\": \"Job [1]\" } }\tJob [1]: 50 %");
        // rsyslogd's inputs run on threads of their own: each transport's
        // lines are waited for before the next one sends, so that the order is fixed.
        ASSERT_EQ(WaitForLines(expected.size()), expected) << address;
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
        const auto output = CSyslogVisualizer::Create(m_oAddresses[1], options);
        output->SetNotificationLevel(VerbosityWarning);
        output->AddLogger(logger);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&logger, t] {
                for (int i = 0; i < g_nPerThread; ++i)
                    logger->Message(VerbosityWarning, std::to_string(t) + "-" + std::to_string(i), "");
            });
        for (std::thread& thread : threads)
            thread.join();
        EXPECT_EQ(output->GetDroppedCount(), 0u);
        output->Clear();
    }
    std::vector<std::string> lines = WaitForLines(4u * g_nPerThread, 120);
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines.size(), 4u * g_nPerThread);
    EXPECT_EQ(std::adjacent_find(lines.begin(), lines.end()), lines.end()) << "a message arrived twice";
}

// The collector dies and comes back: no waiting, drops counted, the drop WARNING before the queued ones.
TEST_F(CSyslogDaemon, RestartedCollectorGetsTheDropNote)
{
    SSyslogOptions options;
    options.m_nQueueCapacity = 10;
    const auto logger = boost::make_shared<CLogger>("r");
    const auto output = CSyslogVisualizer::Create(m_oAddresses[1], options);
    output->SetNotificationLevel(VerbosityWarning);
    output->AddLogger(logger);
    logger->Message(VerbosityWarning, "before", "");
    ASSERT_EQ(WaitForLines(1).size(), 1u);
    ::kill(m_nPid, SIGKILL);
    ::waitpid(m_nPid, nullptr, 0);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 50; ++i)
        logger->Message(VerbosityWarning, "down " + std::to_string(i), "");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)); // only waiting for it fails this
    const auto dropped = output->GetDroppedCount();
    EXPECT_GE(dropped, 40u);
    Start();
    const std::vector<std::string> lines = WaitForLines(52 - dropped, 15);
    output->Clear();
    ASSERT_EQ(lines.size(), 52 - dropped);
    EXPECT_EQ(lines[1].substr(0, 7) + lines[1].substr(lines[1].rfind('\t')),
              "12\tLOG\t\t" + std::to_string(dropped) + " messages were dropped while the collector was unreachable");
    for (std::size_t i = 2; i < lines.size(); ++i)
        EXPECT_NE(lines[i].find("\tdown "), std::string::npos) << lines[i];
}
