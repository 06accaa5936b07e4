#ifndef VIDODERAVEV_PROGRESS_BUFFEREDFILEVISUALIZER_H
#define VIDODERAVEV_PROGRESS_BUFFEREDFILEVISUALIZER_H

#include <atomic>
#include <cstdint>
#include <ctime>
#include <exception>
#include <list>
#include <set>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/filesystem/path.hpp>
#include <boost/shared_ptr.hpp>

#include <vidOderavev/Export.h>
#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/Progress/Visualizer.h>
#include <vidOderavev/Progress/WriterThread.h>
#include <vidOderavev/ThreadSafety.h>

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
// thread wakes every 100 ms (every 0.1 ms while messages flood in) and writes
// everything queued. Progress is ignored.
//
// Every message handed over before the destructor starts is in the file when
// the destructor returns. Errors on the writer thread never end the process
// and never hold a retry dialogue: an entry that cannot be written is
// dropped, the file is closed so that the next entry opens it again, and the
// first such error of each file is reported once, through the library's
// diagnostics (standard error unless the host set a sink).
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
                                      const std::string& taskId) VIDODERAVEV_EXCLUDES(m_oQueueMutex);

    void _LogFileThread() VIDODERAVEV_EXCLUDES(m_oQueueMutex, m_oReportMutex);
    void _Write(const std::list<_SLogData>& batch) VIDODERAVEV_EXCLUDES(m_oQueueMutex, m_oReportMutex);
    // The file for the current local date: directory / (stem [+ YYYY-MM-DD] + extension).
    boost::filesystem::path _BuildLogFileName(const boost::date_time::second_clock<boost::posix_time::ptime>& clock,
                                              const std::string& extension) const;
    // Closes the file held in descriptor and opens (creating it when missing)
    // the one named by path, positioned at its end. A failure leaves the
    // descriptor at -1 and the path empty, so the next attempt opens anew.
    void _OpenLogFile(int& descriptor, boost::filesystem::path& path) VIDODERAVEV_EXCLUDES(m_oReportMutex);
    // The descriptor is -1 and the path empty afterwards even when closing
    // reports an error, so that a descriptor is never closed twice.
    void _CloseLogFile(int& descriptor, boost::filesystem::path& path);
    bool _IsLogFileOpen(const int& descriptor) const;

    // Takes everything queued, writes it and hands the entries back; returns
    // how many it took.
    std::size_t DrainQueue() VIDODERAVEV_EXCLUDES(m_oQueueMutex, m_oReportMutex);
    // Keeps written entries for reuse by the reporting threads, up to a bound;
    // the rest are freed here, on the writer thread, outside the mutex.
    // Returns how many were freed.
    std::size_t RecycleEntries(std::list<_SLogData>& entries) VIDODERAVEV_EXCLUDES(m_oQueueMutex);
    // Tells the user, once per file and in one line through the library's
    // diagnostics, that output to the file was lost and why.
    void ReportWriterError(const std::string& fileName, const std::exception_ptr& error)
        VIDODERAVEV_EXCLUDES(m_oReportMutex);
    // After a write that failed for good: lets go of the file, so that the
    // next write opens it anew (which also gets over a descriptor that has
    // gone bad), and reports the loss under the given name (a copy: it is
    // often the path's own text, which letting go clears).
    void AbandonFile(int& descriptor, boost::filesystem::path& path, std::string fileName,
                     const std::exception_ptr& error) VIDODERAVEV_EXCLUDES(m_oReportMutex);
    // The last act of a writer thread: lets go of its file, reporting a
    // failure.
    void FinishFile(int& descriptor, boost::filesystem::path& path) VIDODERAVEV_EXCLUDES(m_oReportMutex);

    Varnel::Detail::CMutex m_oQueueMutex;
    // Set under the queue mutex; the writer reads it between its sleeps
    // without taking the mutex.
    std::atomic<bool> m_bPending;
    std::list<_SLogData> m_oQueue VIDODERAVEV_GUARDED_BY(m_oQueueMutex);
    // The file and its name belong to the writer thread.
    int m_nLogFile;
    boost::filesystem::path m_oLogFilePath;
    Detail::CWriterThread m_oLogThread;
    std::string m_sDirectory;
    std::string m_sStem;
    bool m_bDated;

    // Where the writer threads read the current time for the file names; a
    // derived class may set it in its constructor (tests move the date).
    std::time_t (*m_pTimeSource)(std::time_t*);

private:
    // Lines joined for one write. A failure drops only the line it tore and
    // keeps the lines after it for the next attempt.
    void AppendLine(const _SLogData& entry);
    void FlushLines() VIDODERAVEV_EXCLUDES(m_oReportMutex);

    // Entries already written, kept with their strings' capacity, so that a
    // steady flow of messages allocates nothing.
    std::list<_SLogData> m_oFreeEntries VIDODERAVEV_GUARDED_BY(m_oQueueMutex);
    // The size of the free list as last set under the mutex: a reporting
    // thread that finds it 0 makes its entry before taking the mutex.
    std::atomic<std::size_t> m_nFreeEntries;
    // Keeps the writer's members below off the cache line that the reporting
    // threads write for every message: sharing it would cost them a miss each.
    char m_aWriterSide[64];
    // Entries freed by the writer since the heap was last trimmed.
    std::size_t m_nFreedSinceTrim;
    // The writer's lines not yet written to the open log file, and where
    // each of them ends in it.
    std::string m_sLines;
    std::vector<std::size_t> m_oLineEnds;
    // The file those lines go to, opened again for them after a failure.
    boost::filesystem::path m_oLinesPath;
    // Where the next line goes in the log file, so that the remains of a line
    // that could not be written completely are cut off again; -1 when unknown.
    int64_t m_nLogFileEnd;
    // The files whose loss was reported; both writer threads report.
    Varnel::Detail::CMutex m_oReportMutex;
    std::set<std::string> m_oReportedFiles VIDODERAVEV_GUARDED_BY(m_oReportMutex);
};

} // namespace Progress
} // namespace Varnel
} // namespace Qz

#endif
