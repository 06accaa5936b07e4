#include <vidOderavev/Progress/SocketVisualizer.h>

#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <chrono>
#include <ostream>

// Asio's fenced blocks use std::atomic_thread_fence, which ThreadSanitizer
// builds warn about; they guard asynchronous handlers, which this file never
// runs.
#if defined(__SANITIZE_THREAD__) && defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#pragma GCC diagnostic ignored "-Wtsan"
#endif
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/system/system_error.hpp>

#include <vidOderavev/Companion/ValueString.h>
#include <vidOderavev/Progress/XmlEscape.h>
#include <vidOderavev/Progress/XmlLogStream.h>

namespace Qz {
namespace Varnel {
namespace Progress {

// Kept out of the public header so that users do not compile Asio.
struct CNetVisualizer::SConnection
{
    // Asio sends with MSG_NOSIGNAL on Linux, so a collector that has gone
    // away makes the send fail (and the stream bad) instead of raising SIGPIPE.
    boost::asio::ip::tcp::iostream m_oStream;
};

namespace {

const long g_nDefaultConnectSeconds = 5;

std::string HostName()
{
    char buffer[1024];
    errno = 0;
    if (gethostname(buffer, sizeof buffer) != 0) {
        if (errno != 0)
            throw boost::system::system_error(errno, boost::system::system_category(), "gethostname");
        return std::string();
    }
    buffer[sizeof buffer - 1] = '\0'; // a truncated name need not be terminated
    return buffer;
}

std::string ThreadId()
{
    // pthread_t is an unsigned integer on Linux.
    return std::to_string(static_cast<unsigned long>(pthread_self()));
}

// Resolves host and service with the resolver's default query and tries the
// addresses in order until one accepts, all within the given time (negative:
// unbounded). The stream's own connect cannot be used for this: when its
// expiry passes during a connection attempt it takes the pending socket for a
// connected one, and the first send then waits for the system's own timeout
// of about two minutes.
bool Connect(boost::asio::ip::tcp::iostream& stream, const std::string& host, const std::string& service,
             long long timeoutMicroseconds)
{
    typedef std::chrono::steady_clock TClock;
    const TClock::time_point deadline = timeoutMicroseconds < 0
                                            ? TClock::time_point::max()
                                            : TClock::now() + std::chrono::microseconds(timeoutMicroseconds);
    boost::system::error_code error;
    boost::asio::io_context context;
    boost::asio::ip::tcp::resolver resolver(context);
    const boost::asio::ip::tcp::resolver::results_type endpoints =
        resolver.resolve(host, service, boost::asio::ip::resolver_base::address_configured, error);
    if (error)
        return false;
    boost::asio::basic_socket<boost::asio::ip::tcp>& socket = stream.socket();
    for (const auto& entry : endpoints) {
        const boost::asio::ip::tcp::endpoint endpoint = entry.endpoint();
        socket.close(error);
        socket.open(endpoint.protocol(), error);
        if (error)
            continue;
        socket.native_non_blocking(true, error);
        if (error)
            continue;
        const int fd = socket.native_handle();
        if (::connect(fd, endpoint.data(), static_cast<socklen_t>(endpoint.size())) == 0)
            return true;
        if (errno != EINPROGRESS)
            continue;
        int ready;
        for (;;) {
            int milliseconds = -1;
            if (deadline != TClock::time_point::max()) {
                const long long left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
                milliseconds = left <= 0 ? 0 : left > INT_MAX ? INT_MAX : static_cast<int>(left);
            }
            pollfd waiting{fd, POLLOUT, 0};
            ready = ::poll(&waiting, 1, milliseconds);
            if (ready >= 0 || errno != EINTR)
                break;
        }
        if (ready == 0) // out of time: no further address is tried
            break;
        int connectError = 0;
        socklen_t length = sizeof connectError;
        if (ready > 0 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &connectError, &length) == 0 && connectError == 0)
            return true;
    }
    socket.close(error);
    return false;
}

} // namespace

CNetVisualizer::CNetVisualizer(const std::string& host, int port)
    : CNetVisualizer(host, port, boost::posix_time::seconds(g_nDefaultConnectSeconds))
{
}

CNetVisualizer::CNetVisualizer(const std::string& host, int port,
                               const boost::posix_time::time_duration& connectTimeout)
    : m_dLastFraction(0.0), m_oConnection(new SConnection)
{
    const std::string service = Strings::MakeValueString<int>(port);
    long long microseconds = -1; // unbounded
    if (!connectTimeout.is_pos_infinity()) {
        microseconds = g_nDefaultConnectSeconds * 1000000LL;
        if (!connectTimeout.is_special())
            microseconds = connectTimeout.is_negative() ? 0 : connectTimeout.total_microseconds();
    }
    if (!Connect(m_oConnection->m_oStream, host, service, microseconds))
        m_oConnection->m_oStream.setstate(std::ios_base::failbit);
    // Records are flushed one by one; the prologue waits for the first.
    m_oConnection->m_oStream.unsetf(std::ios_base::unitbuf);

    m_sHostName = HostName();
    m_sProcessId = Strings::MakeValueString<int>(static_cast<int>(getpid()));
    m_sThreadId = ThreadId();

    m_sProgressIdentity = "<HOSTNAME>";
    Detail::AppendXmlEscaped(m_sProgressIdentity, m_sHostName);
    m_sProgressIdentity += "</HOSTNAME>\n<PID>" + m_sProcessId + "</PID>\n";
    m_sLogIdentity = m_sProgressIdentity + "<TID>" + m_sThreadId + "</TID>\n";

    // Not flushed: the prologue leaves with the first record.
    if (IsUsableLocked())
        m_oConnection->m_oStream << Detail::g_acXmlDeclaration << Detail::g_acXmlStreamStart;
}

CNetVisualizer::~CNetVisualizer()
{
    if (IsUsableLocked())
        m_oConnection->m_oStream << Detail::g_acXmlStreamEnd << '\n' << std::endl;
}

bool CNetVisualizer::IsUsableLocked() const
{
    return !(m_oConnection->m_oStream.rdstate() & (std::ios_base::failbit | std::ios_base::badbit));
}

void CNetVisualizer::SendLocked(const std::string& record) { m_oConnection->m_oStream << record << std::endl; }

void CNetVisualizer::_ShowMessage(const std::string& text, _EVerbosityLevel level, const std::string& timeStamp,
                                  const std::string& taskId)
{
    if (!IsUsableLocked())
        return;
    m_sRecord.clear();
    Detail::AppendXmlLogRecord(m_sRecord, _GetLevel(level), timeStamp, m_sLogIdentity, taskId, text);
    SendLocked(m_sRecord);
}

void CNetVisualizer::_ProgressChanged(const boost::shared_ptr<CLogger>&)
{
    if (m_oLoggers.empty() || !IsUsableLocked())
        return;
    const boost::shared_ptr<CLogger> first = m_oLoggers.front();
    // A local buffer: the getters may re-enter this hook on the same thread.
    std::string record;
    if (Detail::AppendXmlProgressRecord(record, first, m_sProgressIdentity, m_dLastFraction, m_sLastRootText))
        SendLocked(record);
}

} // namespace Progress
} // namespace Varnel
} // namespace Qz
