#ifndef VIDODERAVEV_PROGRESS_BUFFEREDFILEVISUALIZER_H
#define VIDODERAVEV_PROGRESS_BUFFEREDFILEVISUALIZER_H

#include <atomic>
#include <cstdint>
#include <ctime>
#include <list>
#include <set>
#include <string>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/filesystem/path.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include <vidOderavev/Export.h>
#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/Progress/Visualizer.h>

namespace Qz {
namespace Varnel {
namespace Progress {

// One queued message line, as handed to the visualizer.
struct VIDODERAVEV_API _SLogData
{
    _SLogData(const std::string& text, _EVerbosityLevel level, const std::string& timeStamp, const std::string& taskId);

    _EVerbosityLevel m_eLevel;
    std::string m_sText;
    std::string m_sTimeStamp;
    std::string m_sTaskId;
    // Only a tag for _BuildLogFileName: the file name always follows the
    // local clock at the moment the entry is written.
    boost::date_time::second_clock<boost::posix_time::ptime> m_oClock;
};

// Writes messages to "<directory>/<stem>[YYYY-MM-DD].log" without making the
// reporting threads wait for the disk: they only queue the line, and a writer
// thread wakes every 100 ms and writes everything queued. Progress is ignored.
//
// Every message handed over before the destructor starts is in the file when
// the destructor returns. Errors on the writer thread never end the process
// and never hold a retry dialogue: an entry that cannot be written is
// dropped, the file is closed so that the next entry opens it again, and the
// first such error of each file is reported once on standard error.
class VIDODERAVEV_API CBufferedFileVisualizer : public Detail::CVisualizerBase
{
public:
    typedef Progress::_SLogData _SLogData;

    CBufferedFileVisualizer(const std::string& directory, const std::string& stem, bool dated);
    virtual ~CBufferedFileVisualizer();

    // Does nothing: this output has no progress file.
    virtual void ProgressChanged(const boost::shared_ptr<CLogger>& logger, bool immediate);

protected:
    // Queues the line for the writer thread; no formatting, no file work.
    virtual void _ShowMessageUnlocked(const std::string& text, _EVerbosityLevel level, const std::string& timeStamp,
                                      const std::string& taskId);

    void _LogFileThread();
    void _Write(const std::list<_SLogData>& batch);
    // The file for the current local date: directory / (stem [+ YYYY-MM-DD] + extension).
    boost::filesystem::path _BuildLogFileName(const boost::date_time::second_clock<boost::posix_time::ptime>& clock,
                                              const std::string& extension) const;
    // Closes the file held in descriptor and opens (creating it when missing)
    // the one named by path, positioned at its end. A failure leaves the
    // descriptor at -1 and the path empty, so the next attempt opens anew.
    void _OpenLogFile(int& descriptor, boost::filesystem::path& path);
    // The descriptor is -1 and the path empty afterwards even when closing
    // reports an error, so that a descriptor is never closed twice.
    void _CloseLogFile(int& descriptor, boost::filesystem::path& path);
    bool _IsLogFileOpen(const int& descriptor) const;

    // Takes everything queued and writes it.
    void DrainQueue();
    // Tells the user, once per file and in one line on standard error, that
    // output to the file was lost and why; to be called by the writer threads
    // inside the catch block of the error.
    void ReportCurrentWriterError(const std::string& fileName);

    boost::mutex m_oQueueMutex;
    std::atomic<bool> m_bPending;
    std::list<_SLogData> m_oQueue;
    int m_nLogFile;
    boost::filesystem::path m_oLogFilePath;
    std::atomic<bool> m_bStop;
    boost::thread m_oLogThread;
    std::string m_sDirectory;
    std::string m_sStem;
    bool m_bDated;

    // Where the writer threads read the current time for the file names; a
    // derived class may set it in its constructor (tests move the date).
    std::time_t (*m_pTimeSource)(std::time_t*);

private:
    // Where the next line goes in the log file, so that the remains of a line
    // that could not be written completely are cut off again; -1 when unknown.
    int64_t m_nLogFileEnd;
    // The files whose loss was reported; both writer threads report.
    boost::mutex m_oReportMutex;
    std::set<std::string> m_oReportedFiles;
};

} // namespace Progress
} // namespace Varnel
} // namespace Qz

#endif
