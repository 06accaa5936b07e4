#include <vidOderavev/Progress/SyslogSender.h>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <cerrno>
#include <vector>

#include <vidOderavev/Diagnostics.h>
#include <vidOderavev/Internationalisation/FormatText.h>
#include <vidOderavev/Progress/WritePrefetch.h>

namespace Qz {
namespace Varnel {
namespace Progress {
namespace Detail {

namespace {

const std::chrono::seconds g_oFirstBackoff(1);
const std::chrono::seconds g_oLongestBackoff(30);
// One connection attempt waits at most this long, so that a stop is noticed.
const std::chrono::seconds g_oConnectTimeout(5);
// A blocked write wakes this often to notice a stop.
const int g_nWritePollMilliseconds = 100;
// After a batch the sender waits this long before it asks to be woken: a host
// that reports fast then hands over its messages without a wake-up call each.
const std::chrono::microseconds g_oLinger(100);
// The sender takes at most this many entries at a time and keeps up to as
// many sent ones for the reporting threads to fill again, so that a steady
// flow allocates nothing while the memory of a burst goes back. An entry
// whose strings grew beyond the size below is freed rather than kept.
const std::size_t g_nBatchSize = 1024;
const std::size_t g_nFreeEntriesKept = 4096;
const std::size_t g_nLargestKeptText = 1024;

bool IsWorthKeeping(const SSyslogEntry& entry)
{
    return entry.m_sText.capacity() <= g_nLargestKeptText && entry.m_sTaskId.capacity() <= g_nLargestKeptText &&
           entry.m_sRootText.capacity() <= g_nLargestKeptText;
}

int MillisecondsUntil(std::chrono::steady_clock::time_point deadline)
{
    const long long left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    return left <= 0 ? 0 : left > 1000000 ? 1000000 : static_cast<int>(left);
}

// A collector never sends anything, so a readable socket means it has closed
// the connection (or reset it): writing would lose data without an error.
bool PeerHasClosed(int socket)
{
    pollfd state{socket, POLLIN | POLLRDHUP, 0};
    return ::poll(&state, 1, 0) != 0;
}

} // namespace

void ReportUnsent(uint64_t lost, const std::string& target)
{
    if (lost > 0)
        Varnel::Detail::WriteDiagnostic(Internationalisation::FormatTranslated(
            "vidOderavev: %1% syslog messages for %2% were dropped: the collector was unreachable or too slow\n", lost,
            target));
}

SSyslogEntry DropWarning(const std::string& translatedFormat, uint64_t count, const timeval& time)
{
    SSyslogEntry warning;
    warning.m_nLevel = 3; // WARNING
    warning.m_oTime = time;
    warning.m_sText = Internationalisation::FormatTranslation(
        translatedFormat, "%1% messages were dropped while the collector was unreachable", count);
    return warning;
}

CSyslogTcpSender::CSyslogTcpSender(const std::string& host, int port, const CRfc5424Format& format,
                                   std::size_t capacity, std::chrono::milliseconds shutdownTimeout,
                                   const std::string& translatedDropFormat)
    : m_sHost(host), m_sService(std::to_string(port)), m_oFormat(format), m_nCapacity(capacity == 0 ? 1 : capacity),
      m_oShutdownTimeout(shutdownTimeout), m_sDropFormat(translatedDropFormat)
{
    // Started last, when everything the thread reads exists.
    m_oThread = std::thread(&CSyslogTcpSender::_Run, this);
}

CSyslogTcpSender::~CSyslogTcpSender()
{
    {
        Varnel::Detail::CScopedLock<Varnel::Detail::CMutex> lock(m_oMutex);
        m_bStop = true;
        m_oDeadline = TClock::now() + m_oShutdownTimeout;
    }
    m_oWake.notify_all();
    m_oThread.join();
    uint64_t lost;
    {
        Varnel::Detail::CScopedLock<Varnel::Detail::CMutex> lock(m_oMutex);
        lost = m_nUnannounced;
    }
    ReportUnsent(lost, m_sHost + ":" + m_sService);
}

void CSyslogTcpSender::Send(const SSyslogEntry& entry)
{
    // With nothing to reuse the copy is made before the lock, so that the
    // sender thread waits only for the relinking.
    std::list<SSyslogEntry> copy;
    if (m_nFreeEntries.load(std::memory_order_relaxed) == 0)
        copy.push_back(entry);
    CWritePrefetch next;
    {
        Varnel::Detail::CScopedLock<Varnel::Detail::CMutex> lock(m_oMutex);
        if (m_oQueue.size() >= m_nCapacity || m_bStop) {
            ++m_nUnannounced;
            ++m_nDropped;
            return;
        }
        if (!copy.empty()) {
            m_oQueue.splice(m_oQueue.end(), copy);
        } else if (m_oFreeEntries.empty()) {
            m_oQueue.push_back(entry); // another thread took the last free entry meanwhile
        } else {
            // Assigned into the capacity the strings already have.
            m_oQueue.splice(m_oQueue.end(), m_oFreeEntries, m_oFreeEntries.begin());
            m_oQueue.back() = entry;
            m_nFreeEntries.store(m_oFreeEntries.size(), std::memory_order_relaxed);
            next.AddNextEntries(m_oFreeEntries, [](CWritePrefetch& prefetch, const SSyslogEntry& free) {
                prefetch.Add(free.m_sText);
                prefetch.Add(free.m_sTaskId);
                prefetch.Add(free.m_sRootText);
            });
        }
        // Waking the sender costs a system call; while it is busy it needs none.
        if (m_bSenderWaiting) {
            m_bSenderWaiting = false;
            m_oWake.notify_one();
        }
    }
    next.Run();
}

bool CSyslogTcpSender::_SleepUntil(TClock::time_point until)
{
    Varnel::Detail::CScopedLock<Varnel::Detail::CMutex> lock(m_oMutex);
    while (!m_bStop && TClock::now() < until)
        m_oWake.wait_until(m_oMutex, until);
    return !m_bStop;
}

int CSyslogTcpSender::_Connect(TClock::time_point deadline) const
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
    addrinfo* addresses = nullptr;
    if (::getaddrinfo(m_sHost.c_str(), m_sService.c_str(), &hints, &addresses) != 0)
        return -1;
    int connected = -1;
    for (addrinfo* address = addresses; address != nullptr && connected < 0; address = address->ai_next) {
        const int socket = ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                    address->ai_protocol);
        if (socket < 0)
            continue;
        bool ok = ::connect(socket, address->ai_addr, address->ai_addrlen) == 0;
        if (!ok && errno == EINPROGRESS) {
            pollfd state{socket, POLLOUT, 0};
            int error = 0;
            socklen_t length = sizeof error;
            ok = ::poll(&state, 1, MillisecondsUntil(deadline)) > 0 &&
                 ::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
        }
        if (ok)
            connected = socket;
        else
            ::close(socket);
    }
    ::freeaddrinfo(addresses);
    return connected;
}

std::size_t CSyslogTcpSender::_Write(int socket, const std::string& data)
{
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t n = ::send(socket, data.data() + written, data.size() - written, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return written; // the connection broke
        bool stopping;
        TClock::time_point deadline;
        {
            Varnel::Detail::CScopedLock<Varnel::Detail::CMutex> lock(m_oMutex);
            stopping = m_bStop;
            deadline = m_oDeadline;
        }
        if (stopping && TClock::now() >= deadline)
            return written;
        pollfd state{socket, POLLOUT, 0};
        ::poll(&state, 1, g_nWritePollMilliseconds);
    }
    return written;
}

void CSyslogTcpSender::_Run()
{
    int socket = -1;
    std::chrono::seconds backoff = g_oFirstBackoff;
    TClock::time_point nextAttempt = TClock::now();
    std::list<SSyslogEntry> batch;
    std::vector<std::size_t> ends; // where each framed message of the buffer ends
    std::string buffer;
    for (;;) {
        bool stopping;
        TClock::time_point deadline;
        {
            Varnel::Detail::CScopedLock<Varnel::Detail::CMutex> lock(m_oMutex);
            bool lingered = false;
            while (!m_bStop && m_oQueue.empty() && m_nUnannounced == 0) {
                if (!lingered) {
                    lingered = true;
                    m_oWake.wait_for(m_oMutex, g_oLinger);
                    continue;
                }
                m_bSenderWaiting = true;
                m_oWake.wait(m_oMutex);
            }
            m_bSenderWaiting = false;
            stopping = m_bStop;
            deadline = m_oDeadline;
            if (stopping && (TClock::now() >= deadline || (m_oQueue.empty() && m_nUnannounced == 0)))
                break;
        }
        if (socket >= 0 && PeerHasClosed(socket)) {
            ::close(socket);
            socket = -1;
        }
        if (socket < 0) {
            if (!stopping && TClock::now() < nextAttempt) {
                _SleepUntil(nextAttempt);
                continue;
            }
            const TClock::time_point limit = TClock::now() + g_oConnectTimeout;
            socket = _Connect(stopping ? std::min(limit, deadline) : limit);
            if (socket < 0) {
                if (stopping)
                    break;
                nextAttempt = TClock::now() + backoff;
                backoff = std::min(backoff * 2, std::chrono::seconds(g_oLongestBackoff));
                continue;
            }
            backoff = g_oFirstBackoff;
        }

        uint64_t unannounced;
        {
            Varnel::Detail::CScopedLock<Varnel::Detail::CMutex> lock(m_oMutex);
            // Finding where a batch ends walks the nodes under the mutex:
            // only after a burst, when the queue holds more than a batch.
            if (m_oQueue.size() <= g_nBatchSize) {
                batch.swap(m_oQueue);
            } else {
                auto end = m_oQueue.begin();
                std::advance(end, g_nBatchSize);
                batch.splice(batch.end(), m_oQueue, m_oQueue.begin(), end);
            }
            unannounced = m_nUnannounced;
            m_nUnannounced = 0;
        }
        buffer.clear();
        ends.clear();
        std::string message;
        const auto frame = [&](const SSyslogEntry& entry) {
            message.clear();
            m_oFormat.Append(message, entry);
            buffer.append(std::to_string(message.size()));
            buffer.push_back(' ');
            buffer.append(message);
            ends.push_back(buffer.size());
        };
        if (unannounced > 0) {
            timeval now;
            ::gettimeofday(&now, nullptr);
            frame(DropWarning(m_sDropFormat, unannounced, now));
        }
        for (const SSyslogEntry& entry : batch)
            frame(entry);
        const std::size_t written = _Write(socket, buffer);
        if (written < buffer.size()) {
            // What did not fully reach the socket is lost; a cut message is
            // the collector's to discard when the connection closes.
            const std::size_t sent = static_cast<std::size_t>(
                std::upper_bound(ends.begin(), ends.end(), written) - ends.begin());
            std::size_t lost = ends.size() - sent;
            uint64_t requeued = 0;
            if (unannounced > 0) {
                if (sent == 0) {
                    requeued = unannounced; // the WARNING itself did not go out
                    --lost;
                }
            }
            m_nDropped += lost;
            {
                Varnel::Detail::CScopedLock<Varnel::Detail::CMutex> lock(m_oMutex);
                m_nUnannounced += requeued + lost;
            }
            ::close(socket);
            socket = -1;
            nextAttempt = TClock::now();
        }
        for (auto entry = batch.begin(); entry != batch.end();)
            entry = IsWorthKeeping(*entry) ? std::next(entry) : batch.erase(entry);
        {
            Varnel::Detail::CScopedLock<Varnel::Detail::CMutex> lock(m_oMutex);
            if (m_oFreeEntries.size() < g_nFreeEntriesKept) {
                m_oFreeEntries.splice(m_oFreeEntries.end(), batch);
                m_nFreeEntries.store(m_oFreeEntries.size(), std::memory_order_relaxed);
            }
        }
        batch.clear();
    }
    if (socket >= 0)
        ::close(socket);
    Varnel::Detail::CScopedLock<Varnel::Detail::CMutex> lock(m_oMutex);
    m_nDropped += m_oQueue.size();
    m_nUnannounced += m_oQueue.size();
    m_oQueue.clear();
}

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz
