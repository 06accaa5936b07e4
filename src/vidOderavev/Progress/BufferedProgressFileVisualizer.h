#ifndef VIDODERAVEV_PROGRESS_BUFFEREDPROGRESSFILEVISUALIZER_H
#define VIDODERAVEV_PROGRESS_BUFFEREDPROGRESSFILEVISUALIZER_H

#include <string>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/filesystem/path.hpp>
#include <boost/shared_ptr.hpp>

#include <vidOderavev/Export.h>
#include <vidOderavev/Progress/BufferedFileVisualizer.h>
#include <vidOderavev/Progress/ProgressSlots.h>
#include <vidOderavev/Progress/WriterThread.h>

namespace Qz {
namespace Varnel {
namespace Progress {

// The buffered log file plus "<directory>/<stem>[YYYY-MM-DD].progress", which
// shows the root layer and, when there is one, the innermost layer of class 0.
// Reporting threads only update two rows in memory; a second writer thread
// rewrites the progress file from them at most every 100 ms.
class VIDODERAVEV_API CBufferedProgressFileVisualizer : public CBufferedFileVisualizer
{
public:
    CBufferedProgressFileVisualizer(const std::string& directory, const std::string& stem, bool dated);
    virtual ~CBufferedProgressFileVisualizer();

    // Progress goes through the framework's 0.2 s throttle again.
    virtual void ProgressChanged(const boost::shared_ptr<CLogger>& logger, bool immediate);
    // Before the run-time note, brings the rows up to the present state once
    // more when the throttle dropped a change since they were last refreshed;
    // the writer thread then writes them.
    virtual void Clear();

protected:
    virtual void _ProgressChanged(const boost::shared_ptr<CLogger>& logger) VIDODERAVEV_REQUIRES(m_oMutex);

    void _ProgressFileThread();
    // Rewrites the progress file in place; each pointer points to two values,
    // one per row. A row whose fraction is not above 0 gets no line.
    void _WriteProgress(const std::string* texts, const double* fractions,
                        const boost::posix_time::time_duration* remaining);

    // The rows, with the progress mutex and the changed flag; the writer
    // thread takes copies of them.
    Detail::CProgressSlots m_oSlots;
    Detail::CWriterThread m_oProgressThread;
    // The file and its name belong to the writer thread.
    int m_nProgressFile;
    boost::filesystem::path m_oProgressFilePath;

private:
    void TakeAndWriteRows();
};

} // namespace Progress
} // namespace Varnel
} // namespace Qz

#endif
