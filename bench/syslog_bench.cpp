// CLogger::Message through the syslog output beside its floor, measured in
// the same run: over UDP, one sendto of the same datagram; over TCP, where the
// reporting thread only queues, an uncontended mutex pair plus three 32-byte
// string copies (the line, the task identifier, the root text). The targets:
// UDP at most 1.3 times its floor, the TCP producer side at most 4 times.

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include <boost/make_shared.hpp>

#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/Progress/Rfc5424.h>
#include <vidOderavev/Progress/SyslogVisualizer.h>
#include <vidOderavev/ThreadSafety.h>

#include "support/BenchSupport.h"

using namespace Qz::Varnel::Progress;

namespace {

const std::string g_sText = "Processed block 12345 of 99999.."; // 32 bytes
const std::string g_sTask = "task-0123456789-0123456789-01234";   // 32 bytes
const std::string g_sRoot = "Simulated computation, phase one";   // 32 bytes

// A loopback socket bound to a free port.
int Bound(int type, int& port)
{
    const int fd = ::socket(AF_INET, type, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    if (type == SOCK_STREAM)
        ::listen(fd, 4);
    return fd;
}

// Reads and discards everything that arrives until stopped. It looks every
// half millisecond instead of waiting in poll: a waiting reader would be woken
// by every datagram, and that wake-up (an interrupt to the other core, dear in
// a virtual machine) would be charged to whichever sender is slower.
class CDrain
{
public:
    explicit CDrain(int type) : m_nSocket(Bound(type, m_nPort)), m_nType(type)
    {
        m_oThread = std::thread([this] { _Run(); });
    }
    ~CDrain()
    {
        m_bStop = true;
        m_oThread.join();
        ::close(m_nSocket);
    }
    int Port() const { return m_nPort; }

private:
    void _Run()
    {
        int fd = m_nSocket;
        char buffer[65536];
        while (!m_bStop) {
            if (m_nType == SOCK_STREAM && fd == m_nSocket) {
                pollfd state{fd, POLLIN, 0};
                if (::poll(&state, 1, 50) > 0)
                    fd = ::accept(m_nSocket, nullptr, nullptr);
                continue;
            }
            ssize_t received;
            while ((received = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
            }
            if (received == 0)
                break;
            ::usleep(500);
        }
        if (fd != m_nSocket)
            ::close(fd);
    }

    int m_nPort = 0;
    int m_nSocket;
    int m_nType;
    std::atomic<bool> m_bStop{false};
    std::thread m_oThread;
};

void BM_UdpFloorSendto(benchmark::State& state)
{
    CDrain drain(SOCK_DGRAM);
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(drain.Port()));
    Detail::SSyslogEntry entry;
    entry.m_sText = g_sText;
    entry.m_sTaskId = g_sTask;
    entry.m_sRootText = g_sRoot;
    ::gettimeofday(&entry.m_oTime, nullptr);
    std::string datagram;
    Detail::CRfc5424Format(1, "vidOderavev@32473", "").Append(datagram, entry);
    for (auto _ : state)
        ::sendto(fd, datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::close(fd);
}
BENCHMARK(BM_UdpFloorSendto);

// direct: the output's own share, ShowMessage as the logger calls it, without
// the logger's line cutting and time stamp. paced: bursts of 1,000 messages
// with an untimed pause of 2 ms after each, in which the TCP sender (which
// formats at a few hundred nanoseconds a message) catches up: the cost of a
// host whose collector keeps up. Without it the queue grows for as long as
// the benchmark runs, and the figure includes the page faults of its growth.
void Messages(benchmark::State& state, ESyslogTransport transport, int port, bool direct = false,
              bool paced = false)
{
    SSyslogOptions options;
    options.m_nQueueCapacity = 1 << 20;
    const auto logger = boost::make_shared<CLogger>(g_sRoot);
    const auto output = boost::make_shared<CSyslogVisualizer>(transport, "127.0.0.1", port, options);
    output->AddLogger(logger);
    const std::string stamp = logger->GetTimeStamp();
    int burst = 0;
    for (auto _ : state) {
        if (direct)
            output->ShowMessage(g_sText, static_cast<_EVerbosityLevel>(4), stamp, g_sTask);
        else
            logger->Message(static_cast<_EVerbosityLevel>(4), g_sText, g_sTask);
        if (paced && ++burst == 1000) {
            burst = 0;
            state.PauseTiming();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            state.ResumeTiming();
        }
    }
    state.counters["dropped"] = static_cast<double>(output->GetDroppedCount());
    output->Clear();
}

void BM_UdpMessage(benchmark::State& state)
{
    CDrain drain(SOCK_DGRAM);
    Messages(state, eSyslogUdp, drain.Port());
}
BENCHMARK(BM_UdpMessage);

void BM_UdpShowMessage(benchmark::State& state)
{
    CDrain drain(SOCK_DGRAM);
    Messages(state, eSyslogUdp, drain.Port(), true);
}
BENCHMARK(BM_UdpShowMessage);

void BM_TcpFloorMutexAndThreeCopies(benchmark::State& state)
{
    Qz::Varnel::Detail::CMutex mutex;
    std::string a, b, c;
    for (auto _ : state) {
        mutex.lock();
        a = g_sText;
        b = g_sTask;
        c = g_sRoot;
        benchmark::DoNotOptimize(a.data());
        benchmark::DoNotOptimize(b.data());
        benchmark::DoNotOptimize(c.data());
        mutex.unlock();
        // Fresh strings each time, as a queued entry would be.
        std::string().swap(a);
        std::string().swap(b);
        std::string().swap(c);
    }
}
BENCHMARK(BM_TcpFloorMutexAndThreeCopies);

void BM_TcpMessage(benchmark::State& state)
{
    CDrain drain(SOCK_STREAM);
    Messages(state, eSyslogTcp, drain.Port());
}
// The producer's own CPU time: the sender thread runs on another core.
BENCHMARK(BM_TcpMessage);

void BM_TcpShowMessage(benchmark::State& state)
{
    CDrain drain(SOCK_STREAM);
    Messages(state, eSyslogTcp, drain.Port(), true);
}
BENCHMARK(BM_TcpShowMessage);

void BM_TcpMessagePaced(benchmark::State& state)
{
    CDrain drain(SOCK_STREAM);
    Messages(state, eSyslogTcp, drain.Port(), false, true);
}
BENCHMARK(BM_TcpMessagePaced);

void BM_TcpShowMessagePaced(benchmark::State& state)
{
    CDrain drain(SOCK_STREAM);
    Messages(state, eSyslogTcp, drain.Port(), true, true);
}
BENCHMARK(BM_TcpShowMessagePaced);

} // namespace

int main(int argc, char** argv)
{
    Bench::CTimesReporter reporter;
    if (!Bench::RunBenchmarks(argc, argv, reporter))
        return 1;
    const double udpFloor = reporter.CpuTime("BM_UdpFloorSendto");
    const double tcpFloor = reporter.CpuTime("BM_TcpFloorMutexAndThreeCopies");
    std::printf("\nCPU time as a multiple of the floor (targets: UDP <= 1.3x, TCP paced <= 4x;\n"
                "TCP unpaced: a flood that outruns the sender, for comparison)\n");
    for (const char* name : {"BM_UdpMessage", "BM_UdpShowMessage", "BM_TcpMessagePaced", "BM_TcpShowMessagePaced",
                             "BM_TcpMessage", "BM_TcpShowMessage"}) {
        const double floor = name[3] == 'U' ? udpFloor : tcpFloor;
        if (floor > 0.0 && reporter.CpuTime(name) > 0.0)
            std::printf("  %-24s %6.2fx\n", name, reporter.CpuTime(name) / floor);
    }
    return 0;
}
