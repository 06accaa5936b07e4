#include <vidOderavev/Progress/ProgressSlots.h>

#include <cmath>

#include <vidOderavev/Progress/TextFormats.h>

namespace Qz {
namespace Varnel {
namespace Progress {
namespace Detail {

CProgressSlots::CProgressSlots() : m_anShownLayer{-1, -1}, m_adLastFraction{0.0, 0.0} {}

void CProgressSlots::_Take(int slot, const CLogger& logger, int layer)
{
    // The fraction and the time remaining belong together: both are taken at
    // the refresh, and the line shows them until the next one.
    const double fraction = logger.GetRelativeProgressValue(layer);
    m_adLastFraction[slot] = fraction;
    m_asPercentText[slot] = BuildProgressPercentText(fraction);
    m_aoTimeRemaining[slot] = logger.GetTimeRemaining(layer);
}

void CProgressSlots::Refresh(const std::list<boost::shared_ptr<CLogger>>& loggers, int progressFile, bool all)
{
    if (loggers.empty())
        return;
    // A copy: the list must not be relied on while getters run.
    const boost::shared_ptr<CLogger> logger = loggers.front();

    int wantedLayer[2] = {0, 0};
    std::string wantedText[2];
    wantedText[0] = logger->GetText(0);
    int usedSlots = 1;
    const int layers = logger->GetNumberOfLayers();
    if (layers > 1) {
        int i = layers - 1;
        while (i > 0 && logger->GetClass(i) != LayerClassStep)
            --i;
        // Also when only the root layer has class 0: it is then shown twice.
        if (logger->GetClass(i) == LayerClassStep) {
            usedSlots = 2;
            wantedLayer[1] = i;
            wantedText[1] = logger->GetText(i);
        }
    }

    // The slot members are read and written in place, never cached across a
    // getter call: a nested refresh on this thread may change them meanwhile.
    bool changed = all;
    for (int k = 0; k < usedSlots; ++k) {
        if (m_anShownLayer[k] == -1 || m_anShownLayer[k] != wantedLayer[k] || all) {
            m_anShownLayer[k] = wantedLayer[k];
            m_asLayerText[k] = wantedText[k];
            _Take(k, *logger, wantedLayer[k]);
            changed = true;
        } else if (m_asLayerText[k] != wantedText[k]) {
            m_asLayerText[k] = wantedText[k];
            changed = true;
        } else {
            const double fraction = logger->GetRelativeProgressValue(wantedLayer[k]);
            if (std::fabs(fraction - m_adLastFraction[k]) > 0.01 || changed) {
                m_asPercentText[k] = BuildProgressPercentText(fraction);
                m_adLastFraction[k] = fraction;
                m_aoTimeRemaining[k] = logger->GetTimeRemaining(wantedLayer[k]);
                changed = true;
            }
        }
    }
    if (!changed || progressFile == -1)
        return;
    RewriteProgressFile(progressFile, BuildContent(usedSlots));
}

std::string CProgressSlots::BuildContent(int usedSlots) const
{
    std::string content;
    for (int k = 0; k < usedSlots && k < 2; ++k)
        content += BuildProgressFileLine(m_asLayerText[k], m_asPercentText[k], m_aoTimeRemaining[k]);
    content += '\n';
    return content;
}

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz
