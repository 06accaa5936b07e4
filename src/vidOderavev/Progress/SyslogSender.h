#ifndef VIDODERAVEV_PROGRESS_SYSLOGSENDER_H
#define VIDODERAVEV_PROGRESS_SYSLOGSENDER_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <string>
#include <thread>

#include <condition_variable>

#include <vidOderavev/Progress/Rfc5424.h>
#include <vidOderavev/ThreadSafety.h>

namespace Qz {
namespace Varnel {
namespace Progress {
namespace Detail {

// How the syslog output hands its messages to a collector. Send never blocks
// for long and never throws for a collector's sake: what cannot be sent is
// dropped and counted.
class CSyslogSender
{
public:
    virtual ~CSyslogSender() = default;
    // The entry is only read: a sender that keeps it makes its own copy.
    virtual void Send(const SSyslogEntry& entry) = 0;
    // Messages dropped so far (not counting the notes that announce drops).
    virtual uint64_t GetDroppedCount() const = 0;
};

// The drop note, "<n> messages were dropped while the collector was
// unreachable", already translated by the caller.
SSyslogEntry DropWarning(const std::string& translatedFormat, uint64_t count, const timeval& time);

// Says on the library's diagnostics how many messages for target (a
// host:port or a socket path) were never sent; nothing when none were lost.
void ReportUnsent(uint64_t lost, const std::string& target);

// TCP with octet-counting framing (RFC 6587). Send only queues; a background
// thread formats, connects, writes and reconnects with backoff (1 s doubling
// to 30 s). A full queue drops the newest entries; the first message after a
// drop is a WARNING saying how many. The destructor waits at most
// shutdownTimeout for the queue to drain and reports what was left unsent
// through the library's diagnostics.
class CSyslogTcpSender : public CSyslogSender
{
public:
    CSyslogTcpSender(const std::string& host, int port, const CRfc5424Format& format, std::size_t capacity,
                     std::chrono::milliseconds shutdownTimeout, const std::string& translatedDropFormat);
    ~CSyslogTcpSender() override;

    void Send(const SSyslogEntry& entry) override VIDODERAVEV_EXCLUDES(m_oMutex);
    uint64_t GetDroppedCount() const override { return m_nDropped.load(); }

private:
    typedef std::chrono::steady_clock TClock;

    void _Run() VIDODERAVEV_EXCLUDES(m_oMutex);
    // Waits until the time or until the sender is stopped; false when stopped.
    bool _SleepUntil(TClock::time_point until) VIDODERAVEV_EXCLUDES(m_oMutex);
    int _Connect(TClock::time_point deadline) const;
    // Writes all of data; returns the number of bytes written, less than the
    // size when the connection broke or the shutdown deadline passed.
    std::size_t _Write(int socket, const std::string& data) VIDODERAVEV_EXCLUDES(m_oMutex);

    const std::string m_sHost;
    const std::string m_sService;
    const CRfc5424Format m_oFormat;
    const std::size_t m_nCapacity;
    const std::chrono::milliseconds m_oShutdownTimeout;
    const std::string m_sDropFormat;

    mutable Varnel::Detail::CMutex m_oMutex;
    std::condition_variable_any m_oWake;
    // Lists, so that an entry moves between them by relinking its node.
    std::list<SSyslogEntry> m_oQueue VIDODERAVEV_GUARDED_BY(m_oMutex);
    // Sent entries with their strings' capacity, filled again by Send.
    std::list<SSyslogEntry> m_oFreeEntries VIDODERAVEV_GUARDED_BY(m_oMutex);
    // The size of the free list as last set under the mutex: a reporting
    // thread that finds it 0 makes its copy before taking the mutex.
    std::atomic<std::size_t> m_nFreeEntries{0};
    // Dropped entries that no WARNING has announced yet.
    uint64_t m_nUnannounced VIDODERAVEV_GUARDED_BY(m_oMutex) = 0;
    bool m_bStop VIDODERAVEV_GUARDED_BY(m_oMutex) = false;
    bool m_bSenderWaiting VIDODERAVEV_GUARDED_BY(m_oMutex) = false;
    TClock::time_point m_oDeadline VIDODERAVEV_GUARDED_BY(m_oMutex);
    std::atomic<uint64_t> m_nDropped{0};

    std::thread m_oThread;
};

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz

#endif
