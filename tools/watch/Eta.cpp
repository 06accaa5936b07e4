#include "watch/Eta.h"

namespace Qz {
namespace Varnel {
namespace Watch {

CEtaEstimator::CEtaEstimator(double startTime) : m_dBaseTime(startTime), m_dLastTime(startTime) {}

void CEtaEstimator::Update(double time, double percentage)
{
    if (percentage < m_dLastPercentage) {
        m_dBaseTime = time;
        m_dBasePercentage = percentage;
    }
    m_dLastPercentage = percentage;
    m_dLastTime = time;
}

bool CEtaEstimator::GetRemaining(double now, double& seconds) const
{
    const double done = m_dLastPercentage - m_dBasePercentage;
    const double elapsed = m_dLastTime - m_dBaseTime;
    if (done <= 0.0 || elapsed < 0.5 || m_dLastPercentage >= 100.0)
        return false;
    const double rate = done / elapsed;
    // Time since the last record counts as already spent on the rest.
    seconds = (100.0 - m_dLastPercentage) / rate - (now - m_dLastTime);
    if (seconds < 0.0)
        seconds = 0.0;
    return true;
}

} // namespace Watch
} // namespace Varnel
} // namespace Qz
