#include <vidOderavev/Progress/Logger.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <limits>

#include <boost/date_time/posix_time/posix_time.hpp>

#include <vidOderavev/Progress/TimeStamp.h>
#include <vidOderavev/Progress/Visualizer.h>

namespace Qz {
namespace Varnel {
namespace Progress {

namespace {

typedef boost::mutex::scoped_lock TLock;

boost::posix_time::ptime Now() { return boost::posix_time::microsec_clock::local_time(); }

// value / max, with 0 for a layer whose max value is 0 so that no NaN or
// infinity ever leaves the logger.
double Fraction(double value, double maxValue) { return maxValue != 0.0 ? value / maxValue : 0.0; }

// Truncates toward zero into 64 bits, saturating instead of overflowing.
int64_t Thousandths(double value)
{
    const double scaled = value * 1000.0;
    if (std::isnan(scaled))
        return 0;
    if (scaled >= 9.2e18)
        return std::numeric_limits<int64_t>::max();
    if (scaled <= -9.2e18)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(scaled);
}

void WriteIndent(std::ostream& stream, int count)
{
    for (int i = 0; i < count; ++i)
        stream << "    ";
}

} // namespace

CLogger::CLogger(const std::string& text, double parentQuota, double maxValue, double initialValue, bool fixedText,
                 ELayerSecrecy secrecy, const std::string& altText)
    : m_eNotificationLevel(VerbosityInfo), m_bLayerTracing(false)
{
    Push(text, parentQuota, maxValue, initialValue, fixedText, LayerClassRoot, secrecy, altText);
}

CLogger::~CLogger()
{
    TLock lock(m_oMutex);
    m_oLayers.clear();
}

int CLogger::Push(const std::string& text, double parentQuota, double maxValue, double initialValue, bool fixedText,
                  ELayerClass layerClass, ELayerSecrecy secrecy, const std::string& altText)
{
    int index;
    bool changed;
    {
        TLock lock(m_oMutex);
        if (m_bLayerTracing) {
            WriteIndent(std::cerr, _GetNumberOfLayers());
            std::cerr << "Pushing layer \"" << text << "\" with parent quota: " << parentQuota
                      << ", and max value: " << maxValue << ", and class " << static_cast<int32_t>(layerClass)
                      << std::endl;
        }
        boost::shared_ptr<Detail::SLayer> layer(new Detail::SLayer);
        layer->m_eClass = layerClass;
        layer->m_eSecrecy = secrecy;
        layer->m_dParentQuota = parentQuota;
        layer->m_dMaxValue = maxValue;
        layer->m_bFixedText = fixedText;
        layer->m_sText = text;
        layer->m_sAltText = altText;
        layer->m_dValue = 0.0;
        layer->m_dReportedValue = 0.0;
        layer->m_oStartTime = Now();
        if (!m_bLayerTracing && !m_oLayers.empty() && m_oLayers.back()->m_bFixedText) {
            layer->m_bFixedText = true;
            layer->m_sText = m_oLayers.back()->m_sText;
            layer->m_sAltText = m_oLayers.back()->m_sAltText;
        }
        m_oLayers.push_back(layer);
        index = static_cast<int>(m_oLayers.size()) - 1;
        changed = _UpdateProgress(index, initialValue, maxValue, false);
    }
    _NotifyLoggerChanged();
    if (changed)
        _TriggerProgressChange(false);
    return index;
}

void CLogger::Pop()
{
    {
        TLock lock(m_oMutex);
        // Refused silently: the root layer stays, and so does a layer that
        // child loggers feed.
        if (!m_oChildren.empty() || m_oLayers.size() < 2)
            return;
        Detail::SLayer& top = *m_oLayers.back();
        if (m_bLayerTracing) {
            WriteIndent(std::cerr, _GetNumberOfLayers() - 1);
            std::cerr << "Poping layer \"" << top.m_sText << "\"" << std::endl;
        }
        // A layer with max value 0 is completed as a range of 1 so that its
        // quota still reaches the enclosing layer.
        const double end = top.m_dMaxValue != 0.0 ? top.m_dMaxValue : 1.0;
        _UpdateProgress(_GetNumberOfLayers() - 1, end, end, true);
    }
    _TriggerProgressChange(true);
    {
        TLock lock(m_oMutex);
        if (m_oLayers.size() >= 2)
            _Pop();
    }
    _NotifyLoggerChanged();
}

void CLogger::_Pop() { m_oLayers.pop_back(); }

int CLogger::GetNumberOfLayers() const
{
    TLock lock(m_oMutex);
    return _GetNumberOfLayers();
}

int CLogger::_GetNumberOfLayers() const { return static_cast<int>(m_oLayers.size()); }

int CLogger::GetNumberOfChildren() const
{
    TLock lock(m_oMutex);
    return _GetNumberOfChildren();
}

int CLogger::_GetNumberOfChildren() const { return static_cast<int>(m_oChildren.size()); }

bool CLogger::_IsLeaf() const { return m_oChildren.empty(); }

bool CLogger::_SetText(int layer, const std::string& text)
{
    std::string& current = m_oLayers[layer]->m_sText;
    if (current == text)
        return false;
    current = text;
    return !m_oVisualizers.empty();
}

bool CLogger::_SetAltText(int layer, const std::string& text)
{
    std::string& current = m_oLayers[layer]->m_sAltText;
    if (current == text)
        return false;
    current = text;
    return !m_oVisualizers.empty();
}

void CLogger::SetText(int layer, const std::string& text)
{
    bool changed;
    {
        TLock lock(m_oMutex);
        changed = _SetText(layer, text);
    }
    if (changed)
        _NotifyTextChanged();
}

void CLogger::SetText(const std::string& text)
{
    bool changed;
    {
        TLock lock(m_oMutex);
        changed = _SetText(_GetNumberOfLayers() - 1, text);
    }
    if (changed)
        _NotifyTextChanged();
}

void CLogger::SetAltText(int layer, const std::string& text)
{
    bool changed;
    {
        TLock lock(m_oMutex);
        changed = _SetAltText(layer, text);
    }
    if (changed)
        _NotifyTextChanged();
}

void CLogger::SetAltText(const std::string& text)
{
    bool changed;
    {
        TLock lock(m_oMutex);
        changed = _SetAltText(_GetNumberOfLayers() - 1, text);
    }
    if (changed)
        _NotifyTextChanged();
}

const std::string& CLogger::GetText(int layer) const
{
    TLock lock(m_oMutex);
    return m_oLayers[layer]->m_sText;
}

const std::string& CLogger::GetText() const { return GetText(GetNumberOfLayers() - 1); }

const std::string& CLogger::GetAltText(int layer) const
{
    TLock lock(m_oMutex);
    return m_oLayers[layer]->m_sAltText;
}

void CLogger::SetClass(int layer, ELayerClass layerClass)
{
    {
        TLock lock(m_oMutex);
        m_oLayers[layer]->m_eClass = layerClass;
    }
    _NotifyLoggerChanged();
}

ELayerClass CLogger::GetClass(int layer) const
{
    TLock lock(m_oMutex);
    return m_oLayers[layer]->m_eClass;
}

const boost::shared_ptr<CLogger>& CLogger::GetParent() const { return m_oParent; }

void CLogger::AddChildLogger(const boost::shared_ptr<CLogger>& child)
{
    boost::shared_ptr<CLogger> self = shared_from_this();
    TLock lock(m_oMutex);
    m_oChildren.push_back(child);
    child->m_oParent = self;
}

void CLogger::RemoveChildLogger(const boost::shared_ptr<CLogger>& child)
{
    boost::shared_ptr<CLogger> released;
    TLock lock(m_oMutex);
    for (auto it = m_oChildren.begin(); it != m_oChildren.end(); ++it) {
        if (it->get() == child.get()) {
            released = child->m_oParent;
            child->m_oParent.reset();
            m_oChildren.erase(it);
            return;
        }
    }
}

void CLogger::AddVisualizer(const boost::shared_ptr<Detail::CVisualizer>& visualizer)
{
    TLock lock(m_oMutex);
    m_oVisualizers.push_back(visualizer);
}

void CLogger::RemoveVisualizer(const boost::shared_ptr<Detail::CVisualizer>& visualizer)
{
    boost::shared_ptr<Detail::CVisualizer> released;
    TLock lock(m_oMutex);
    for (auto it = m_oVisualizers.begin(); it != m_oVisualizers.end(); ++it) {
        if (it->get() == visualizer.get()) {
            released = *it; // destroyed after the mutex is released
            m_oVisualizers.erase(it);
            return;
        }
    }
}

bool CLogger::_UpdateProgress(int layer, double value, double maxValue, bool force)
{
    Detail::SLayer* current = m_oLayers[layer].get();
    if (current->m_dReportedValue == value && maxValue == current->m_dMaxValue)
        return false;
    if (!force && std::min(current->m_dReportedValue + 0.05 * maxValue, maxValue) > value) {
        current->m_dValue = value;
        current->m_dMaxValue = maxValue;
        return false;
    }
    double x = value;
    double m = maxValue;
    double delta = 0.0;
    for (int j = layer;; --j) {
        Detail::SLayer& l = *m_oLayers[j];
        const double c = std::min(m, x);
        const double oldFraction = Fraction(l.m_dReportedValue, l.m_dMaxValue);
        l.m_dMaxValue = m;
        l.m_dValue = c;
        l.m_dReportedValue = c;
        delta = Fraction(c, m) - oldFraction;
        if (j == 0)
            break;
        const Detail::SLayer& p = *m_oLayers[j - 1];
        x = std::max(delta * l.m_dParentQuota + p.m_dValue, 0.0);
        m = p.m_dMaxValue;
    }
    if (m_oParent)
        m_oParent->_ReceiveChildProgress(delta, m_oLayers[0]->m_dParentQuota);
    return true;
}

void CLogger::_ReceiveChildProgress(double fractionDelta, double parentQuota)
{
    // The top layer is read and updated under one lock: children on other
    // threads feed the same layer.
    TLock lock(m_oMutex);
    const int top = _GetNumberOfLayers() - 1;
    const Detail::SLayer& layer = *m_oLayers[top];
    const double x = std::max(fractionDelta * parentQuota + layer.m_dValue, 0.0);
    _UpdateProgress(top, x, layer.m_dMaxValue, false);
}

bool CLogger::_UpdateProgressLocked(int layer, double value, double maxValue, bool force)
{
    TLock lock(m_oMutex);
    return _UpdateProgress(layer, value, maxValue, force);
}

CLogger::TVisualizerList CLogger::_CopyVisualizers() const
{
    TLock lock(m_oMutex);
    return m_oVisualizers;
}

void CLogger::_TriggerProgressChange(bool immediate) const
{
    boost::shared_ptr<CLogger> parent;
    TVisualizerList visualizers;
    {
        TLock lock(m_oMutex);
        if (m_oVisualizers.empty())
            parent = m_oParent;
        else
            visualizers = m_oVisualizers;
    }
    if (visualizers.empty()) {
        if (parent)
            parent->_TriggerProgressChange(immediate);
        return;
    }
    CLogger* self = const_cast<CLogger*>(this);
    for (const auto& visualizer : visualizers)
        visualizer->ProgressChanged(self->shared_from_this(), immediate);
}

void CLogger::_NotifyLoggerChanged()
{
    const TVisualizerList visualizers = _CopyVisualizers();
    for (const auto& visualizer : visualizers)
        visualizer->LoggerChanged(shared_from_this());
}

void CLogger::_NotifyTextChanged()
{
    const TVisualizerList visualizers = _CopyVisualizers();
    for (const auto& visualizer : visualizers)
        visualizer->TextChanged(shared_from_this());
}

void CLogger::SetProgress(double value, bool force)
{
    bool changed;
    {
        TLock lock(m_oMutex);
        const int top = _GetNumberOfLayers() - 1;
        changed = _UpdateProgress(top, value, m_oLayers[top]->m_dMaxValue, force);
    }
    if (changed)
        _TriggerProgressChange(false);
}

void CLogger::IncrementProgress() { IncrementProgress(1.0); }

void CLogger::IncrementProgress(double step)
{
    bool changed;
    {
        TLock lock(m_oMutex);
        const int top = _GetNumberOfLayers() - 1;
        const Detail::SLayer& layer = *m_oLayers[top];
        changed = _UpdateProgress(top, layer.m_dValue + step, layer.m_dMaxValue, false);
    }
    if (changed)
        _TriggerProgressChange(false);
}

void CLogger::SetMaxValue(int layer, double maxValue)
{
    bool changed;
    {
        TLock lock(m_oMutex);
        changed = _UpdateProgress(layer, m_oLayers[layer]->m_dValue, maxValue, true);
    }
    if (changed)
        _TriggerProgressChange(false);
}

void CLogger::SetMaxValue(double maxValue)
{
    bool changed;
    {
        TLock lock(m_oMutex);
        const int top = _GetNumberOfLayers() - 1;
        changed = _UpdateProgress(top, m_oLayers[top]->m_dValue, maxValue, true);
    }
    if (changed)
        _TriggerProgressChange(false);
}

bool CLogger::_FlushTop()
{
    const int top = _GetNumberOfLayers() - 1;
    const Detail::SLayer& layer = *m_oLayers[top];
    return _UpdateProgress(top, layer.m_dValue, layer.m_dMaxValue, true);
}

double CLogger::GetProgress(int layer) const
{
    double result;
    bool flushed;
    {
        TLock lock(m_oMutex);
        flushed = const_cast<CLogger*>(this)->_FlushTop();
        result = m_oLayers[layer]->m_dValue;
    }
    if (flushed)
        _TriggerProgressChange(true);
    return result;
}

double CLogger::GetProgress() const { return GetProgress(GetNumberOfLayers() - 1); }

double CLogger::GetMaxValue(int layer) const
{
    double result;
    bool flushed;
    {
        TLock lock(m_oMutex);
        flushed = const_cast<CLogger*>(this)->_FlushTop();
        result = m_oLayers[layer]->m_dMaxValue;
    }
    if (flushed)
        _TriggerProgressChange(true);
    return result;
}

double CLogger::GetMaxValue() const { return GetMaxValue(GetNumberOfLayers() - 1); }

double CLogger::GetRelativeProgressValue(int layer) const
{
    double result;
    bool flushed;
    {
        TLock lock(m_oMutex);
        flushed = const_cast<CLogger*>(this)->_FlushTop();
        const Detail::SLayer& l = *m_oLayers[layer];
        result = std::min(Fraction(l.m_dValue, l.m_dMaxValue), 1.0);
    }
    if (flushed)
        _TriggerProgressChange(true);
    return result;
}

boost::posix_time::time_duration CLogger::GetTimeRemaining(int layer) const
{
    TLock lock(m_oMutex);
    const Detail::SLayer& l = *m_oLayers[layer];
    const boost::posix_time::time_duration elapsed = Now() - l.m_oStartTime;
    const int64_t done = Thousandths(l.m_dValue);
    if (done == 0)
        return boost::posix_time::time_duration(boost::posix_time::pos_infin);
    if (elapsed.is_special())
        return elapsed;
    const int64_t rest = Thousandths(l.m_dMaxValue - l.m_dValue);
    // 128 bits hold the product of any elapsed time and any rest.
    __extension__ typedef __int128 TWide;
    const TWide result = static_cast<TWide>(elapsed.total_microseconds()) * rest / done;
    const TWide limit = std::numeric_limits<int64_t>::max() / 2;
    if (result > limit)
        return boost::posix_time::time_duration(boost::posix_time::pos_infin);
    if (result < -limit)
        return boost::posix_time::time_duration(boost::posix_time::neg_infin);
    return boost::posix_time::microseconds(static_cast<int64_t>(result));
}

boost::posix_time::time_duration CLogger::GetRuntime(int layer)
{
    TLock lock(m_oMutex);
    return Now() - m_oLayers[layer]->m_oStartTime;
}

// Messages and verbosity

void CLogger::Message(_EVerbosityLevel level, const std::string& text, const std::string& taskId)
{
    const _EVerbosityLevel mapped = _GetMappedVerbosityLevel(level);
    boost::shared_ptr<CLogger> parent;
    {
        TLock lock(m_oMutex);
        parent = m_oParent;
    }
    if (parent)
        parent->Message(mapped, text, taskId);
    TVisualizerList visualizers;
    std::string timeStamp;
    {
        TLock lock(m_oMutex);
        if (m_eNotificationLevel.load(std::memory_order_relaxed) < mapped || m_oVisualizers.empty())
            return;
        visualizers = m_oVisualizers;
    }
    timeStamp = _GetTimeStamp();
    std::string::size_type begin = 0;
    while (begin <= text.size()) {
        std::string::size_type end = text.find('\n', begin);
        if (end == std::string::npos)
            end = text.size();
        if (end > begin) {
            const std::string line = text.substr(begin, end - begin);
            for (const auto& visualizer : visualizers)
                visualizer->ShowMessage(line, mapped, timeStamp, taskId);
        }
        begin = end + 1;
    }
}

void CLogger::SetNotificationLevel(_EVerbosityLevel level)
{
    TLock lock(m_oMutex);
    m_eNotificationLevel.store(level);
}

_EVerbosityLevel CLogger::GetNotificationLevel() const
{
    return static_cast<_EVerbosityLevel>(m_eNotificationLevel.load());
}

void CLogger::SetVerbosityOffset(int offset)
{
    for (int level = VerbosityInfo; level <= VerbosityTrace; ++level)
        m_oVerbosityOffsets[static_cast<_EVerbosityLevel>(level)] = offset;
}

void CLogger::IncreaseVerbosityOffset(int increment)
{
    for (int level = VerbosityInfo; level <= VerbosityTrace; ++level)
        m_oVerbosityOffsets[static_cast<_EVerbosityLevel>(level)] += increment;
}

int CLogger::GetVerbosityOffset() const
{
    return m_oVerbosityOffsets.empty() ? 0 : m_oVerbosityOffsets.begin()->second;
}

_EVerbosityLevel CLogger::_GetMappedVerbosityLevel(const _EVerbosityLevel& level)
{
    const auto it = m_oVerbosityOffsets.find(level);
    if (it == m_oVerbosityOffsets.end())
        return level;
    const int64_t mapped = static_cast<int64_t>(level) + it->second;
    return static_cast<_EVerbosityLevel>(std::min<int64_t>(std::max<int64_t>(mapped, 0), 7));
}

void CLogger::SetLayerTracing(bool on)
{
    TLock lock(m_oMutex);
    m_bLayerTracing = on;
}

std::string CLogger::GetTimeStamp() { return _GetTimeStamp(); }

std::string CLogger::_GetTimeStamp() { return Detail::LocalTimeStamp(); }

} // namespace Progress
} // namespace Varnel
} // namespace Qz
