#ifndef VIDODERAVEV_PROGRESS_PROGRESSSLOTS_H
#define VIDODERAVEV_PROGRESS_PROGRESSSLOTS_H

#include <atomic>
#include <list>
#include <string>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/shared_ptr.hpp>

#include <vidOderavev/Export.h>
#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/ThreadSafety.h>

namespace Qz {
namespace Varnel {
namespace Progress {
namespace Detail {

// How an output writes its progress file.
enum EProgressFileStyle
{
    // The simple and dated outputs write the rows in the call that changed
    // them. Every row in use gets a line; a row that falls out of use keeps
    // its state.
    ProgressWrittenAtOnce,
    // The buffered output's writer thread takes the rows later. A change
    // stays pending until then, and while it does any move of a row is taken
    // too. Only a row whose fraction is above 0 gets a line; a second row out
    // of use is marked absent with the fraction -1.
    ProgressTakenLater
};

// What one line of a progress file shows.
struct VIDODERAVEV_API SProgressRow
{
    SProgressRow();

    int m_nLayer; // -1: never filled
    std::string m_sText;
    double m_dFraction;
    boost::posix_time::time_duration m_oRemaining;
};

// Copies of the rows that a progress file shows, as a writer takes them.
struct VIDODERAVEV_API SProgressRows
{
    int m_nCount;
    std::string m_asText[2];
    double m_adFraction[2];
    boost::posix_time::time_duration m_aoRemaining[2];
};

// The rows of a progress file: row 0 shows the root layer, row 1 the
// innermost layer of class 0 while there is one. A row takes the present
// state when its layer changed, only the text when its text changed, and
// otherwise the fraction and time remaining together when the fraction moved
// by more than one percentage point or another row changed with it.
class VIDODERAVEV_API CProgressSlots
{
public:
    explicit CProgressSlots(EProgressFileStyle style);
    CProgressSlots(const CProgressSlots&) = delete;
    CProgressSlots& operator=(const CProgressSlots&) = delete;

    // Brings the rows up to date with the first of the loggers; true when
    // anything changed. With all, every row takes the present state (the
    // last refresh of a run). Calls come one at a time, through the
    // visualizer's mutex. The logger is queried without the rows' mutex: a
    // query can come back into the visualizer on this thread and refresh the
    // rows before this call carries on with them.
    bool Update(const std::list<boost::shared_ptr<CLogger>>& loggers, bool all = false)
        VIDODERAVEV_EXCLUDES(m_oMutex);

    // Update and, when anything changed and a progress file is open (handle
    // not -1), the rewrite of that file in place: the outputs that write at
    // once.
    void Refresh(const std::list<boost::shared_ptr<CLogger>>& loggers, int progressFile, bool all = false)
        VIDODERAVEV_EXCLUDES(m_oMutex);

    // Whether a change waits to be taken.
    bool Changed() const { return m_bChanged.load(); }
    // Copies the rows for the file and clears the changed flag.
    SProgressRows Take() VIDODERAVEV_EXCLUDES(m_oMutex);
    // A copy of one row as it stands.
    SProgressRow GetRow(int row) const VIDODERAVEV_EXCLUDES(m_oMutex);

    // The file content: for each row shown, its text, ": " and its progress
    // line; then one more line feed.
    std::string BuildContent(const SProgressRows& rows) const;

private:
    enum ERowChange
    {
        RowLayer,
        RowText,
        RowProgress
    };
    ERowChange ClassifyLocked(int row, int layer, const std::string& text, bool all) const
        VIDODERAVEV_REQUIRES(m_oMutex);

    const EProgressFileStyle m_eStyle;
    mutable Varnel::Detail::CMutex m_oMutex;
    SProgressRow m_aRows[2] VIDODERAVEV_GUARDED_BY(m_oMutex);
    int m_nRowsInUse VIDODERAVEV_GUARDED_BY(m_oMutex);
    // Set with every change of the rows, cleared by Take; the buffered
    // output's writer reads it between its sleeps without the mutex.
    std::atomic<bool> m_bChanged;
};

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz

#endif
