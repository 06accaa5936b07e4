#include "watch/Eta.h"

#include <cmath>

namespace Qz {
namespace Varnel {
namespace Watch {

const double CEtaEstimator::s_dTimeConstant = 15.0;

CEtaEstimator::CEtaEstimator(double startTime, EEtaMethod method)
    : m_eMethod(method), m_dBaseTime(startTime), m_dLastTime(startTime),
      m_dLastChange(startTime), m_oCurrent{startTime, 0.0, 0.0, 0.0}, m_oPrevious(m_oCurrent)
{
}

void CEtaEstimator::Update(double time, double percentage)
{
    if (percentage != m_dLastPercentage)
        m_dLastChange = time;
    if (percentage < m_dLastPercentage) {
        m_dBaseTime = time;
        m_dBasePercentage = percentage;
        m_oCurrent = SMoving{time, percentage, 0.0, 0.0};
        m_oPrevious = m_oCurrent;
    } else if (time > m_oCurrent.m_dTime) {
        m_oPrevious = m_oCurrent;
        _Fold(time, percentage);
    } else if (time == m_oCurrent.m_dTime && m_oCurrent.m_dTime > m_oPrevious.m_dTime) {
        // Records read at the same instant were sent over the interval that
        // ended then: the last of them closes it.
        m_oCurrent = m_oPrevious;
        _Fold(time, percentage);
    }
    m_dLastPercentage = percentage;
    m_dLastTime = time;
}

void CEtaEstimator::_Fold(double time, double percentage)
{
    const double interval = time - m_oCurrent.m_dTime;
    const double decay = std::exp(-interval / s_dTimeConstant);
    m_oCurrent.m_dWeightedRate =
        decay * m_oCurrent.m_dWeightedRate + (1.0 - decay) * (percentage - m_oCurrent.m_dPercentage) / interval;
    m_oCurrent.m_dWeight = decay * m_oCurrent.m_dWeight + (1.0 - decay);
    m_oCurrent.m_dTime = time;
    m_oCurrent.m_dPercentage = percentage;
}

bool CEtaEstimator::GetRemaining(double now, double& seconds) const
{
    const double done = m_dLastPercentage - m_dBasePercentage;
    const double elapsed = m_dLastTime - m_dBaseTime;
    if (done <= 0.0 || elapsed < 0.5 || m_dLastPercentage >= 100.0)
        return false;
    const double rate = m_eMethod == EtaAverage ? done / elapsed : m_oCurrent.m_dWeightedRate / m_oCurrent.m_dWeight;
    if (!(rate > 0.0))
        return false;
    // Time since the last record counts as already spent on the rest.
    seconds = (100.0 - m_dLastPercentage) / rate - (now - m_dLastTime);
    if (seconds < 0.0)
        seconds = 0.0;
    return true;
}

} // namespace Watch
} // namespace Varnel
} // namespace Qz
