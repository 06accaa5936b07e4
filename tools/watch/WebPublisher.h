#ifndef VIDODERAVEV_TOOLS_WATCH_WEBPUBLISHER_H
#define VIDODERAVEV_TOOLS_WATCH_WEBPUBLISHER_H

#include <map>
#include <string>

#include "watch/MessageFilter.h"
#include "watch/View.h"

namespace Qz {
namespace Varnel {
namespace Watch {

class CWebHub;

// The web dashboard as one more view: turns what the collector reports into
// JSON records for the hub, and keeps each stream's state record (bar, counts,
// ETA or stalled) current, refreshing the running ones once a second.
class CWebPublisher : public CView
{
public:
    // filter: which messages are passed on (--level, --grep).
    CWebPublisher(CWebHub& hub, const CMessageFilter& filter);

    void OnStreamStarted(const CStream& stream) override;
    void OnLog(const CStream& stream, const SLogRecord& record) override;
    void OnProgress(const CStream& stream, const SProgressRecord& record) override;
    void OnStreamEnded(const CStream& stream) override;
    void OnNotice(const std::string&) override {}
    void Tick(double now) override;
    double NextDeadline(double now) const override;

private:
    struct SEntry
    {
        unsigned long long m_nId = 0;
        std::string m_sLastState; // the record last published
    };

    void _PublishState(const CStream& stream, SEntry& entry, double now);
    std::string _FormatState(const CStream& stream, const SEntry& entry, double now) const;

    CWebHub& m_oHub;
    CMessageFilter m_oFilter;
    unsigned long long m_nNextId = 1;
    // The streams still running, by the object the collector keeps for each.
    std::map<const CStream*, SEntry> m_oStreams;
    double m_dNextRefresh = 0.0;
};

} // namespace Watch
} // namespace Varnel
} // namespace Qz

#endif
