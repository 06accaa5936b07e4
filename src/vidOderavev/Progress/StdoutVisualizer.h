#ifndef VIDODERAVEV_PROGRESS_STDOUTVISUALIZER_H
#define VIDODERAVEV_PROGRESS_STDOUTVISUALIZER_H

#include <string>

#include <boost/shared_ptr.hpp>

#include <vidOderavev/Export.h>
#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/Progress/Visualizer.h>

namespace Qz {
namespace Varnel {
namespace Progress {

// Writes the XML log stream to standard output: the prologue when it is
// constructed, one <LOG> record per message line, a <PROGRESS> record
// whenever the whole percent or the root text of the first registered logger
// changes, and the epilogue when it is destroyed. Every record is flushed at
// once, so a supervising process reading a pipe sees it right away.
//
// Element contents are escaped ("&amp;", "&lt;", "&gt;"; bytes that XML
// cannot carry and ill-formed UTF-8 become U+FFFD), so the stream stays a
// well-formed document whatever a message contains.
//
// Own it through a boost::shared_ptr and attach it with AddLogger.
class VIDODERAVEV_API CStdoutVisualizer : public Detail::CVisualizerBase
{
public:
    CStdoutVisualizer();
    virtual ~CStdoutVisualizer();

protected:
    void _ProgressChanged(const boost::shared_ptr<CLogger>& logger) override VIDODERAVEV_REQUIRES(m_oMutex);
    void _ShowMessage(const std::string& text, _EVerbosityLevel level, const std::string& timeStamp,
                      const std::string& taskId) override VIDODERAVEV_REQUIRES(m_oMutex);

private:
    double m_dLastFraction VIDODERAVEV_GUARDED_BY(m_oMutex);
    std::string m_sLastRootText VIDODERAVEV_GUARDED_BY(m_oMutex);
    // Reused for every log record so that a message costs no allocation.
    std::string m_sRecord VIDODERAVEV_GUARDED_BY(m_oMutex);
};

} // namespace Progress
} // namespace Varnel
} // namespace Qz

#endif
