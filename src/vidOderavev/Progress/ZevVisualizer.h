#ifndef VIDODERAVEV_PROGRESS_ZEVVISUALIZER_H
#define VIDODERAVEV_PROGRESS_ZEVVISUALIZER_H

#include <string>

#include <boost/shared_ptr.hpp>

#include <vidOderavev/Export.h>
#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/Progress/Visualizer.h>

namespace Qz {
namespace Varnel {
namespace Progress {

// Writes plain lines to standard output for a supervising process or a person
// at a terminal: "<time stamp> <LEVEL>: <text>" per message line, and
// "Progress: <root text>" when the root text of the first registered logger
// changes and "Progress: <percent>%" each time its overall progress crosses a
// multiple of 2 % in either direction. Nothing is written on construction,
// detachment or destruction.
//
// Own it through a boost::shared_ptr and attach it with AddLogger.
class VIDODERAVEV_API CZevVisualizer : public Detail::CVisualizerBase
{
public:
    CZevVisualizer();
    // The same as the default constructor; the argument is not used.
    CZevVisualizer(bool unused);
    virtual ~CZevVisualizer();

protected:
    void _ProgressChanged(const boost::shared_ptr<CLogger>& logger) override VIDODERAVEV_REQUIRES(m_oMutex);
    void _ShowMessage(const std::string& text, _EVerbosityLevel level, const std::string& timeStamp,
                      const std::string& taskId) override VIDODERAVEV_REQUIRES(m_oMutex);

private:
    double m_dLastFraction VIDODERAVEV_GUARDED_BY(m_oMutex);
    std::string m_sLastRootText VIDODERAVEV_GUARDED_BY(m_oMutex);
};

} // namespace Progress
} // namespace Varnel
} // namespace Qz

#endif
