#include <vidOderavev/Progress/JournalVisualizer.h>

#include <cerrno>
#include <system_error>

#include <unistd.h>

// The entries carry no CODE_FILE/CODE_LINE of this source: they would name
// the library, not the host's code.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>

#include <vidOderavev/Diagnostics.h>
#include <vidOderavev/Internationalisation/FormatText.h>
#include <vidOderavev/Progress/JournalEntry.h>
#include <vidOderavev/Progress/XmlLogStream.h>

namespace Qz {
namespace Varnel {
namespace Progress {

namespace {

const char g_acJournalSocket[] = "/run/systemd/journal/socket";

std::string ProgramName(const std::string& identifier)
{
    return identifier.empty() ? std::string(program_invocation_short_name) : identifier;
}

} // namespace

CJournalVisualizer::CJournalVisualizer() : CJournalVisualizer(std::string()) {}

CJournalVisualizer::CJournalVisualizer(const std::string& identifier)
    : m_sIdentifier(ProgramName(identifier)), m_bSilent(false), m_dLastFraction(0.0),
      m_pEntry(new Detail::CJournalEntry)
{
    // Without journald there is no socket, and every send would fail anyway;
    // telling the user now is more useful than at the first message.
    if (::access(g_acJournalSocket, F_OK) != 0)
        SilenceLocked(errno);
}

CJournalVisualizer::~CJournalVisualizer() {}

void CJournalVisualizer::Clear()
{
    boost::shared_ptr<CLogger> first;
    {
        Varnel::Detail::CScopedLock<Varnel::Detail::CRecursiveMutex> lock(m_oMutex);
        if (m_oLoggers.empty())
            return;
        first = m_oLoggers.front();
    }
    const std::string rootText = first->GetText(0);
    CVisualizerBase::Clear();
    Varnel::Detail::CScopedLock<Varnel::Detail::CRecursiveMutex> lock(m_oMutex);
    Detail::BuildJournalProgressEnd(*m_pEntry, m_sIdentifier, rootText);
    SendLocked();
}

void CJournalVisualizer::_ShowMessage(const std::string& text, _EVerbosityLevel level, const std::string&,
                                      const std::string& taskId)
{
    if (m_bSilent)
        return;
    const std::string loggerText = m_oLoggers.empty() ? std::string() : m_oLoggers.front()->GetText(0);
    Detail::BuildJournalMessage(*m_pEntry, m_sIdentifier, text, level, taskId, loggerText);
    SendLocked();
}

void CJournalVisualizer::_ProgressChanged(const boost::shared_ptr<CLogger>&)
{
    if (m_bSilent || m_oLoggers.empty())
        return;
    const boost::shared_ptr<CLogger> first = m_oLoggers.front();
    Detail::SProgressStep step;
    if (!Detail::TakeProgressStep(first, m_dLastFraction, m_sLastRootText, step))
        return;
    Detail::BuildJournalProgress(*m_pEntry, m_sIdentifier, step.m_sRootText, step.m_dFraction,
                                 first->GetTimeRemaining(0));
    SendLocked();
}

void CJournalVisualizer::SendLocked()
{
    if (m_bSilent)
        return;
    const std::vector<iovec>& fields = m_pEntry->Iovecs();
    const int result = sd_journal_sendv(fields.data(), static_cast<int>(fields.size()));
    if (result < 0)
        SilenceLocked(-result);
}

void CJournalVisualizer::SilenceLocked(int error)
{
    m_bSilent = true;
    Varnel::Detail::WriteDiagnostic(
        Internationalisation::FormatTranslated(
            "The systemd journal cannot be reached (%1%); the journal output stays silent.",
            std::string(g_acJournalSocket) + ": " + std::error_code(error, std::generic_category()).message()) +
        "\n");
}

} // namespace Progress
} // namespace Varnel
} // namespace Qz
