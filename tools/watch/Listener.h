#ifndef VIDODERAVEV_TOOLS_WATCH_LISTENER_H
#define VIDODERAVEV_TOOLS_WATCH_LISTENER_H

#include <string>

#include <boost/noncopyable.hpp>

namespace Qz {
namespace Varnel {
namespace Watch {

// Splits "HOST:PORT", "[IPV6]:PORT" or a bare "PORT" (host 127.0.0.1).
// Returns false with a reason when the text is not of that form or the port
// is not a number from 0 to 65535 (0: any free port).
bool SplitHostPort(const std::string& text, std::string& host, std::string& port, std::string& error);

// A listening TCP socket, non-blocking, for the collector's poll loop.
class CListener : private boost::noncopyable
{
public:
    CListener() = default;
    ~CListener();

    // Binds to the first address of host and port that accepts; false with
    // the reason in error otherwise.
    bool Open(const std::string& host, const std::string& port, std::string& error);

    int GetDescriptor() const { return m_nDescriptor; }
    // The bound address as "127.0.0.1:5140" or "[::1]:5140", with the port
    // the system chose when 0 was asked for.
    const std::string& GetAddress() const { return m_sAddress; }

    // Accepts one waiting connection as a non-blocking descriptor. Returns -1
    // when none waits; errorNumber is then 0 or the reason (EMFILE...).
    int Accept(std::string& peer, int& errorNumber);

private:
    int m_nDescriptor = -1;
    std::string m_sAddress;
};

// "127.0.0.1:40112" or "[::1]:40112" for a socket address.
std::string FormatSocketAddress(const void* address, unsigned length);

} // namespace Watch
} // namespace Varnel
} // namespace Qz

#endif
