#include <vidOderavev/Progress/BufferedFileVisualizer.h>

#include <cstdio>
#include <exception>
#include <stdexcept>
#include <system_error>

#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <boost/date_time/c_time.hpp>

#include <vidOderavev/Diagnostics.h>
#include <vidOderavev/Internationalisation/FormatText.h>
#include <vidOderavev/Internationalisation/Translator.h>
#include <vidOderavev/Libraries/Fileio/FileHandle.h>
#include <vidOderavev/Libraries/Fileio/FileioUnix.h>
#include <vidOderavev/Progress/TextFormats.h>
#include <vidOderavev/Progress/WritePrefetch.h>

namespace Qz {
namespace Varnel {
namespace Progress {

using Internationalisation::CTranslator;

namespace {

typedef Varnel::Detail::CScopedLock<Varnel::Detail::CMutex> TLock;

std::time_t CurrentTime(std::time_t* result) { return std::time(result); }

// A batch is written, and its entries handed back, in pieces of this many,
// each still in the cache from its write when it is handed back.
const int g_nPieceSize = 1024;
// The free list holds at most about this many entries (a few hundred
// kilobytes), so that the memory of a burst goes back once it is written.
const std::size_t g_nFreeEntriesKept = 4096;
// A pass that took at least this many entries asks for the next one soon.
const std::size_t g_nBusyBatch = 64;
// An entry whose strings grew beyond this is freed rather than kept.
const std::size_t g_nLargestKeptText = 1024;
// Once the queue has gone quiet after more than this many entries were freed
// (a megabyte or so), the freed memory goes back to the system.
const std::size_t g_nTrimAfterFreeing = 4096;
// Joined lines are written once they reach this size.
const std::size_t g_nWriteSize = 128 * 1024;

std::string DescribeError(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const Fileio::CFileioError& failure) {
        std::string text = failure.GetDescription();
        if (failure.GetErrorCode() != 0)
            text += " (" + std::system_category().message(failure.GetErrorCode()) + ")";
        return text;
    } catch (const std::exception& failure) {
        return failure.what();
    } catch (...) {
        return CTranslator::Translate("unknown error");
    }
}

} // namespace

_SLogData::_SLogData(const std::string& text, _EVerbosityLevel level, const std::string& timeStamp,
                     const std::string& taskId)
    : m_eLevel(level), m_sText(text), m_sTimeStamp(timeStamp), m_sTaskId(taskId)
{
}

CBufferedFileVisualizer::CBufferedFileVisualizer(const std::string& directory, const std::string& stem, bool dated)
    : m_bPending(false), m_nLogFile(-1), m_sDirectory(directory), m_sStem(stem), m_bDated(dated),
      m_pTimeSource(&CurrentTime), m_nFreeEntries(0), m_nFreedSinceTrim(0), m_nLogFileEnd(-1)
{
    m_sLines.reserve(g_nWriteSize + 4096);
    // Started last, when every member the thread touches exists.
    m_oLogThread.Start([this] { _LogFileThread(); });
}

CBufferedFileVisualizer::~CBufferedFileVisualizer()
{
    // The writer holds no owning reference to this object, so the last
    // reference can never go away on the writer thread itself.
    m_oLogThread.Stop();
}

void CBufferedFileVisualizer::ProgressChanged(const boost::shared_ptr<CLogger>&, bool) {}

void CBufferedFileVisualizer::_ShowMessageUnlocked(const std::string& text, _EVerbosityLevel level,
                                                   const std::string& timeStamp, const std::string& taskId)
{
    std::list<_SLogData> entry;
    if (m_nFreeEntries.load(std::memory_order_relaxed) == 0) {
        // Nothing to reuse: the node and its string copies are made before
        // the lock, so that reporting threads hold the mutex only for the
        // splice.
        entry.emplace_back(text, level, timeStamp, taskId);
    }
    Detail::CWritePrefetch next;
    {
        TLock lock(m_oQueueMutex);
        if (entry.empty()) {
            if (m_oFreeEntries.empty()) {
                // Another thread took the last one meanwhile.
                m_oQueue.emplace_back(text, level, timeStamp, taskId);
            } else {
                // The copies go into the capacity the strings already have.
                m_oQueue.splice(m_oQueue.end(), m_oFreeEntries, m_oFreeEntries.begin());
                m_nFreeEntries.store(m_oFreeEntries.size(), std::memory_order_relaxed);
                _SLogData& reused = m_oQueue.back();
                reused.m_eLevel = level;
                reused.m_sText.assign(text);
                reused.m_sTimeStamp.assign(timeStamp);
                reused.m_sTaskId.assign(taskId);
                next.AddNextEntries(m_oFreeEntries, [](Detail::CWritePrefetch& prefetch, const _SLogData& free) {
                    prefetch.Add(free.m_sText);
                    prefetch.Add(free.m_sTimeStamp);
                });
            }
        } else {
            m_oQueue.splice(m_oQueue.end(), entry);
        }
        m_bPending.store(true, std::memory_order_release);
    }
    next.Run();
}

void CBufferedFileVisualizer::_LogFileThread()
{
    m_oLogThread.Run(
        [this] {
            // A flood is taken in small batches, whose entries come back for reuse.
            return m_bPending.load(std::memory_order_acquire) && DrainQueue() >= g_nBusyBatch;
        },
        [this] { FinishFile(m_nLogFile, m_oLogFilePath); });
}

std::size_t CBufferedFileVisualizer::DrainQueue()
{
    std::list<_SLogData> batch;
    {
        TLock lock(m_oQueueMutex);
        batch.swap(m_oQueue);
        m_bPending.store(false, std::memory_order_relaxed);
    }
    const std::size_t taken = batch.size();
    // A large batch is written in pieces, each handed back while its entries
    // are still in the cache: freeing a million entries afterwards would walk
    // them all through memory a second time.
    std::list<_SLogData> piece;
    std::size_t& freed = m_nFreedSinceTrim;
    while (!batch.empty()) {
        auto end = batch.begin();
        for (int n = 0; n < g_nPieceSize && end != batch.end(); ++n)
            ++end;
        piece.splice(piece.end(), batch, batch.begin(), end);
        try {
            _Write(piece);
        } catch (...) {
            // _Write handles the failures of single entries; what is left
            // (memory exhausted) costs the rest of this piece.
            ReportWriterError(m_oLogFilePath.string(), std::current_exception());
            m_sLines.clear();
            m_oLineEnds.clear();
        }
        freed += RecycleEntries(piece);
    }
#if defined(__GLIBC__)
    // The entries kept for reuse are the last ones of a burst, at the top of
    // the heap, where they would keep the freed memory below them from being
    // given back; trimming returns the free pages wherever they are. Not
    // while messages keep coming in: the reporting threads would only fault
    // the pages in again for their next entries.
    if (freed > g_nTrimAfterFreeing && !m_bPending.load(std::memory_order_relaxed)) {
        ::malloc_trim(0);
        freed = 0;
    }
#else
    freed = 0;
#endif
    return taken;
}

std::size_t CBufferedFileVisualizer::RecycleEntries(std::list<_SLogData>& entries)
{
    std::size_t freed = 0;
    // Entries that carried a very long line would keep its memory.
    for (auto entry = entries.begin(); entry != entries.end();) {
        if (entry->m_sText.capacity() > g_nLargestKeptText || entry->m_sTaskId.capacity() > g_nLargestKeptText ||
            entry->m_sTimeStamp.capacity() > g_nLargestKeptText) {
            entry = entries.erase(entry);
            ++freed;
        } else {
            ++entry;
        }
    }
    {
        TLock lock(m_oQueueMutex);
        // Whole pieces, one splice each: the bound is kept to within a piece.
        if (m_oFreeEntries.size() < g_nFreeEntriesKept) {
            m_oFreeEntries.splice(m_oFreeEntries.end(), entries);
            m_nFreeEntries.store(m_oFreeEntries.size(), std::memory_order_relaxed);
        }
    }
    freed += entries.size();
    entries.clear();
    return freed;
}

void CBufferedFileVisualizer::AppendLine(const _SLogData& entry)
{
    Detail::AppendBufferedLogLine(m_sLines, entry.m_sText, entry.m_eLevel, entry.m_sTimeStamp, entry.m_sTaskId);
    m_oLineEnds.push_back(m_sLines.size());
}

void CBufferedFileVisualizer::FlushLines()
{
    std::size_t done = 0;
    std::size_t firstLine = 0;
    while (firstLine < m_oLineEnds.size()) {
        if (!_IsLogFileOpen(m_nLogFile)) {
            // After a failure the file is opened anew for the lines left, as
            // the next entry would open it.
            m_oLogFilePath = m_oLinesPath;
            _OpenLogFile(m_nLogFile, m_oLogFilePath);
            if (!_IsLogFileOpen(m_nLogFile))
                break;
            m_nLogFileEnd = -1;
            try {
                m_nLogFileEnd = Fileio::GetFilePosition(m_nLogFile);
            } catch (const Fileio::CFileioError&) {
            }
        }
        std::exception_ptr failure;
        try {
            Fileio::WriteFile(m_nLogFile, m_sLines.data() + done, m_sLines.size() - done);
        } catch (...) {
            failure = std::current_exception();
        }
        if (!failure) {
            if (m_nLogFileEnd >= 0)
                m_nLogFileEnd += static_cast<int64_t>(m_sLines.size() - done);
            break;
        }
        // The lines that a short write got into the file whole stay; the
        // first line it tore, or that a failed write refused, is dropped and
        // its remains cut off, so that the next line does not continue a torn
        // one. The lines after it are tried again.
        std::size_t kept = 0;
        if (m_nLogFileEnd >= 0) {
            const off_t position = ::lseek(m_nLogFile, 0, SEEK_CUR);
            if (position > m_nLogFileEnd)
                kept = static_cast<std::size_t>(position - m_nLogFileEnd);
        }
        while (firstLine < m_oLineEnds.size() && m_oLineEnds[firstLine] - done <= kept) {
            m_nLogFileEnd += static_cast<int64_t>(m_oLineEnds[firstLine] - done);
            kept -= m_oLineEnds[firstLine] - done;
            done = m_oLineEnds[firstLine];
            ++firstLine;
        }
        if (m_nLogFileEnd >= 0 && ::ftruncate(m_nLogFile, m_nLogFileEnd) != 0) {
            // Nothing more can be done about the remains.
        }
        if (firstLine < m_oLineEnds.size())
            done = m_oLineEnds[firstLine++];
        AbandonFile(m_nLogFile, m_oLogFilePath, m_oLogFilePath.string(), failure);
    }
    m_sLines.clear();
    m_oLineEnds.clear();
}

void CBufferedFileVisualizer::_Write(const std::list<_SLogData>& batch)
{
    // The name only changes with the date, so it is built again only when the
    // clock has moved on to another second.
    boost::filesystem::path name;
    bool haveName = false;
    std::time_t nameTime = 0;
    for (const _SLogData& entry : batch) {
        bool fresh = false;
        if (!haveName || m_bDated) {
            const std::time_t now = m_bDated ? m_pTimeSource(nullptr) : 0;
            if (!haveName || now != nameTime) {
                haveName = false;
                try {
                    name = _BuildLogFileName(entry.m_oClock, ".log");
                } catch (...) {
                    // Without a name the entry has no file to go to.
                    ReportWriterError((boost::filesystem::path(m_sDirectory) / (m_sStem + ".log")).string(),
                                      std::current_exception());
                    continue;
                }
                haveName = true;
                nameTime = now;
                fresh = true;
            }
        }
        // A file that is not open has an empty path, so it is opened anew.
        if ((fresh || !_IsLogFileOpen(m_nLogFile)) && name != m_oLogFilePath) {
            // The lines joined so far belong to the file open until now.
            FlushLines();
            m_oLogFilePath = name;
            _OpenLogFile(m_nLogFile, m_oLogFilePath);
            m_nLogFileEnd = -1;
            if (_IsLogFileOpen(m_nLogFile)) {
                m_oLinesPath = m_oLogFilePath;
                try {
                    m_nLogFileEnd = Fileio::GetFilePosition(m_nLogFile);
                } catch (const Fileio::CFileioError&) {
                }
            }
        }
        if (!_IsLogFileOpen(m_nLogFile))
            continue;
        AppendLine(entry);
        if (m_sLines.size() >= g_nWriteSize)
            FlushLines();
    }
    FlushLines();
}

boost::filesystem::path
CBufferedFileVisualizer::_BuildLogFileName(const boost::date_time::second_clock<boost::posix_time::ptime>&,
                                           const std::string& extension) const
{
    std::string fileName = m_sStem;
    if (m_bDated) {
        const std::time_t now = m_pTimeSource(nullptr);
        std::tm local;
        // Raises the date library's std::runtime_error when the local time
        // cannot be determined.
        boost::date_time::c_time::localtime(&now, &local);
        char date[48];
        std::snprintf(date, sizeof date, "%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
        fileName += date;
    }
    fileName += extension;
    return boost::filesystem::path(m_sDirectory) / fileName;
}

void CBufferedFileVisualizer::_OpenLogFile(int& descriptor, boost::filesystem::path& path)
{
    boost::filesystem::path previous(path);
    try {
        _CloseLogFile(descriptor, previous);
    } catch (...) {
        // The old file is gone either way; the new one is still opened.
        ReportWriterError(previous.string(), std::current_exception());
    }
    try {
        Fileio::CFileHandle file(Fileio::OpenFile(path.string(), Fileio::AccessWriteOnly, Fileio::OpenCreate,
                                                  Fileio::PermissionsReadWriteAll, 0));
        Fileio::SeekFile(file.Get(), 0, Fileio::SeekEnd);
        descriptor = file.Release();
    } catch (...) {
        // A file that cannot be opened drops the entries meant for it,
        // silently; the empty path makes the next entry try again.
        descriptor = -1;
        path.clear();
    }
}

void CBufferedFileVisualizer::_CloseLogFile(int& descriptor, boost::filesystem::path& path)
{
    if (descriptor == -1)
        return;
    // close releases the descriptor even when it reports an error, so it is
    // forgotten first: closing it again could close a file opened meanwhile.
    const int handle = descriptor;
    descriptor = -1;
    path.clear();
    Fileio::CloseFile(handle);
}

bool CBufferedFileVisualizer::_IsLogFileOpen(const int& descriptor) const { return descriptor != -1; }

void CBufferedFileVisualizer::AbandonFile(int& descriptor, boost::filesystem::path& path, std::string fileName,
                                          const std::exception_ptr& error)
{
    try {
        _CloseLogFile(descriptor, path);
    } catch (const Fileio::CFileioError&) {
        // The descriptor is given up all the same; the loss is what counts.
    }
    ReportWriterError(fileName, error);
}

void CBufferedFileVisualizer::FinishFile(int& descriptor, boost::filesystem::path& path)
{
    const std::string name = path.string();
    try {
        _CloseLogFile(descriptor, path);
    } catch (...) {
        ReportWriterError(name, std::current_exception());
    }
}

void CBufferedFileVisualizer::ReportWriterError(const std::string& fileName, const std::exception_ptr& error)
{
    try {
        {
            // A file that keeps failing is reported once, but the loss of
            // one file never hides that of another.
            TLock lock(m_oReportMutex);
            if (!m_oReportedFiles.insert(fileName).second)
                return;
        }
        std::string line = Internationalisation::FormatTranslated(
            "Could not write to \"%1%\", output is being lost: %2%", fileName, DescribeError(error));
        line += '\n';
        Varnel::Detail::WriteDiagnostic(line);
    } catch (...) {
    }
}

} // namespace Progress
} // namespace Varnel
} // namespace Qz
