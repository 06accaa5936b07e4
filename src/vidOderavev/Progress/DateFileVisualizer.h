#ifndef VIDODERAVEV_PROGRESS_DATEFILEVISUALIZER_H
#define VIDODERAVEV_PROGRESS_DATEFILEVISUALIZER_H

#include <string>

#include <boost/date_time/gregorian/greg_date.hpp>
#include <boost/shared_ptr.hpp>

#include <vidOderavev/Export.h>
#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/Progress/ProgressSlots.h>
#include <vidOderavev/Progress/Visualizer.h>

namespace Qz {
namespace Varnel {
namespace Progress {

// Appends every message to the log of the current local day,
// <base>YYYY-MM-DD.log, so that a new file begins with the first message after
// midnight, and keeps one <base>.progress for its whole life, refreshed like
// that of CSimpleFileVisualizer. <base> is the given name without extension.
class VIDODERAVEV_API CDateFileVisualizer : public Detail::CVisualizerBase
{
public:
    // Raises Fileio::CFileioError when the progress file cannot be opened.
    explicit CDateFileVisualizer(const std::string& fileName);
    virtual ~CDateFileVisualizer();

    // Before the run-time note, writes the progress file once more when the
    // throttle dropped a change since it was last refreshed.
    virtual void Clear();

    // The log file of the current local date, chosen anew for every message.
    std::string _BuildLogFileName() const;
    std::string _BuildProgressFileName() const;

protected:
    virtual void _ProgressChanged(const boost::shared_ptr<CLogger>& logger) VIDODERAVEV_REQUIRES(m_oMutex);
    virtual void _ShowMessage(const std::string& text, _EVerbosityLevel level, const std::string& timeStamp,
                              const std::string& taskId) VIDODERAVEV_REQUIRES(m_oMutex);

    // The current local date at second resolution; the clock the day's log
    // file is chosen by, and the seam through which a test moves it past
    // midnight.
    virtual boost::gregorian::date _GetLocalDate() const;

    // Open from construction to destruction.
    int m_nProgressFile;
    std::string m_sBaseName;
    Detail::CProgressSlots m_oSlots;
};

} // namespace Progress
} // namespace Varnel
} // namespace Qz

#endif
