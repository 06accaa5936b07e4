#ifndef VIDODERAVEV_PROGRESS_SIMPLEFILEVISUALIZER_H
#define VIDODERAVEV_PROGRESS_SIMPLEFILEVISUALIZER_H

#include <string>

#include <boost/shared_ptr.hpp>

#include <vidOderavev/Export.h>
#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/Progress/ProgressSlots.h>
#include <vidOderavev/Progress/Visualizer.h>

namespace Qz {
namespace Varnel {
namespace Progress {

// Writes every message as a line appended to <base>.log and keeps <base>.progress
// showing the root layer and the innermost layer of class 0 of the first
// logger, all on the reporting thread. <base> is the given name without its
// extension. When the progress file is busy, <base>_1, <base>_2, ... are
// tried; when it cannot be created at all, progress is not written.
class VIDODERAVEV_API CSimpleFileVisualizer : public Detail::CVisualizerBase
{
public:
    // Raises Fileio::CFileioError when the log file cannot be created.
    explicit CSimpleFileVisualizer(const std::string& fileName);
    virtual ~CSimpleFileVisualizer();

    // Before the run-time note, writes the progress file once more when the
    // throttle dropped a change since it was last refreshed.
    virtual void Clear();

protected:
    virtual void _ProgressChanged(const boost::shared_ptr<CLogger>& logger) VIDODERAVEV_REQUIRES(m_oMutex);
    virtual void _ShowMessage(const std::string& text, _EVerbosityLevel level, const std::string& timeStamp,
                              const std::string& taskId) VIDODERAVEV_REQUIRES(m_oMutex);

    // -1 while running without a progress file.
    int m_nProgressFile;
    // The log is opened anew for every line and never held open.
    std::string m_sLogFileName;
    Detail::CProgressSlots m_oSlots;
};

} // namespace Progress
} // namespace Varnel
} // namespace Qz

#endif
