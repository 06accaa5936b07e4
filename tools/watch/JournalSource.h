#ifndef VIDODERAVEV_TOOLS_WATCH_JOURNALSOURCE_H
#define VIDODERAVEV_TOOLS_WATCH_JOURNALSOURCE_H

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include <boost/noncopyable.hpp>

#include "watch/Stream.h"

struct sd_journal;

namespace Qz {
namespace Varnel {
namespace Watch {

// The systemd journal as the collector's input: the local journal or the
// journal files of one directory (such as systemd-journal-remote writes for
// many hosts). Only entries with the library's VIDODERAVEV_ fields are read.
// Each host and process (_HOSTNAME, _PID) is one stream: VIDODERAVEV_PROGRESS
// (a fraction) moves its bar, -1 finishes it, and every other entry is a
// message with VIDODERAVEV_LEVEL, VIDODERAVEV_TASK_ID and the entry's time.
class CJournalSource : private boost::noncopyable
{
public:
    explicit CJournalSource(EEtaMethod etaMethod);
    ~CJournalSource();

    // directory empty: the local journal. since: "2026-12-06 10:00:00", local
    // time; empty: only entries written from now on. False with the reason.
    bool Open(const std::string& directory, const std::string& since, std::string& error);
    // Where the streams are named and shown; before the first ReadNew.
    void Attach(CLabelRegistry& labels, CStreamObserver& observer);

    // What the collector polls for new entries, and when at the latest it
    // must look again even without an event (seconds; negative: never).
    int GetDescriptor() const;
    double GetWaitLimit(double now) const;
    // Takes whatever the journal has gained since the last call.
    void ReadNew(double now);
    int GetEndedCount() const { return m_nEnded; }

private:
    void _Take(double now);
    std::string _Field(const char* name) const;

    CLabelRegistry* m_pLabels = nullptr;
    CStreamObserver* m_pObserver = nullptr;
    EEtaMethod m_eEtaMethod;
    sd_journal* m_pJournal = nullptr;
    std::string m_sSource;
    std::map<std::string, std::unique_ptr<CStream>> m_oStreams; // by host and process
    int m_nEnded = 0;
};

// "2026-12-06 10:00:00" in local time as microseconds since the epoch; false
// when the text is no such time.
bool ParseLocalTime(const std::string& text, std::uint64_t& microseconds);

} // namespace Watch
} // namespace Varnel
} // namespace Qz

#endif
