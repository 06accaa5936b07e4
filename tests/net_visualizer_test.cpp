#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <boost/make_shared.hpp>
#include <boost/thread/barrier.hpp>

#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/Progress/SocketVisualizer.h>

#include "support/XmlStream.h"

using namespace Qz::Varnel::Progress;

namespace {

// A TCP listener on 127.0.0.1 with a port chosen by the system.
class CListener
{
public:
    explicit CListener(int backlog = 16, bool listening = true)
    {
        m_nFd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = Loopback(0);
        bind(m_nFd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        if (listening)
            listen(m_nFd, backlog);
        socklen_t length = sizeof address;
        getsockname(m_nFd, reinterpret_cast<sockaddr*>(&address), &length);
        m_nPort = ntohs(address.sin_port);
    }
    ~CListener() { close(m_nFd); }

    int Port() const { return m_nPort; }

    // A connection that the visualizer opened, or -1 after ten seconds.
    int Accept() const
    {
        pollfd ready{m_nFd, POLLIN, 0};
        if (poll(&ready, 1, 10000) != 1)
            return -1;
        return accept(m_nFd, nullptr, nullptr);
    }

    static sockaddr_in Loopback(int port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        return address;
    }

private:
    int m_nFd;
    int m_nPort;
};

// Everything the peer sends until it closes (ten seconds at most).
std::string ReadAll(int fd)
{
    std::string bytes;
    char buffer[4096];
    for (;;) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, 10000) != 1)
            break;
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return bytes;
}

bool HasData(int fd, int milliseconds)
{
    pollfd ready{fd, POLLIN, 0};
    return poll(&ready, 1, milliseconds) == 1;
}

std::string HostName()
{
    char buffer[1024] = {};
    gethostname(buffer, sizeof buffer - 1);
    return buffer;
}

std::string ThisThread() { return std::to_string(static_cast<unsigned long>(pthread_self())); }

const std::string g_sPrologue = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n<LOG_STREAM>\n";
const std::string g_sEpilogue = "<PROGRESS>\n<PERCENTAGE>-1</PERCENTAGE>\n</PROGRESS>\n</LOG_STREAM>\n\n";

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

} // namespace

TEST(NetVisualizer, WholeDocumentByteForByte)
{
    CListener listener;
    auto logger = boost::make_shared<CLogger>("Job <1>", 1.0, 100.0);
    logger->SetNotificationLevel(VerbosityTrace);
    auto visualizer = boost::make_shared<CNetVisualizer>("127.0.0.1", listener.Port());
    const int connection = listener.Accept();
    ASSERT_GE(connection, 0);
    // The prologue waits for the first record.
    EXPECT_FALSE(HasData(connection, 200));

    visualizer->AddLogger(logger);
    visualizer->ShowMessage("plain", VerbosityWarning, "2026-12-06 10:00:00", "");
    visualizer->ShowMessage("a&b", VerbosityError, "2026-12-06 10:00:01", "task<7>");
    logger->SetProgress(42.5, true);
    visualizer->ProgressChanged(logger, true);
    logger->SetProgress(42.9, true);
    visualizer->ProgressChanged(logger, true); // the same whole percent: nothing
    logger->SetProgress(10, true);
    visualizer->ProgressChanged(logger, true);
    std::thread other([&] { visualizer->ShowMessage("other thread", VerbosityInfo, "2026-12-06 10:00:02", ""); });
    other.join();
    visualizer->Clear();
    visualizer.reset();
    const std::string raw = ReadAll(connection);
    close(connection);

    const std::string host = HostName();
    const std::string pid = std::to_string(getpid());
    const std::string ids = "<HOSTNAME>" + host + "</HOSTNAME>\n<PID>" + pid + "</PID>\n";
    const std::string tid = "<TID>" + ThisThread() + "</TID>\n";
    auto log = [&](const std::string& time, const std::string& type, const std::string& task, const std::string& text) {
        return "<LOG>\n<TIME>" + time + "</TIME>\n<TYPE>" + type + "</TYPE>\n" + ids + tid +
               (task.empty() ? "" : "<TASKID>" + task + "</TASKID>\n") + "<TEXT>" + text + "</TEXT>\n</LOG>\n\n";
    };
    const std::string expected =
        g_sPrologue + log("@", "INFO", "", "Startup") + log("2026-12-06 10:00:00", "WARNING", "", "plain") +
        log("2026-12-06 10:00:01", "ERROR", "task&lt;7&gt;", "a&amp;b") + "<PROGRESS>\n<TEXT>Job &lt;1&gt;</TEXT>\n" +
        "<PERCENTAGE>42.5</PERCENTAGE>\n" + ids + "</PROGRESS>\n\n" + "<PROGRESS>\n<PERCENTAGE>10</PERCENTAGE>\n" +
        ids + "</PROGRESS>\n\n" + log("2026-12-06 10:00:02", "INFO", "", "other thread") +
        log("@", "INFO", "", "Total Runtime: RUNTIMEs") + g_sEpilogue;

    // The notes carry the logger's real time stamp and run time.
    static const std::regex s_oNoteTime("<TIME>\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}</TIME>(\\n<TYPE>INFO</TYPE>\\n"
                                        "<HOSTNAME>[^<]*</HOSTNAME>\\n<PID>\\d+</PID>\\n<TID>\\d+</TID>\\n<TEXT>"
                                        "(Startup|Total Runtime))");
    static const std::regex s_oRuntime("Total Runtime: \\d{2,}:\\d{2}:\\d{2}(\\.\\d{6})?s");
    const std::string normalised = std::regex_replace(std::regex_replace(raw, s_oNoteTime, "<TIME>@</TIME>$1"),
                                                      s_oRuntime, "Total Runtime: RUNTIMEs");
    EXPECT_EQ(normalised, expected);

    const ::Test::SXmlStream parsed = ::Test::ParseXmlStream(raw);
    ASSERT_TRUE(parsed.m_bWellFormed) << parsed.m_sError;
    ASSERT_EQ(parsed.m_oRecords.size(), 8u);
    EXPECT_EQ(parsed.m_oRecords[2].Field("TASKID"), "task<7>");
    EXPECT_EQ(parsed.m_oRecords[3].Field("TEXT"), "Job <1>");
    EXPECT_EQ(parsed.m_oRecords[5].Field("TID"), ThisThread());
}

TEST(NetVisualizer, NothingListeningGivesASilentVisualizer)
{
    // Bound but not listening: connections are refused.
    CListener closed(0, false);
    const auto start = std::chrono::steady_clock::now();
    auto logger = boost::make_shared<CLogger>("root", 1.0, 10.0);
    {
        auto visualizer = boost::make_shared<CNetVisualizer>("127.0.0.1", closed.Port());
        visualizer->AddLogger(logger);
        visualizer->ShowMessage("lost", VerbosityInfo, "2026-12-06 10:00:00", "");
        logger->SetProgress(5, true);
        visualizer->ProgressChanged(logger, true);
        visualizer->Clear();
    }
    EXPECT_LT(Seconds(start), 4.0);
}

// A collector address that drops connection requests must not hang the host:
// a listener whose queue is full drops them, like a filtering firewall.
TEST(NetVisualizer, ConnectionAttemptIsBounded)
{
    CListener full(0);
    const sockaddr_in address = CListener::Loopback(full.Port());
    const int filler = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(connect(filler, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    // Check that this kernel really drops the request now.
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    fcntl(probe, F_SETFL, O_NONBLOCK);
    connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    pollfd ready{probe, POLLOUT, 0};
    const bool dropped = poll(&ready, 1, 300) == 0;
    close(probe);
    if (!dropped) {
        close(filler);
        GTEST_SKIP() << "the kernel does not drop connection requests on a full queue";
    }

    auto start = std::chrono::steady_clock::now();
    {
        CNetVisualizer visualizer("127.0.0.1", full.Port(), boost::posix_time::milliseconds(300));
        visualizer.ShowMessage("lost", VerbosityInfo, "2026-12-06 10:00:00", "");
    }
    const double bounded = Seconds(start);
    EXPECT_GE(bounded, 0.25);
    EXPECT_LT(bounded, 3.0);

    // The two-argument constructor bounds the attempt at 5 s.
    start = std::chrono::steady_clock::now();
    {
        CNetVisualizer visualizer("127.0.0.1", full.Port());
        visualizer.ShowMessage("lost", VerbosityInfo, "2026-12-06 10:00:00", "");
    }
    const double byDefault = Seconds(start);
    EXPECT_GE(byDefault, 4.9);
    EXPECT_LT(byDefault, 10.0);
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
            CListener listener;
            auto logger = boost::make_shared<CLogger>("root", 1.0, 1000.0);
            logger->SetNotificationLevel(VerbosityTrace);
            auto visualizer = boost::make_shared<CNetVisualizer>("127.0.0.1", listener.Port());
            const int connection = listener.Accept();
            visualizer->AddLogger(logger);
            char buffer[256];
            if (read(connection, buffer, sizeof buffer) <= 0)
                std::_Exit(3);
            close(connection);
            double sum = 0.0;
            for (int i = 1; i <= 300; ++i) {
                logger->Message(VerbosityInfo, "record " + std::to_string(i));
                logger->SetProgress(i, true);
                visualizer->ProgressChanged(logger, true);
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

TEST(NetVisualizer, TwoThreadsShareHostAndPidButNotTid)
{
    CListener listener;
    boost::shared_ptr<CNetVisualizer> visualizers[2];
    std::string tids[2];
    boost::barrier together(2);
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i) {
        threads.emplace_back([&, i] {
            visualizers[i] = boost::make_shared<CNetVisualizer>("127.0.0.1", listener.Port());
            tids[i] = ThisThread();
            // Both threads stay alive until both visualizers exist, so their
            // identifiers cannot be reused.
            together.wait();
        });
    }
    for (auto& thread : threads)
        thread.join();
    const int first = listener.Accept();
    const int second = listener.Accept();
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    // Sent from this thread: the records still carry the constructing threads.
    visualizers[0]->ShowMessage("zero", VerbosityInfo, "2026-12-06 10:00:00", "");
    visualizers[1]->ShowMessage("one", VerbosityInfo, "2026-12-06 10:00:00", "");
    visualizers[0].reset();
    visualizers[1].reset();
    const ::Test::SXmlStream a = ::Test::ParseXmlStream(ReadAll(first));
    const ::Test::SXmlStream b = ::Test::ParseXmlStream(ReadAll(second));
    close(first);
    close(second);
    ASSERT_TRUE(a.m_bWellFormed) << a.m_sError;
    ASSERT_TRUE(b.m_bWellFormed) << b.m_sError;
    ASSERT_EQ(a.m_oRecords.size(), 2u);
    ASSERT_EQ(b.m_oRecords.size(), 2u);
    EXPECT_EQ(a.m_oRecords[0].Field("HOSTNAME"), HostName());
    EXPECT_EQ(b.m_oRecords[0].Field("HOSTNAME"), HostName());
    EXPECT_EQ(a.m_oRecords[0].Field("PID"), std::to_string(getpid()));
    EXPECT_EQ(b.m_oRecords[0].Field("PID"), std::to_string(getpid()));
    EXPECT_NE(tids[0], tids[1]);
    // The accepted order need not be the construction order.
    const std::string tidA = a.m_oRecords[0].Field("TID");
    const std::string tidB = b.m_oRecords[0].Field("TID");
    const std::string textA = a.m_oRecords[0].Field("TEXT");
    EXPECT_EQ(tidA, textA == "zero" ? tids[0] : tids[1]);
    EXPECT_EQ(tidB, textA == "zero" ? tids[1] : tids[0]);
    EXPECT_NE(tidA, ThisThread());
}
