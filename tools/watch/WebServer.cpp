#include "watch/WebServer.h"

#include <atomic>
#include <chrono>
#include <map>
#include <thread>
#include <vector>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>

#include "watch/WebAssets.h"
#include "watch/WebHub.h"

namespace Qz {
namespace Varnel {
namespace Watch {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = boost::beast::http;
using tcp = boost::asio::ip::tcp;

namespace {

// What one connection may cost: a request is one GET with small headers,
// read within a few seconds; beyond the cap new connections are closed at once.
const std::size_t g_nMaxRequestBytes = 8192;
const auto g_oRequestTimeout = std::chrono::seconds(10);
// A browser that takes this long to accept one write has stalled.
const auto g_oWriteTimeout = std::chrono::seconds(30);
const int g_nMaxConnections = 64;

const char g_sEventStreamHeader[] = "HTTP/1.1 200 OK\r\n"
                                    "Content-Type: text/event-stream\r\n"
                                    "Cache-Control: no-cache\r\n"
                                    "X-Content-Type-Options: nosniff\r\n"
                                    "Connection: close\r\n\r\n"
                                    // How soon a browser that lost the
                                    // connection tries again.
                                    "retry: 2000\n\n";

std::string FormatEndpoint(const tcp::endpoint& endpoint)
{
    const std::string address = endpoint.address().to_string();
    const std::string port = std::to_string(endpoint.port());
    return endpoint.address().is_v6() ? "[" + address + "]:" + port : address + ":" + port;
}

} // namespace

class CWebServer::CImpl
{
public:
    explicit CImpl(CWebHub& hub) : m_oHub(hub), m_oAcceptor(m_oIo), m_oAcceptPause(m_oIo) {}

    ~CImpl()
    {
        m_oHub.SetWake(nullptr);
        m_oIo.stop();
        if (m_oThread.joinable())
            m_oThread.join();
    }

    bool Open(const std::string& host, const std::string& port, std::string& error);
    void Start();

    class CSession;

    CWebHub& m_oHub;
    std::atomic<bool> m_bWakePosted{false};
    // Server thread only. Declared before the I/O context, whose destruction
    // destroys the sessions still waiting, which leave these.
    int m_nConnections = 0;
    std::map<unsigned long long, std::weak_ptr<CSession>> m_oSubscribers;
    asio::io_context m_oIo;
    tcp::acceptor m_oAcceptor;
    asio::steady_timer m_oAcceptPause;
    std::string m_sAddress;
    std::thread m_oThread;

private:
    void _Accept();
    void _WakeSubscribers();
};

// One connection: one request, answered and closed; for /events, the hub's
// records for as long as the browser keeps up.
class CWebServer::CImpl::CSession : public std::enable_shared_from_this<CSession>
{
public:
    CSession(CImpl& server, tcp::socket socket) : m_oServer(server), m_oStream(std::move(socket))
    {
        ++m_oServer.m_nConnections;
        m_oParser.header_limit(g_nMaxRequestBytes);
        m_oParser.body_limit(0);
    }

    ~CSession()
    {
        --m_oServer.m_nConnections;
        if (m_nClient != 0) {
            m_oServer.m_oSubscribers.erase(m_nClient);
            m_oServer.m_oHub.Unsubscribe(m_nClient);
        }
    }

    void Start()
    {
        m_oStream.expires_after(g_oRequestTimeout);
        http::async_read(m_oStream, m_oBuffer, m_oParser,
                         [self = shared_from_this()](beast::error_code error, std::size_t) { self->_OnRequest(error); });
    }

    // New records for this client, or it has been dropped.
    void Pump()
    {
        if (m_bWriting)
            return;
        m_sPending.clear();
        if (!m_oServer.m_oHub.Take(m_nClient, m_sPending)) {
            _Close();
            return;
        }
        if (!m_sPending.empty())
            _Write();
    }

    // A stalled browser's write never ends by itself: closing cancels it.
    void CloseIfDropped()
    {
        if (m_oServer.m_oHub.IsDropped(m_nClient))
            _Close();
        else
            Pump();
    }

private:
    void _OnRequest(beast::error_code error)
    {
        if (error)
            return _Close();
        const http::request<http::empty_body>& request = m_oParser.get();
        const std::string target(request.target());
        const std::string path = target.substr(0, target.find('?'));
        if (request.method() != http::verb::get && request.method() != http::verb::head)
            return _Respond(http::status::method_not_allowed, "text/plain", "GET only\n", request);
        if (path == "/events" && request.method() == http::verb::get)
            return _Subscribe(std::string(request["Last-Event-ID"]));
        const SWebAsset* asset = FindWebAsset(path);
        if (!asset)
            return _Respond(http::status::not_found, "text/plain", "not found\n", request);
        _Respond(http::status::ok, std::string(asset->m_pContentType) + "; charset=utf-8",
                 std::string(reinterpret_cast<const char*>(asset->m_pData), asset->m_nSize), request);
    }

    void _Respond(http::status status, const std::string& type, std::string body,
                  const http::request<http::empty_body>& request)
    {
        auto response = std::make_shared<http::response<http::string_body>>(status, request.version());
        response->set(http::field::content_type, type);
        response->set(http::field::cache_control, "no-cache");
        response->set("X-Content-Type-Options", "nosniff");
        // The page needs nothing but its own files and its own events.
        response->set("Content-Security-Policy",
                      "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; img-src 'self'");
        response->keep_alive(false);
        response->body() = std::move(body);
        response->prepare_payload();
        if (request.method() == http::verb::head)
            response->body().clear();
        m_oStream.expires_after(g_oWriteTimeout);
        http::async_write(m_oStream, *response,
                          [self = shared_from_this(), response](beast::error_code, std::size_t) { self->_Close(); });
    }

    void _Subscribe(const std::string& lastEventId)
    {
        m_nClient = m_oServer.m_oHub.Subscribe(lastEventId);
        m_oServer.m_oSubscribers[m_nClient] = shared_from_this();
        m_sPending = g_sEventStreamHeader;
        m_oServer.m_oHub.Take(m_nClient, m_sPending);
        _Write();
        // A browser sends nothing after its request: a read that completes
        // means it went away (or misbehaves). Meanwhile the read keeps the
        // session alive between records.
        m_oStream.socket().async_read_some(asio::buffer(m_acDiscard),
                                           [self = shared_from_this()](beast::error_code, std::size_t) {
                                               self->_Close();
                                           });
    }

    void _Write()
    {
        m_bWriting = true;
        m_oStream.expires_after(g_oWriteTimeout);
        asio::async_write(m_oStream, asio::buffer(m_sPending),
                          [self = shared_from_this()](beast::error_code error, std::size_t) {
                              self->m_bWriting = false;
                              if (error)
                                  return self->_Close();
                              // Waiting for the next record takes as long as it takes.
                              self->m_oStream.expires_never();
                              self->Pump();
                          });
    }

    void _Close()
    {
        beast::error_code ignored;
        m_oStream.socket().shutdown(tcp::socket::shutdown_both, ignored);
        m_oStream.close();
    }

    CImpl& m_oServer;
    beast::tcp_stream m_oStream;
    beast::flat_buffer m_oBuffer{g_nMaxRequestBytes};
    http::request_parser<http::empty_body> m_oParser;
    unsigned long long m_nClient = 0;
    std::string m_sPending;
    bool m_bWriting = false;
    char m_acDiscard[64];
};

bool CWebServer::CImpl::Open(const std::string& host, const std::string& port, std::string& error)
{
    beast::error_code code;
    tcp::resolver resolver(m_oIo);
    const auto results = resolver.resolve(host, port, tcp::resolver::passive | tcp::resolver::numeric_service, code);
    if (code) {
        error = "cannot resolve " + host + ": " + code.message();
        return false;
    }
    for (const auto& result : results) {
        tcp::acceptor acceptor(m_oIo);
        if (!acceptor.open(result.endpoint().protocol(), code) &&
            !acceptor.set_option(asio::socket_base::reuse_address(true), code) &&
            !acceptor.bind(result.endpoint(), code) && !acceptor.listen(asio::socket_base::max_listen_connections, code)) {
            m_oAcceptor = std::move(acceptor);
            m_sAddress = FormatEndpoint(m_oAcceptor.local_endpoint());
            return true;
        }
    }
    error = "cannot listen on " + host + ":" + port + ": " + code.message();
    return false;
}

void CWebServer::CImpl::Start()
{
    m_oHub.SetWake([this] {
        // One wake-up waits in the queue at a time, however fast records come.
        if (!m_bWakePosted.exchange(true))
            asio::post(m_oIo, [this] { _WakeSubscribers(); });
    });
    _Accept();
    m_oThread = std::thread([this] { m_oIo.run(); });
}

void CWebServer::CImpl::_WakeSubscribers()
{
    m_bWakePosted = false;
    // A session may close, and so leave the map, while it is woken.
    std::vector<std::shared_ptr<CSession>> sessions;
    for (const auto& entry : m_oSubscribers)
        if (auto session = entry.second.lock())
            sessions.push_back(session);
    for (const auto& session : sessions)
        session->CloseIfDropped();
}

void CWebServer::CImpl::_Accept()
{
    m_oAcceptor.async_accept([this](beast::error_code error, tcp::socket socket) {
        if (error == asio::error::operation_aborted)
            return;
        if (error) {
            // Out of descriptors, most likely: try again when some are back.
            m_oAcceptPause.expires_after(std::chrono::seconds(1));
            m_oAcceptPause.async_wait([this](beast::error_code waited) {
                if (!waited)
                    _Accept();
            });
            return;
        }
        // Beyond the cap the socket is closed as it goes out of scope.
        if (m_nConnections < g_nMaxConnections)
            std::make_shared<CSession>(*this, std::move(socket))->Start();
        _Accept();
    });
}

CWebServer::CWebServer(CWebHub& hub) : m_pImpl(new CImpl(hub)) {}

CWebServer::~CWebServer() = default;

bool CWebServer::Open(const std::string& host, const std::string& port, std::string& error)
{
    return m_pImpl->Open(host, port, error);
}

const std::string& CWebServer::GetAddress() const { return m_pImpl->m_sAddress; }

void CWebServer::Start() { m_pImpl->Start(); }

} // namespace Watch
} // namespace Varnel
} // namespace Qz
