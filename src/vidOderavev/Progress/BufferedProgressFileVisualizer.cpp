#include <vidOderavev/Progress/BufferedProgressFileVisualizer.h>

#include <exception>

#include <vidOderavev/Libraries/Fileio/FileioUnix.h>
#include <vidOderavev/Progress/TextFormats.h>

namespace Qz {
namespace Varnel {
namespace Progress {

CBufferedProgressFileVisualizer::CBufferedProgressFileVisualizer(const std::string& directory, const std::string& stem,
                                                                 bool dated)
    : CBufferedFileVisualizer(directory, stem, dated), m_oSlots(Detail::ProgressTakenLater), m_nProgressFile(-1)
{
    // The progress lines are formatted with Boost.Format, whose parser fills
    // a per-character cache of the shared ctype facet on first use, without a
    // lock. Formatting each of the four line forms once here, before the
    // writer thread exists, fills that cache for every character the writer
    // will use, so the writer only ever reads it.
    for (const int seconds : {0, 30, 120, 7200})
        Detail::BuildProgressLine("0", boost::posix_time::seconds(seconds));
    // Started last, when the rows it reads exist.
    m_oProgressThread.Start([this] { _ProgressFileThread(); });
}

CBufferedProgressFileVisualizer::~CBufferedProgressFileVisualizer()
{
    m_oProgressThread.Stop();
    // The base destructor then stops the log writer in the same way.
}

void CBufferedProgressFileVisualizer::ProgressChanged(const boost::shared_ptr<CLogger>& logger, bool immediate)
{
    Detail::CVisualizerBase::ProgressChanged(logger, immediate);
}

void CBufferedProgressFileVisualizer::Clear()
{
    ClearWithFinalProgress([this]() VIDODERAVEV_REQUIRES(m_oMutex) { m_oSlots.Update(m_oLoggers, true); });
}

void CBufferedProgressFileVisualizer::_ProgressChanged(const boost::shared_ptr<CLogger>&)
{
    // The rows always show the first logger registered; the writer thread
    // picks the change up.
    m_oSlots.Update(m_oLoggers);
}

void CBufferedProgressFileVisualizer::_ProgressFileThread()
{
    m_oProgressThread.Run(
        [this] {
            if (m_oSlots.Changed())
                TakeAndWriteRows();
            return false;
        },
        [this] { FinishFile(m_nProgressFile, m_oProgressFilePath); });
}

void CBufferedProgressFileVisualizer::TakeAndWriteRows()
{
    const Detail::SProgressRows rows = m_oSlots.Take();
    std::exception_ptr failure;
    try {
        _WriteProgress(rows.m_asText, rows.m_adFraction, rows.m_aoRemaining);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!failure)
        return;
    // This rewrite is lost; the next change opens the file again and writes
    // the whole content anew.
    std::string name = m_oProgressFilePath.string();
    if (name.empty())
        name = (boost::filesystem::path(m_sDirectory) / (m_sStem + ".progress")).string();
    AbandonFile(m_nProgressFile, m_oProgressFilePath, name, failure);
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
    Detail::SProgressRows rows;
    rows.m_nCount = 2;
    for (int i = 0; i < 2; ++i) {
        rows.m_asText[i] = texts[i];
        rows.m_adFraction[i] = fractions[i];
        rows.m_aoRemaining[i] = remaining[i];
    }
    Detail::RewriteProgressFile(m_nProgressFile, m_oSlots.BuildContent(rows));
}

} // namespace Progress
} // namespace Varnel
} // namespace Qz
