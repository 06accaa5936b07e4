#include <vidOderavev/Progress/SimpleFileVisualizer.h>

#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>

#include <vidOderavev/Companion/ValueString.h>
#include <vidOderavev/Libraries/Fileio/FileHandle.h>
#include <vidOderavev/Libraries/Fileio/FileioUnix.h>
#include <vidOderavev/Progress/TextFormats.h>

namespace Qz {
namespace Varnel {
namespace Progress {

CSimpleFileVisualizer::CSimpleFileVisualizer(const std::string& fileName)
    : m_nProgressFile(-1), m_oSlots(Detail::ProgressWrittenAtOnce)
{
    const std::string base = boost::filesystem::path(fileName).replace_extension().string();

    // A progress file that exists but cannot be opened belongs to someone
    // else: take the next free number. One that cannot even be created (its
    // directory is missing) means running without progress.
    Fileio::CFileHandle progressFile;
    uint32_t counter = 0;
    std::string suffix;
    for (;;) {
        const std::string candidate = base + suffix + ".progress";
        try {
            progressFile.Reset(Fileio::OpenFile(candidate, Fileio::AccessWriteOnly, Fileio::OpenCreate,
                                                Fileio::PermissionsReadWriteAll));
            break;
        } catch (const Fileio::CFileioError&) {
            if (!boost::filesystem::exists(boost::filesystem::status(candidate)))
                break;
        }
        ++counter;
        suffix = "_" + Strings::MakeValueString<unsigned int>(counter);
    }

    // The log carries the number of the progress file, so the two stay a pair.
    m_sLogFileName = base + suffix + ".log";
    Fileio::CFileHandle(
        Fileio::OpenFile(m_sLogFileName, Fileio::AccessWriteOnly, Fileio::OpenCreate, Fileio::PermissionsReadWriteAll))
        .Close();
    // Only now, when the constructor can no longer raise: the destructor does
    // not run for a constructor that raises, the owner above does.
    m_nProgressFile = progressFile.Release();
}

CSimpleFileVisualizer::~CSimpleFileVisualizer()
{
    // Through an owner, which keeps a failing close to itself: nothing can be
    // done about it here, and a destructor must neither raise nor end the
    // process.
    const Fileio::CFileHandle progressFile(m_nProgressFile);
}

void CSimpleFileVisualizer::Clear()
{
    ClearWithFinalProgress(
        [this]() VIDODERAVEV_REQUIRES(m_oMutex) { m_oSlots.Refresh(m_oLoggers, m_nProgressFile, true); });
}

void CSimpleFileVisualizer::_ProgressChanged(const boost::shared_ptr<CLogger>&)
{
    m_oSlots.Refresh(m_oLoggers, m_nProgressFile);
}

void CSimpleFileVisualizer::_ShowMessage(const std::string& text, _EVerbosityLevel level, const std::string& timeStamp,
                                         const std::string& taskId)
{
    // OpenExisting: a log that was removed is not created again, the message raises.
    Detail::AppendToLogFile(m_sLogFileName, Fileio::OpenExisting,
                            Detail::BuildSimpleLogLine(text, level, timeStamp, taskId));
}

} // namespace Progress
} // namespace Varnel
} // namespace Qz
