#ifndef VIDODERAVEV_TOOLS_WATCH_WEBSERVER_H
#define VIDODERAVEV_TOOLS_WATCH_WEBSERVER_H

#include <memory>
#include <string>

#include <boost/noncopyable.hpp>

namespace Qz {
namespace Varnel {
namespace Watch {

class CWebHub;

// The dashboard's HTTP server: the page, its script and style, and /events,
// the hub's records as Server-Sent Events. It runs on a thread of its own so
// that the collector's poll loop never waits for a browser.
class CWebServer : private boost::noncopyable
{
public:
    explicit CWebServer(CWebHub& hub);
    // Stops the thread and closes every connection.
    ~CWebServer();

    // Binds to the first address of host and port that accepts (port "0":
    // any free one); false with the reason in error otherwise.
    bool Open(const std::string& host, const std::string& port, std::string& error);
    // "127.0.0.1:8080" or "[::1]:8080", with the port actually bound.
    const std::string& GetAddress() const;
    // Starts serving on the server's own thread.
    void Start();

private:
    class CImpl;
    std::unique_ptr<CImpl> m_pImpl;
};

} // namespace Watch
} // namespace Varnel
} // namespace Qz

#endif
