#include "watch/Listener.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Qz {
namespace Varnel {
namespace Watch {

bool SplitHostPort(const std::string& text, std::string& host, std::string& port, std::string& error)
{
    std::string portText;
    if (!text.empty() && text[0] == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            error = "expected [ADDRESS]:PORT, got \"" + text + "\"";
            return false;
        }
        host = text.substr(1, close - 1);
        portText = text.substr(close + 2);
    } else {
        const std::size_t colon = text.rfind(':');
        if (colon == std::string::npos) {
            host = "127.0.0.1";
            portText = text;
        } else {
            host = text.substr(0, colon);
            portText = text.substr(colon + 1);
            if (host.find(':') != std::string::npos) {
                error = "write an IPv6 address in brackets, as [::1]:5140";
                return false;
            }
        }
    }
    if (host.empty())
        host = "127.0.0.1";
    if (portText.empty() || portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos ||
        std::atoi(portText.c_str()) > 65535) {
        error = "the port must be a number from 0 to 65535, got \"" + portText + "\"";
        return false;
    }
    port = std::to_string(std::atoi(portText.c_str()));
    return true;
}

std::string FormatSocketAddress(const void* address, unsigned length)
{
    char host[NI_MAXHOST];
    char service[NI_MAXSERV];
    if (::getnameinfo(static_cast<const sockaddr*>(address), length, host, sizeof(host), service, sizeof(service),
                      NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return "unknown";
    const bool v6 = static_cast<const sockaddr*>(address)->sa_family == AF_INET6;
    return (v6 ? "[" + std::string(host) + "]" : std::string(host)) + ":" + service;
}

CListener::~CListener()
{
    if (m_nDescriptor >= 0)
        ::close(m_nDescriptor);
}

bool CListener::Open(const std::string& host, const std::string& port, std::string& error)
{
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* addresses = nullptr;
    const int resolved = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &addresses);
    if (resolved != 0) {
        error = "cannot resolve " + host + ": " + ::gai_strerror(resolved);
        return false;
    }
    error = "no address to listen on";
    for (addrinfo* address = addresses; address != nullptr; address = address->ai_next) {
        const int descriptor =
            ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address->ai_protocol);
        if (descriptor < 0) {
            error = std::string("cannot create a socket: ") + std::strerror(errno);
            continue;
        }
        const int on = 1;
        ::setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
        // As long a queue as the system allows: when a whole cluster starts
        // at once, connections beyond the queue wait a second or more for the
        // retry of their handshake.
        if (::bind(descriptor, address->ai_addr, address->ai_addrlen) != 0 || ::listen(descriptor, SOMAXCONN) != 0) {
            error = "cannot listen on " + FormatSocketAddress(address->ai_addr, address->ai_addrlen) + ": " +
                    std::strerror(errno);
            ::close(descriptor);
            continue;
        }
        sockaddr_storage bound = {};
        socklen_t length = sizeof(bound);
        ::getsockname(descriptor, reinterpret_cast<sockaddr*>(&bound), &length);
        m_sAddress = FormatSocketAddress(&bound, length);
        m_nDescriptor = descriptor;
        break;
    }
    ::freeaddrinfo(addresses);
    return m_nDescriptor >= 0;
}

int CListener::Accept(std::string& peer, int& errorNumber)
{
    errorNumber = 0;
    sockaddr_storage address = {};
    socklen_t length = sizeof(address);
    const int descriptor =
        ::accept4(m_nDescriptor, reinterpret_cast<sockaddr*>(&address), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (descriptor < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED)
            errorNumber = errno;
        return -1;
    }
    peer = FormatSocketAddress(&address, length);
    return descriptor;
}

} // namespace Watch
} // namespace Varnel
} // namespace Qz
