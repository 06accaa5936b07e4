#ifndef VIDODERAVEV_PROGRESS_JOURNALVISUALIZER_H
#define VIDODERAVEV_PROGRESS_JOURNALVISUALIZER_H

#include <memory>
#include <string>

#include <boost/shared_ptr.hpp>

#include <vidOderavev/Export.h>
#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/Progress/Visualizer.h>

namespace Qz {
namespace Varnel {
namespace Progress {

namespace Detail {
class CJournalEntry;
}

// Writes into the systemd journal, structured, so that a log pipeline can
// filter by level, task and progress without parsing text. Every message line
// becomes one entry with MESSAGE (the line, whatever bytes it holds, never
// cut), PRIORITY (FATAL 2, ERROR 3, WARNING 4, INFO 5, LOG 6, DEBUG and
// TRACE 7), SYSLOG_IDENTIFIER, VIDODERAVEV_LEVEL (the level's name),
// VIDODERAVEV_TASK_ID when the message has a task identifier, and
// VIDODERAVEV_LOGGER (the root layer's text of the first registered logger).
//
// Progress of the first registered logger becomes an entry whenever its
// overall progress crosses a whole percent or its root text changes, as in
// the XML log stream: MESSAGE "<root text>: <percent> %", PRIORITY 6,
// VIDODERAVEV_PROGRESS (the fraction, with a point as separator) and
// VIDODERAVEV_TIME_REMAINING_US when the time remaining is known. Clear()
// adds, after the run-time note, an entry with VIDODERAVEV_PROGRESS=-1 that
// marks the end.
//
// A journal that is not there (no journal socket, or a send that fails)
// makes the output silent for good; it says so once through the library's
// diagnostics (standard error). The entries are datagrams to the local
// journald, and large ones are handed over as sealed memory files, so a
// running journald takes them without delay.
//
// Own it through a boost::shared_ptr and attach it with AddLogger.
class VIDODERAVEV_API CJournalVisualizer : public Detail::CVisualizerBase
{
public:
    // SYSLOG_IDENTIFIER is the program's name.
    CJournalVisualizer();
    // SYSLOG_IDENTIFIER is the identifier, the program's name if it is empty.
    explicit CJournalVisualizer(const std::string& identifier);
    virtual ~CJournalVisualizer();

    void Clear() override;

protected:
    void _ProgressChanged(const boost::shared_ptr<CLogger>& logger) override VIDODERAVEV_REQUIRES(m_oMutex);
    void _ShowMessage(const std::string& text, _EVerbosityLevel level, const std::string& timeStamp,
                      const std::string& taskId) override VIDODERAVEV_REQUIRES(m_oMutex);

private:
    // Sends the entry unless the output is silent; a failure silences it.
    void SendLocked() VIDODERAVEV_REQUIRES(m_oMutex);
    void SilenceLocked(int error) VIDODERAVEV_REQUIRES(m_oMutex);

    const std::string m_sIdentifier;
    bool m_bSilent VIDODERAVEV_GUARDED_BY(m_oMutex);
    double m_dLastFraction VIDODERAVEV_GUARDED_BY(m_oMutex);
    std::string m_sLastRootText VIDODERAVEV_GUARDED_BY(m_oMutex);
    // Reused for every entry so that a message costs no allocation.
    std::unique_ptr<Detail::CJournalEntry> m_pEntry VIDODERAVEV_PT_GUARDED_BY(m_oMutex);
};

} // namespace Progress
} // namespace Varnel
} // namespace Qz

#endif
