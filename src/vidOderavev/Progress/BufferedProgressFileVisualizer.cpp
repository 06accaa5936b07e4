#include <vidOderavev/Progress/BufferedProgressFileVisualizer.h>

#include <cmath>

#include <unistd.h>

#include <vidOderavev/Libraries/Fileio/FileioUnix.h>
#include <vidOderavev/Progress/TextFormats.h>

namespace Qz {
namespace Varnel {
namespace Progress {

namespace {

const useconds_t g_nPollInterval = 100000;

typedef boost::mutex::scoped_lock TProgressLock;

} // namespace

CBufferedProgressFileVisualizer::CBufferedProgressFileVisualizer(const std::string& directory, const std::string& stem,
                                                                 bool dated)
    : CBufferedFileVisualizer(directory, stem, dated), m_bChanged(false), m_bProgressStop(false), m_nProgressFile(-1),
      m_bRefreshAllRows(false)
{
    for (SProgressRow& row : m_aRows) {
        row.m_nLayer = -1;
        row.m_dFraction = 0.0;
    }
    // The progress lines are formatted with Boost.Format, whose parser fills
    // a per-character cache of the shared ctype facet on first use, without a
    // lock. Formatting each of the four line forms once here, before the
    // writer thread exists, fills that cache for every character the writer
    // will use, so the writer only ever reads it.
    for (const int seconds : {0, 30, 120, 7200})
        Detail::BuildProgressLine("0", boost::posix_time::seconds(seconds));
    // Started last, when the rows it reads exist.
    m_oProgressThread = boost::thread(&CBufferedProgressFileVisualizer::_ProgressFileThread, this);
}

CBufferedProgressFileVisualizer::~CBufferedProgressFileVisualizer()
{
    m_bProgressStop.store(true);
    if (m_oProgressThread.joinable())
        m_oProgressThread.join();
    // The base destructor then stops the log writer in the same way.
}

void CBufferedProgressFileVisualizer::ProgressChanged(const boost::shared_ptr<CLogger>& logger, bool immediate)
{
    Detail::CVisualizerBase::ProgressChanged(logger, immediate);
}

void CBufferedProgressFileVisualizer::Clear()
{
    ClearWithFinalProgress([this]() VIDODERAVEV_REQUIRES(m_oMutex) {
        m_bRefreshAllRows = true;
        try {
            _ProgressChanged(m_oLoggers.front());
        } catch (...) {
            m_bRefreshAllRows = false;
            throw;
        }
        m_bRefreshAllRows = false;
    });
}

void CBufferedProgressFileVisualizer::_ProgressChanged(const boost::shared_ptr<CLogger>&)
{
    if (m_oLoggers.empty())
        return;
    // The rows always show the first logger registered.
    const boost::shared_ptr<CLogger> logger = m_oLoggers.front();

    // The logger is only ever queried without the progress mutex: a query can
    // pass held-back progress outward and so come back into ProgressChanged on
    // this thread. The rows themselves are changed only here, and calls come
    // one at a time through the visualizer's mutex, so reading them without
    // the progress mutex is safe; the writer thread only reads them too.
    int layers[2] = {0, -1};
    std::string texts[2];
    texts[0] = logger->GetText(0);
    int wanted = 1;
    const int count = logger->GetNumberOfLayers();
    if (count >= 2) {
        int layer = count - 1;
        while (layer > 0 && logger->GetClass(layer) != LayerClassStep)
            --layer;
        // With no inner step layer the search ends at the root, which is shown
        // a second time when it has class 0 itself.
        if (logger->GetClass(layer) == LayerClassStep) {
            layers[1] = layer;
            texts[1] = logger->GetText(layer);
            wanted = 2;
        }
    }

    for (int i = 0; i < wanted; ++i) {
        SProgressRow& row = m_aRows[i];
        const int layer = layers[i];
        if (row.m_nLayer != -1 && row.m_nLayer == layer && !m_bRefreshAllRows) {
            if (row.m_sText != texts[i]) {
                // The fraction and time remaining follow with a later call.
                TProgressLock lock(m_oProgressMutex);
                row.m_sText = texts[i];
                m_bChanged.store(true);
            } else {
                const double fraction = logger->GetRelativeProgressValue(layer);
                if (std::fabs(fraction - row.m_dFraction) > 0.01 || m_bChanged.load()) {
                    const boost::posix_time::time_duration remaining = logger->GetTimeRemaining(layer);
                    TProgressLock lock(m_oProgressMutex);
                    row.m_dFraction = fraction;
                    row.m_oRemaining = remaining;
                    m_bChanged.store(true);
                }
            }
        } else {
            const double fraction = logger->GetRelativeProgressValue(layer);
            const boost::posix_time::time_duration remaining = logger->GetTimeRemaining(layer);
            TProgressLock lock(m_oProgressMutex);
            row.m_nLayer = layer;
            row.m_sText = texts[i];
            row.m_dFraction = fraction;
            row.m_oRemaining = remaining;
            m_bChanged.store(true);
        }
    }
    if (wanted == 1) {
        TProgressLock lock(m_oProgressMutex);
        // A second line that the file shows has to go with the next rewrite,
        // even when the root row itself has not moved.
        if (m_aRows[1].m_dFraction > 0.0)
            m_bChanged.store(true);
        m_aRows[1].m_dFraction = -1.0;
    }
}

void CBufferedProgressFileVisualizer::_ProgressFileThread()
{
    const Fileio::CUnattendedThreadScope unattended;
    for (;;) {
        ::usleep(g_nPollInterval);
        try {
            if (m_bChanged.load())
                TakeAndWriteRows();
            if (m_bProgressStop.load()) {
                // A change made before the destructor set the flag is
                // written by this last pass.
                if (m_bChanged.load())
                    TakeAndWriteRows();
                break;
            }
        } catch (...) {
            // Nothing may end this thread early.
        }
    }
    try {
        const std::string name = m_oProgressFilePath.string();
        try {
            _CloseLogFile(m_nProgressFile, m_oProgressFilePath);
        } catch (...) {
            ReportCurrentWriterError(name);
        }
    } catch (...) {
    }
}

void CBufferedProgressFileVisualizer::TakeAndWriteRows()
{
    std::string texts[2];
    double fractions[2];
    boost::posix_time::time_duration remaining[2];
    {
        TProgressLock lock(m_oProgressMutex);
        for (int i = 0; i < 2; ++i) {
            texts[i] = m_aRows[i].m_sText;
            fractions[i] = m_aRows[i].m_dFraction;
            remaining[i] = m_aRows[i].m_oRemaining;
        }
        m_bChanged.store(false);
    }
    try {
        _WriteProgress(texts, fractions, remaining);
    } catch (...) {
        // This rewrite is lost. The file is closed so that the next change
        // opens it again and writes the whole content anew.
        std::string failed = m_oProgressFilePath.string();
        if (failed.empty())
            failed = (boost::filesystem::path(m_sDirectory) / (m_sStem + ".progress")).string();
        try {
            _CloseLogFile(m_nProgressFile, m_oProgressFilePath);
        } catch (const Fileio::CFileioError&) {
        }
        ReportCurrentWriterError(failed);
    }
}

void CBufferedProgressFileVisualizer::_WriteProgress(const std::string* texts, const double* fractions,
                                                     const boost::posix_time::time_duration* remaining)
{
    const boost::date_time::second_clock<boost::posix_time::ptime> clock;
    const boost::filesystem::path name = _BuildLogFileName(clock, ".progress");
    if (name != m_oProgressFilePath) {
        m_oProgressFilePath = name;
        _OpenLogFile(m_nProgressFile, m_oProgressFilePath);
    }
    if (!_IsLogFileOpen(m_nProgressFile))
        return;
    std::string content;
    for (int i = 0; i < 2; ++i) {
        if (fractions[i] > 0.0)
            content +=
                Detail::BuildProgressFileLine(texts[i], Detail::BuildProgressPercentText(fractions[i]), remaining[i]);
    }
    content += '\n';
    Fileio::SeekFile(m_nProgressFile, 0, Fileio::SeekBegin);
    Fileio::WriteFile(m_nProgressFile, content.data(), content.size());
    try {
        Fileio::TruncateFile(m_nProgressFile);
    } catch (const Fileio::CFileioError&) {
        // The file keeps whatever tail it had beyond the new content.
    }
}

} // namespace Progress
} // namespace Varnel
} // namespace Qz
