#ifndef VIDODERAVEV_PROGRESS_JOURNALENTRY_H
#define VIDODERAVEV_PROGRESS_JOURNALENTRY_H

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include <sys/uio.h>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include <vidOderavev/Progress/Logger.h>

// The fields of the journal output's entries, built apart from the sending so
// that what an entry carries can be checked without a journal.

namespace Qz {
namespace Varnel {
namespace Progress {
namespace Detail {

// The fields of one journal entry, each "NAME=value", kept in one buffer that
// is reused from entry to entry, so that a message costs no allocation once
// the buffer has grown. Values are bytes: whatever they hold is kept whole
// (the sender passes a value with a line feed in the journal's binary form).
class CJournalEntry
{
public:
    void Clear();
    void Add(const char* name, const std::string& value);
    void Add(const char* name, const char* value, std::size_t size);

    std::size_t Size() const { return m_oRanges.size(); }
    // "NAME=value" of the field at index.
    std::string Field(std::size_t index) const;
    // One iovec per field, valid until the next Add or Clear.
    const std::vector<iovec>& Iovecs();

private:
    std::string m_sData;
    std::vector<std::pair<std::size_t, std::size_t>> m_oRanges;
    std::vector<iovec> m_oIovecs;
};

// The journal's priority of a level: FATAL 2 (critical), ERROR 3, WARNING 4,
// INFO 5 (notice), LOG 6 (info), DEBUG and TRACE 7. Level 0, which only the
// verbosity mapping produces and which is more severe than FATAL, is 2 too.
int JournalPriority(_EVerbosityLevel level);

// One message line: MESSAGE, PRIORITY, SYSLOG_IDENTIFIER, VIDODERAVEV_LEVEL
// (left out for a level without a name), VIDODERAVEV_TASK_ID when the task
// identifier is not empty, VIDODERAVEV_LOGGER.
void BuildJournalMessage(CJournalEntry& entry, const std::string& identifier, const std::string& line,
                         _EVerbosityLevel level, const std::string& taskId, const std::string& loggerText);

// A progress step: MESSAGE "<root text>: <percent> %" (the percent alone for
// an empty root text), PRIORITY 6, SYSLOG_IDENTIFIER, VIDODERAVEV_LOGGER,
// VIDODERAVEV_PROGRESS (the fraction, with a point whatever the C locale) and
// VIDODERAVEV_TIME_REMAINING_US when the time remaining is known.
void BuildJournalProgress(CJournalEntry& entry, const std::string& identifier, const std::string& rootText,
                          double fraction, const boost::posix_time::time_duration& remaining);

// The end of the progress, VIDODERAVEV_PROGRESS=-1, when the output is
// detached.
void BuildJournalProgressEnd(CJournalEntry& entry, const std::string& identifier, const std::string& rootText);

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz

#endif
