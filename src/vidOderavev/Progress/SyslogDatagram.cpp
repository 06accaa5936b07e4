#include <vidOderavev/Progress/SyslogDatagram.h>

#include <netdb.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>


namespace Qz {
namespace Varnel {
namespace Progress {
namespace Detail {

CSyslogDatagramSender::CSyslogDatagramSender(const std::string& target, int port, const CRfc5424Format& format,
                                             std::size_t maxSize, const std::string& translatedDropFormat)
    : m_sTarget(port < 0 ? target : target + ":" + std::to_string(port)), m_oFormat(format), m_nMaxSize(maxSize),
      m_sDropFormat(translatedDropFormat)
{
    int family = AF_UNIX;
    if (port < 0) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (target.size() >= sizeof address.sun_path)
            return; // no such socket can exist: every message is dropped
        std::memcpy(address.sun_path, target.c_str(), target.size() + 1);
        std::memcpy(&m_oAddress, &address, sizeof address);
        m_nAddressLength = static_cast<socklen_t>(sizeof address);
    } else {
        addrinfo hints{};
        hints.ai_socktype = SOCK_DGRAM;
        hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
        addrinfo* addresses = nullptr;
        const std::string service = std::to_string(port);
        if (::getaddrinfo(target.c_str(), service.c_str(), &hints, &addresses) != 0)
            return;
        family = addresses->ai_family;
        std::memcpy(&m_oAddress, addresses->ai_addr, addresses->ai_addrlen);
        m_nAddressLength = addresses->ai_addrlen;
        ::freeaddrinfo(addresses);
    }
    m_nSocket = ::socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

CSyslogDatagramSender::~CSyslogDatagramSender()
{
    if (m_nSocket >= 0)
        ::close(m_nSocket);
    uint64_t lost;
    {
        Varnel::Detail::CScopedLock<Varnel::Detail::CMutex> lock(m_oMutex);
        lost = m_nUnannounced;
    }
    ReportUnsent(lost, m_sTarget);
}

bool CSyslogDatagramSender::_SendOne(const SSyslogEntry& entry)
{
    m_sBuffer.clear();
    m_oFormat.Append(m_sBuffer, entry, m_nMaxSize);
    for (;;) {
        const ssize_t n = ::sendto(m_nSocket, m_sBuffer.data(), m_sBuffer.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                                   reinterpret_cast<const sockaddr*>(&m_oAddress), m_nAddressLength);
        if (n >= 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

void CSyslogDatagramSender::Send(const SSyslogEntry& entry)
{
    Varnel::Detail::CScopedLock<Varnel::Detail::CMutex> lock(m_oMutex);
    if (m_nSocket >= 0 && m_nUnannounced > 0) {
        if (_SendOne(DropWarning(m_sDropFormat, m_nUnannounced, entry.m_oTime)))
            m_nUnannounced = 0;
    }
    if (m_nSocket >= 0 && m_nUnannounced == 0 && _SendOne(entry))
        return;
    ++m_nUnannounced;
    ++m_nDropped;
}

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz
