#include <vidOderavev/Progress/ProgressSlots.h>

#include <cmath>

#include <vidOderavev/Progress/TextFormats.h>

namespace Qz {
namespace Varnel {
namespace Progress {
namespace Detail {

namespace {

typedef Varnel::Detail::CScopedLock<Varnel::Detail::CMutex> TLock;

} // namespace

SProgressRow::SProgressRow() : m_nLayer(-1), m_dFraction(0.0) {}

CProgressSlots::CProgressSlots(EProgressFileStyle style) : m_eStyle(style), m_nRowsInUse(1), m_bChanged(false) {}

CProgressSlots::ERowChange CProgressSlots::ClassifyLocked(int row, int layer, const std::string& text,
                                                          bool all) const
{
    const SProgressRow& stored = m_aRows[row];
    if (all || stored.m_nLayer == -1 || stored.m_nLayer != layer)
        return RowLayer;
    return stored.m_sText != text ? RowText : RowProgress;
}

bool CProgressSlots::Update(const std::list<boost::shared_ptr<CLogger>>& loggers, bool all)
{
    if (loggers.empty())
        return false;
    // A copy: the list must not be relied on while getters run.
    const boost::shared_ptr<CLogger> logger = loggers.front();

    int layers[2] = {0, 0};
    std::string texts[2];
    texts[0] = logger->GetText(0);
    int used = 1;
    const int count = logger->GetNumberOfLayers();
    if (count > 1) {
        int i = count - 1;
        while (i > 0 && logger->GetClass(i) != LayerClassStep)
            --i;
        // Also when only the root layer has class 0: it is then shown twice.
        if (logger->GetClass(i) == LayerClassStep) {
            used = 2;
            layers[1] = i;
            texts[1] = logger->GetText(i);
        }
    }

    // The stored rows are read anew after every getter call, never cached
    // across one: a nested refresh on this thread may change them meanwhile.
    bool changed = all;
    for (int k = 0; k < used; ++k) {
        const int layer = layers[k];
        ERowChange change;
        {
            TLock lock(m_oMutex);
            change = ClassifyLocked(k, layer, texts[k], all);
            if (change == RowText) {
                // The fraction and time remaining stay; a later call takes them.
                m_aRows[k].m_sText = texts[k];
                m_bChanged.store(true);
                changed = true;
                continue;
            }
        }
        const double fraction = logger->GetRelativeProgressValue(layer);
        if (change == RowProgress) {
            TLock lock(m_oMutex);
            const bool pending = m_eStyle == ProgressTakenLater && m_bChanged.load();
            if (!(std::fabs(fraction - m_aRows[k].m_dFraction) > 0.01 || changed || pending))
                continue;
        }
        // The fraction and the time remaining belong together: the line shows
        // both as they were at this refresh.
        const boost::posix_time::time_duration remaining = logger->GetTimeRemaining(layer);
        TLock lock(m_oMutex);
        SProgressRow& row = m_aRows[k];
        if (change == RowLayer) {
            row.m_nLayer = layer;
            row.m_sText = texts[k];
        }
        row.m_dFraction = fraction;
        row.m_oRemaining = remaining;
        m_bChanged.store(true);
        changed = true;
    }

    TLock lock(m_oMutex);
    m_nRowsInUse = used;
    if (used == 1 && m_eStyle == ProgressTakenLater) {
        // A second line that the file shows has to go with the next rewrite,
        // even when the root row itself has not moved.
        if (m_aRows[1].m_dFraction > 0.0) {
            m_bChanged.store(true);
            changed = true;
        }
        m_aRows[1].m_dFraction = -1.0;
    }
    return changed;
}

void CProgressSlots::Refresh(const std::list<boost::shared_ptr<CLogger>>& loggers, int progressFile, bool all)
{
    if (Update(loggers, all) && progressFile != -1)
        RewriteProgressFile(progressFile, BuildContent(Take()));
}

SProgressRows CProgressSlots::Take()
{
    SProgressRows rows;
    TLock lock(m_oMutex);
    rows.m_nCount = m_eStyle == ProgressWrittenAtOnce ? m_nRowsInUse : 2;
    for (int k = 0; k < 2; ++k) {
        rows.m_asText[k] = m_aRows[k].m_sText;
        rows.m_adFraction[k] = m_aRows[k].m_dFraction;
        rows.m_aoRemaining[k] = m_aRows[k].m_oRemaining;
    }
    m_bChanged.store(false);
    return rows;
}

SProgressRow CProgressSlots::GetRow(int row) const
{
    TLock lock(m_oMutex);
    return m_aRows[row];
}

std::string CProgressSlots::BuildContent(const SProgressRows& rows) const
{
    std::string content;
    for (int k = 0; k < rows.m_nCount && k < 2; ++k) {
        if (m_eStyle == ProgressWrittenAtOnce || rows.m_adFraction[k] > 0.0)
            content += BuildProgressFileLine(rows.m_asText[k], BuildProgressPercentText(rows.m_adFraction[k]),
                                             rows.m_aoRemaining[k]);
    }
    content += '\n';
    return content;
}

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz
