#ifndef VIDODERAVEV_PROGRESS_BUFFEREDPROGRESSFILEVISUALIZER_H
#define VIDODERAVEV_PROGRESS_BUFFEREDPROGRESSFILEVISUALIZER_H

#include <atomic>
#include <string>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/filesystem/path.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include <vidOderavev/Export.h>
#include <vidOderavev/Progress/BufferedFileVisualizer.h>

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

    struct SProgressRow
    {
        int m_nLayer;
        std::string m_sText;
        double m_dFraction;
        boost::posix_time::time_duration m_oRemaining;
    };

    boost::mutex m_oProgressMutex;
    std::atomic<bool> m_bChanged;
    std::atomic<bool> m_bProgressStop;
    boost::thread m_oProgressThread;
    int m_nProgressFile;
    boost::filesystem::path m_oProgressFilePath;
    SProgressRow m_aRows[2];

private:
    void TakeAndWriteRows();

    // Set by Clear() around its last refresh: every row takes the present
    // state, whatever moved.
    bool m_bRefreshAllRows;
};

} // namespace Progress
} // namespace Varnel
} // namespace Qz

#endif
