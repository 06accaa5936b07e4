#ifndef VIDODERAVEV_PROGRESS_SYSLOGDATAGRAM_H
#define VIDODERAVEV_PROGRESS_SYSLOGDATAGRAM_H

#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <string>

#include <vidOderavev/Progress/SyslogSender.h>

namespace Qz {
namespace Varnel {
namespace Progress {
namespace Detail {

// One datagram per message, over UDP or a local datagram socket (/dev/log),
// sent at once on the reporting thread without ever waiting: a full socket
// buffer, a missing socket or an unresolvable host drops the message and
// counts it. The first datagram that goes out after drops is a WARNING saying
// how many; what no WARNING announced is reported through the library's
// diagnostics at destruction.
class CSyslogDatagramSender : public CSyslogSender
{
public:
    // Local socket: port < 0 and target the path.
    CSyslogDatagramSender(const std::string& target, int port, const CRfc5424Format& format, std::size_t maxSize,
                          const std::string& translatedDropFormat);
    ~CSyslogDatagramSender() override;

    void Send(const SSyslogEntry& entry) override VIDODERAVEV_EXCLUDES(m_oMutex);
    uint64_t GetDroppedCount() const override { return m_nDropped.load(); }

private:
    bool _SendOne(const SSyslogEntry& entry) VIDODERAVEV_REQUIRES(m_oMutex);

    const std::string m_sTarget;
    const CRfc5424Format m_oFormat;
    const std::size_t m_nMaxSize;
    const std::string m_sDropFormat;
    int m_nSocket = -1;
    sockaddr_storage m_oAddress{};
    socklen_t m_nAddressLength = 0;

    Varnel::Detail::CMutex m_oMutex;
    std::string m_sBuffer VIDODERAVEV_GUARDED_BY(m_oMutex);
    uint64_t m_nUnannounced VIDODERAVEV_GUARDED_BY(m_oMutex) = 0;
    std::atomic<uint64_t> m_nDropped{0};
};

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz

#endif
