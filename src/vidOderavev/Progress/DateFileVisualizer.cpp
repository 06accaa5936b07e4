#include <vidOderavev/Progress/DateFileVisualizer.h>

#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/filesystem/path.hpp>

#include <vidOderavev/Libraries/Fileio/FileHandle.h>
#include <vidOderavev/Libraries/Fileio/FileioUnix.h>
#include <vidOderavev/Progress/TextFormats.h>

namespace Qz {
namespace Varnel {
namespace Progress {

CDateFileVisualizer::CDateFileVisualizer(const std::string& fileName)
    : m_nProgressFile(-1), m_sBaseName(boost::filesystem::path(fileName).replace_extension().string()),
      m_oSlots(Detail::ProgressWrittenAtOnce)
{
    m_nProgressFile = Fileio::OpenFile(_BuildProgressFileName(), Fileio::AccessWriteOnly, Fileio::OpenCreate,
                                       Fileio::PermissionsReadWriteAll);
}

CDateFileVisualizer::~CDateFileVisualizer()
{
    // Through an owner, which keeps a failing close to itself: nothing can be
    // done about it here, and a destructor must neither raise nor end the
    // process.
    const Fileio::CFileHandle progressFile(m_nProgressFile);
}

boost::gregorian::date CDateFileVisualizer::_GetLocalDate() const
{
    return boost::posix_time::second_clock::local_time().date();
}

std::string CDateFileVisualizer::_BuildLogFileName() const
{
    return m_sBaseName + boost::gregorian::to_iso_extended_string(_GetLocalDate()) + ".log";
}

std::string CDateFileVisualizer::_BuildProgressFileName() const { return m_sBaseName + ".progress"; }

void CDateFileVisualizer::Clear()
{
    ClearWithFinalProgress(
        [this]() VIDODERAVEV_REQUIRES(m_oMutex) { m_oSlots.Refresh(m_oLoggers, m_nProgressFile, true); });
}

void CDateFileVisualizer::_ProgressChanged(const boost::shared_ptr<CLogger>&)
{
    m_oSlots.Refresh(m_oLoggers, m_nProgressFile);
}

void CDateFileVisualizer::_ShowMessage(const std::string& text, _EVerbosityLevel level, const std::string& timeStamp,
                                       const std::string&)
{
    // OpenCreate: the first message of a day creates that day's file, and a
    // log removed during the day is created anew.
    Detail::AppendToLogFile(_BuildLogFileName(), Fileio::OpenCreate, Detail::BuildDateLogLine(text, level, timeStamp));
}

} // namespace Progress
} // namespace Varnel
} // namespace Qz
