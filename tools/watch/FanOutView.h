#ifndef VIDODERAVEV_TOOLS_WATCH_FANOUTVIEW_H
#define VIDODERAVEV_TOOLS_WATCH_FANOUTVIEW_H

#include "watch/View.h"

namespace Qz {
namespace Varnel {
namespace Watch {

// Shows the streams in two views at once, such as the terminal and the web
// dashboard. The primary view decides when nobody reads any more.
class CFanOutView : public CView
{
public:
    CFanOutView(CView& primary, CView& secondary) : m_oPrimary(primary), m_oSecondary(secondary) {}

    void OnStreamStarted(const CStream& stream) override;
    void OnLog(const CStream& stream, const SLogRecord& record) override;
    void OnProgress(const CStream& stream, const SProgressRecord& record) override;
    void OnStreamEnded(const CStream& stream) override;
    void OnNotice(const std::string& text) override;
    void Tick(double now) override;
    double NextDeadline(double now) const override;
    void Resize() override;
    void Finish(double now) override;
    bool IsOutputGone() const override { return m_oPrimary.IsOutputGone(); }

private:
    CView& m_oPrimary;
    CView& m_oSecondary;
};

} // namespace Watch
} // namespace Varnel
} // namespace Qz

#endif
