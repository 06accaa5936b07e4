#ifndef VIDODERAVEV_TOOLS_WATCH_PLAINVIEW_H
#define VIDODERAVEV_TOOLS_WATCH_PLAINVIEW_H

#include <cstdio>
#include <string>

#include "watch/MessageFilter.h"
#include "watch/View.h"

namespace Qz {
namespace Varnel {
namespace Watch {

// One line per record on the output, written and flushed as the record
// arrives, so that the collector can be piped and grepped (and a reader such
// as jq sees each line at once): a line for every message that passes the
// filter, every progress record and every end, in the formats given. The
// collector's own notices go to the error stream.
class CLineView : public CView
{
public:
    // Each returns the line without the line feed.
    struct SFormats
    {
        std::string (*m_pLog)(const CStream& stream, const SLogRecord& record);
        std::string (*m_pProgress)(const CStream& stream, double now);
        std::string (*m_pEnd)(const CStream& stream);
    };

    CLineView(std::FILE* output, std::FILE* errors, const CMessageFilter& filter, const SFormats& formats);

    void OnStreamStarted(const CStream& stream) override;
    void OnLog(const CStream& stream, const SLogRecord& record) override;
    void OnProgress(const CStream& stream, const SProgressRecord& record) override;
    void OnStreamEnded(const CStream& stream) override;
    void OnNotice(const std::string& text) override;
    bool IsOutputGone() const override { return m_bOutputGone; }

private:
    void _Write(const std::string& line);

    std::FILE* m_pOutput;
    std::FILE* m_pErrors;
    CMessageFilter m_oFilter;
    SFormats m_oFormats;
    bool m_bOutputGone = false;
};

// The line view in plain text:
//   host/pid 2026-12-06 10:00:01 WARNING: [task] text
//   host/pid PROGRESS 42.5% [ETA 1m 05s] root text   ([stalled] after 10 s
//                                                     without a change)
//   host/pid FINISHED
// and lines for streams that end early, are malformed or fall idle, each
// saying when the saved copy lacks bytes.
class CPlainView : public CLineView
{
public:
    CPlainView(std::FILE* output, std::FILE* errors, const CMessageFilter& filter);

    // The line for one record or end, without the line feed; also used by
    // the terminal view for its summary.
    static std::string FormatLog(const CStream& stream, const SLogRecord& record);
    static std::string FormatProgress(const CStream& stream, double now);
    static std::string FormatEnd(const CStream& stream);
    // " (saved copy incomplete: PATH)" when saving the stream stopped early.
    static std::string FormatSaveNote(const CStream& stream);

private:
    static std::string FormatState(const CStream& stream);
};

// Seconds on the monotonic clock, the time base of every view and stream.
double MonotonicNow();

} // namespace Watch
} // namespace Varnel
} // namespace Qz

#endif
