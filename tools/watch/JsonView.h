#ifndef VIDODERAVEV_TOOLS_WATCH_JSONVIEW_H
#define VIDODERAVEV_TOOLS_WATCH_JSONVIEW_H

#include <cstdio>
#include <string>

#include "watch/MessageFilter.h"
#include "watch/View.h"

namespace Qz {
namespace Varnel {
namespace Watch {

// One JSON object per line for every message that passes the filter, every
// progress record and every end (JsonRecord.h), each flushed as it comes so
// that a reader such as jq sees it at once. The collector's own notices go
// to the error stream.
class CJsonView : public CView
{
public:
    CJsonView(std::FILE* output, std::FILE* errors, const CMessageFilter& filter);

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
    bool m_bOutputGone = false;
};

} // namespace Watch
} // namespace Varnel
} // namespace Qz

#endif
