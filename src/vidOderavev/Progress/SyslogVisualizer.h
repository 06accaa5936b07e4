#ifndef VIDODERAVEV_PROGRESS_SYSLOGVISUALIZER_H
#define VIDODERAVEV_PROGRESS_SYSLOGVISUALIZER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/shared_ptr.hpp>

#include <vidOderavev/Export.h>
#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/Progress/Visualizer.h>

namespace Qz {
namespace Varnel {
namespace Progress {

namespace Detail {
class CSyslogSender;
struct SSyslogEntry;
}

enum ESyslogTransport
{
    eSyslogUdp,   // one datagram per message
    eSyslogTcp,   // octet-counting framing, sent by a background thread
    eSyslogLocal  // a local datagram socket such as /dev/log
};

struct VIDODERAVEV_API SSyslogOptions
{
    SSyslogOptions();

    int m_nFacility;                  // 0 to 23; 1 (user) by default
    std::string m_sSdId;              // "vidOderavev@32473" by default
    std::string m_sAppName;           // empty: the program's name
    std::size_t m_nMaxDatagramSize;   // 2048: longer datagrams are cut and marked
    std::size_t m_nQueueCapacity;     // TCP: entries waiting for the sender, 10000
    boost::posix_time::time_duration m_oShutdownTimeout; // TCP: 2 s to drain at destruction
};

// Sends every message line and the progress to a syslog collector as RFC 5424
// messages:
//   <PRI>1 TIMESTAMP HOSTNAME APP-NAME PROCID MSGID [SD-ID level="INFO"
//   task="..." progress="0.42" logger="..."] MSG
// MSGID is LOG for a message line and PROGRESS for a progress change (a new
// whole percent or a new root text of the first logger, severity 6, MSG
// "<root text>: <percent> %"). The severity follows the level: FATAL 2,
// ERROR 3, WARNING 4, INFO 5, LOG 6, DEBUG and TRACE 7. MSG is the line as
// valid UTF-8 (ill-formed bytes become U+FFFD); parameter values are escaped.
//
// The host is never held up by the collector: TCP messages are queued for a
// background sender (a full queue drops the newest and counts them), datagrams
// are sent without waiting (a full socket buffer drops). After drops, the
// first message that reaches the collector is a WARNING "<n> messages were
// dropped while the collector was unreachable"; drops that nothing announced
// are reported on standard error when the visualizer is destroyed.
//
// Own it through a boost::shared_ptr and attach it with AddLogger.
class VIDODERAVEV_API CSyslogVisualizer : public Detail::CVisualizerBase
{
public:
    // UDP and TCP: a host name or address and a port; local: a socket path,
    // port ignored.
    CSyslogVisualizer(ESyslogTransport transport, const std::string& hostOrPath, int port,
                      const SSyslogOptions& options = SSyslogOptions());
    virtual ~CSyslogVisualizer();

    // "udp://HOST:PORT", "tcp://HOST:PORT" (HOST may be "[IPV6]") or
    // "unix:PATH"; throws std::invalid_argument for anything else.
    static boost::shared_ptr<CSyslogVisualizer> Create(const std::string& address,
                                                       const SSyslogOptions& options = SSyslogOptions());

    // Messages dropped so far, announced or not.
    uint64_t GetDroppedCount() const;

protected:
    void _LoggerChanged(const boost::shared_ptr<CLogger>& logger) override;
    void _TextChanged(const boost::shared_ptr<CLogger>& logger) override;
    void _ProgressChanged(const boost::shared_ptr<CLogger>& logger) override VIDODERAVEV_REQUIRES(m_oMutex);
    void _ShowMessage(const std::string& text, _EVerbosityLevel level, const std::string& timeStamp,
                      const std::string& taskId) override VIDODERAVEV_REQUIRES(m_oMutex);

private:
    std::unique_ptr<Detail::CSyslogSender> m_oSender;
    // The progress-record rule's last values.
    double m_dLastFraction;
    std::string m_sLastRootText;
    // What message lines carry: the first logger's root text, read again
    // after it may have changed, and the last progress sent.
    bool m_bRootTextKnown;
    std::string m_sRootText;
    bool m_bHasFraction;
    // The entry of the last message line, reused for the next one.
    std::unique_ptr<Detail::SSyslogEntry> m_pEntry VIDODERAVEV_PT_GUARDED_BY(m_oMutex);
};

} // namespace Progress
} // namespace Varnel
} // namespace Qz

#endif
