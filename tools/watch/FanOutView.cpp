#include "watch/FanOutView.h"

namespace Qz {
namespace Varnel {
namespace Watch {

void CFanOutView::OnStreamStarted(const CStream& stream)
{
    m_oPrimary.OnStreamStarted(stream);
    m_oSecondary.OnStreamStarted(stream);
}

void CFanOutView::OnLog(const CStream& stream, const SLogRecord& record)
{
    m_oPrimary.OnLog(stream, record);
    m_oSecondary.OnLog(stream, record);
}

void CFanOutView::OnProgress(const CStream& stream, const SProgressRecord& record)
{
    m_oPrimary.OnProgress(stream, record);
    m_oSecondary.OnProgress(stream, record);
}

void CFanOutView::OnStreamEnded(const CStream& stream)
{
    m_oPrimary.OnStreamEnded(stream);
    m_oSecondary.OnStreamEnded(stream);
}

void CFanOutView::OnNotice(const std::string& text)
{
    m_oPrimary.OnNotice(text);
    m_oSecondary.OnNotice(text);
}

void CFanOutView::Tick(double now)
{
    m_oPrimary.Tick(now);
    m_oSecondary.Tick(now);
}

double CFanOutView::NextDeadline(double now) const
{
    const double first = m_oPrimary.NextDeadline(now);
    const double second = m_oSecondary.NextDeadline(now);
    if (first < 0.0)
        return second;
    return second < 0.0 || first < second ? first : second;
}

void CFanOutView::Resize()
{
    m_oPrimary.Resize();
    m_oSecondary.Resize();
}

void CFanOutView::Finish(double now)
{
    m_oPrimary.Finish(now);
    m_oSecondary.Finish(now);
}

} // namespace Watch
} // namespace Varnel
} // namespace Qz
