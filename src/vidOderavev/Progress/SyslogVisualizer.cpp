#include <vidOderavev/Progress/SyslogVisualizer.h>

#include <sys/time.h>

#include <stdexcept>

#include <vidOderavev/Companion/ValueString.h>
#include <vidOderavev/Internationalisation/Translator.h>
#include <vidOderavev/Progress/Rfc5424.h>
#include <vidOderavev/Progress/SyslogDatagram.h>
#include <vidOderavev/Progress/SyslogSender.h>
#include <vidOderavev/Progress/XmlLogStream.h>

namespace Qz {
namespace Varnel {
namespace Progress {

namespace {

const char g_acDropFormat[] = "%1% messages were dropped while the collector was unreachable";

bool SplitHostPort(const std::string& text, std::string& host, int& port)
{
    const std::string::size_type colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size() || colon + 6 < text.size())
        return false;
    port = 0;
    for (std::string::size_type i = colon + 1; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        port = port * 10 + (text[i] - '0');
    }
    if (port < 1 || port > 65535)
        return false;
    host = text.substr(0, colon);
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']')
            return false;
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string::npos) {
        return false; // an IPv6 address needs its brackets
    }
    return true;
}

} // namespace

SSyslogOptions::SSyslogOptions()
    : m_nFacility(1), m_sSdId("vidOderavev@32473"), m_nMaxDatagramSize(2048), m_nQueueCapacity(10000),
      m_oShutdownTimeout(boost::posix_time::seconds(2))
{
}

CSyslogVisualizer::CSyslogVisualizer(ESyslogTransport transport, const std::string& hostOrPath, int port,
                                     const SSyslogOptions& options)
    : m_dLastFraction(0.0), m_bRootTextKnown(false), m_bHasFraction(false), m_pEntry(new Detail::SSyslogEntry)
{
    const Detail::CRfc5424Format format(options.m_nFacility, options.m_sSdId, options.m_sAppName);
    // Translated here, so that the sender thread never reaches the translator.
    const std::string dropFormat = Internationalisation::CTranslator::Translate(g_acDropFormat);
    if (transport == eSyslogTcp) {
        const boost::posix_time::time_duration& timeout = options.m_oShutdownTimeout;
        const long long milliseconds =
            timeout.is_special() ? 2000 : timeout.is_negative() ? 0 : timeout.total_milliseconds();
        m_oSender.reset(new Detail::CSyslogTcpSender(hostOrPath, port, format, options.m_nQueueCapacity,
                                                     std::chrono::milliseconds(milliseconds), dropFormat));
    } else {
        m_oSender.reset(new Detail::CSyslogDatagramSender(hostOrPath, transport == eSyslogLocal ? -1 : port, format,
                                                          options.m_nMaxDatagramSize, dropFormat));
    }
}

CSyslogVisualizer::~CSyslogVisualizer() {}

boost::shared_ptr<CSyslogVisualizer> CSyslogVisualizer::Create(const std::string& address,
                                                               const SSyslogOptions& options)
{
    if (address.compare(0, 5, "unix:") == 0 && address.size() > 5)
        return boost::shared_ptr<CSyslogVisualizer>(
            new CSyslogVisualizer(eSyslogLocal, address.substr(5), -1, options));
    std::string host;
    int port;
    for (const ESyslogTransport transport : {eSyslogUdp, eSyslogTcp}) {
        const std::string scheme = transport == eSyslogUdp ? "udp://" : "tcp://";
        if (address.compare(0, scheme.size(), scheme) == 0 && SplitHostPort(address.substr(scheme.size()), host, port))
            return boost::shared_ptr<CSyslogVisualizer>(new CSyslogVisualizer(transport, host, port, options));
    }
    throw std::invalid_argument("not a syslog address (udp://HOST:PORT, tcp://HOST:PORT or unix:PATH): " + address);
}

uint64_t CSyslogVisualizer::GetDroppedCount() const { return m_oSender->GetDroppedCount(); }

void CSyslogVisualizer::_LoggerChanged(const boost::shared_ptr<CLogger>&) { m_bRootTextKnown = false; }

void CSyslogVisualizer::_TextChanged(const boost::shared_ptr<CLogger>&) { m_bRootTextKnown = false; }

void CSyslogVisualizer::_ShowMessage(const std::string& text, _EVerbosityLevel level, const std::string&,
                                     const std::string& taskId)
{
    if (!m_bRootTextKnown && !m_oLoggers.empty()) {
        m_sRootText = m_oLoggers.front()->GetText(0);
        m_bRootTextKnown = true;
    }
    // Filled into the strings' existing capacity: a datagram sender formats
    // it at once, so a message allocates nothing.
    Detail::SSyslogEntry& entry = *m_pEntry;
    entry.m_nLevel = static_cast<int32_t>(level);
    entry.m_bProgress = false;
    ::gettimeofday(&entry.m_oTime, nullptr);
    entry.m_sText.assign(text);
    entry.m_sTaskId.assign(taskId);
    if (m_oLoggers.empty())
        entry.m_sRootText.clear();
    else
        entry.m_sRootText.assign(m_sRootText);
    entry.m_bHasFraction = m_bHasFraction;
    entry.m_dFraction = m_dLastFraction;
    m_oSender->Send(entry);
}

void CSyslogVisualizer::_ProgressChanged(const boost::shared_ptr<CLogger>&)
{
    if (m_oLoggers.empty())
        return;
    const boost::shared_ptr<CLogger> first = m_oLoggers.front();
    Detail::SProgressStep step;
    if (!Detail::TakeProgressStep(first, m_dLastFraction, m_sLastRootText, step))
        return;
    Detail::SSyslogEntry entry;
    entry.m_dFraction = step.m_dFraction;
    entry.m_sRootText = std::move(step.m_sRootText);
    m_bHasFraction = true;
    m_sRootText = entry.m_sRootText;
    m_bRootTextKnown = true;
    entry.m_bProgress = true;
    entry.m_bHasFraction = true;
    entry.m_nLevel = 5; // LOG
    ::gettimeofday(&entry.m_oTime, nullptr);
    entry.m_sText = entry.m_sRootText + ": " + Strings::MakePercentString(entry.m_dFraction, 3) + " %";
    m_oSender->Send(entry);
}

} // namespace Progress
} // namespace Varnel
} // namespace Qz
