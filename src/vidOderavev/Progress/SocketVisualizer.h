#ifndef VIDODERAVEV_PROGRESS_SOCKETVISUALIZER_H
#define VIDODERAVEV_PROGRESS_SOCKETVISUALIZER_H

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

// Sends the XML log stream over one TCP connection to a listening collector,
// so that a computation on one machine can be followed from another. Every
// record carries the sending host's name and process identifier; log records
// also carry the identifier of the thread that constructed the visualizer
// (the pthread identifier as an unsigned decimal), whichever thread reports.
// Element contents are escaped exactly as on standard output.
//
// The connection is opened once, in the constructor, and carries one
// document. If the name cannot be resolved, no address accepts within the
// connection timeout (5 s unless given), or a later send fails (the collector
// went away), the visualizer falls silent for good: no exception, no message,
// no reconnection. Sends never raise SIGPIPE in the host process. The timeout
// bounds the connection attempt only; resolving a host name waits as long as
// the system resolver does, so give a numeric address where that matters.
//
// Records are sent synchronously by the thread that reports the event. A
// collector that stops reading while keeping the connection open lets its
// receive buffer fill up, and the reporting thread then blocks in the send
// until the collector reads again: keep the collector reading, or close it.
//
// Own it through a boost::shared_ptr and attach it with AddLogger.
class VIDODERAVEV_API CNetVisualizer : public Detail::CVisualizerBase
{
public:
    CNetVisualizer(const std::string& host, int port);
    // connectTimeout bounds the connection attempt; positive infinity leaves
    // it unbounded, any other special value means the default of 5 s.
    CNetVisualizer(const std::string& host, int port, const boost::posix_time::time_duration& connectTimeout);
    virtual ~CNetVisualizer();

protected:
    void _ProgressChanged(const boost::shared_ptr<CLogger>& logger) override VIDODERAVEV_REQUIRES(m_oMutex);
    void _ShowMessage(const std::string& text, _EVerbosityLevel level, const std::string& timeStamp,
                      const std::string& taskId) override VIDODERAVEV_REQUIRES(m_oMutex);

private:
    struct SConnection;

    bool IsUsableLocked() const VIDODERAVEV_REQUIRES(m_oMutex);
    void SendLocked(const std::string& record) VIDODERAVEV_REQUIRES(m_oMutex);

    double m_dLastFraction VIDODERAVEV_GUARDED_BY(m_oMutex);
    std::string m_sLastRootText VIDODERAVEV_GUARDED_BY(m_oMutex);
    std::unique_ptr<SConnection> m_oConnection VIDODERAVEV_PT_GUARDED_BY(m_oMutex);
    std::string m_sHostName;
    std::string m_sProcessId;
    std::string m_sThreadId;
    // The escaped identification elements, built once.
    std::string m_sLogIdentity;
    std::string m_sProgressIdentity;
    std::string m_sRecord VIDODERAVEV_GUARDED_BY(m_oMutex);
};

} // namespace Progress
} // namespace Varnel
} // namespace Qz

#endif
