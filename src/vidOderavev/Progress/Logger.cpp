#include <vidOderavev/Progress/Logger.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <limits>
#include <locale>
#include <sstream>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/make_shared.hpp>

#include <vidOderavev/Diagnostics.h>
#include <vidOderavev/Progress/ReadSlots.h>
#include <vidOderavev/Progress/TimeRemaining.h>
#include <vidOderavev/Progress/TimeStamp.h>
#include <vidOderavev/Progress/Visualizer.h>

namespace Qz {
namespace Varnel {
namespace Progress {

namespace {

typedef Varnel::Detail::CScopedLock<Varnel::Detail::CMutex> TLock;

boost::posix_time::ptime Now() { return boost::posix_time::microsec_clock::local_time(); }

// value / max, with 0 for a layer whose max value is 0 so that no NaN or
// infinity ever leaves the logger.
double Fraction(double value, double maxValue) { return maxValue != 0.0 ? value / maxValue : 0.0; }

// Thousandfold values up to this magnitude are exact in 64 bits.
const double g_dWideLimit = 9.2e18;

// Writes one trace line in a single piece. The numbers take the default
// formatting of a fresh stream with the classic locale, whatever the host did
// to std::cerr or to the global locale.
void WriteTrace(int indent, const std::string& text)
{
    std::string line;
    for (int i = 0; i < indent; ++i)
        line += "    ";
    line += text;
    line += '\n';
    Varnel::Detail::WriteDiagnostic(line);
}

// A visualizer that calls a getter inside ProgressChanged is told once more on
// the same thread when the getter's flush passed something outward. While
// other threads keep feeding the logger, every nested flush can find something
// new, so the nesting is cut after a few levels: the getter has returned the
// current value to the visualizer anyway.
thread_local int g_nProgressNotificationDepth = 0;
const int g_nMaxFlushNotificationDepth = 4;

struct SProgressNotificationScope
{
    SProgressNotificationScope() { ++g_nProgressNotificationDepth; }
    ~SProgressNotificationScope() { --g_nProgressNotificationDepth; }
    SProgressNotificationScope(const SProgressNotificationScope&) = delete;
    SProgressNotificationScope& operator=(const SProgressNotificationScope&) = delete;
};

bool MayNotifyFlush() { return g_nProgressNotificationDepth < g_nMaxFlushNotificationDepth; }

// Keeps the first exception of a series of calls and lets the rest run: an
// output that cannot write (a log file on a full disk) must not silence the
// outputs after it. The exception leaves, unchanged, once all were served.
class CFirstFailure
{
public:
    template <class TCall> void Run(TCall&& call)
    {
        try {
            call();
        } catch (...) {
            if (!m_oFirst)
                m_oFirst = std::current_exception();
        }
    }
    void Rethrow() const
    {
        if (m_oFirst)
            std::rethrow_exception(m_oFirst);
    }

private:
    std::exception_ptr m_oFirst;
};

template <class TVisualizerList, class TCall> void NotifyEach(const TVisualizerList& visualizers, TCall&& call)
{
    CFirstFailure failure;
    for (const auto& visualizer : visualizers)
        failure.Run([&] { call(*visualizer); });
    failure.Rethrow();
}

// Cuts a message into lines, skipping empty ones, and hands every line to
// every output; the first failure leaves at the end.
template <class TVisualizerList>
void ShowLines(const TVisualizerList& visualizers, const std::string& text, _EVerbosityLevel level,
               const std::string& timeStamp, const std::string& taskId)
{
    CFirstFailure failure;
    // Most messages are one line: they are handed on without a copy.
    if (!text.empty() && std::memchr(text.data(), '\n', text.size()) == nullptr) {
        for (const auto& visualizer : visualizers)
            failure.Run([&] { visualizer->ShowMessage(text, level, timeStamp, taskId); });
        failure.Rethrow();
        return;
    }
    std::string::size_type begin = 0;
    while (begin <= text.size()) {
        std::string::size_type end = text.find('\n', begin);
        if (end == std::string::npos)
            end = text.size();
        if (end > begin) {
            const std::string line = text.substr(begin, end - begin);
            for (const auto& visualizer : visualizers)
                failure.Run([&] { visualizer->ShowMessage(line, level, timeStamp, taskId); });
        }
        begin = end + 1;
    }
    failure.Rethrow();
}

// What a thread keeps for its messages. The outputs get the time stamp by
// reference, so Message keeps it in a per-thread cache instead of copying it
// for every call; and it reads a logger's outputs through a read slot instead
// of taking a reference to them. An output may send a message of its own from
// ShowMessage, so every nesting depth has its own cache and slot: an inner
// message in a new second must not change the text that the outer one is
// still handing out. Deeper nesting copies the text and takes a reference.
struct SMessageThread
{
    int m_nDepth = 0;
    Detail::CTimeStampCache m_aCaches[Detail::CReadSlots::g_nSlots];
    Detail::CReadSlots m_oSlots;
};
thread_local SMessageThread g_oMessageThread;

// Takes a depth only once the message has outputs to reach: a message that
// the filter drops touches no per-thread state.
class CMessageScope
{
public:
    CMessageScope() = default;
    ~CMessageScope()
    {
        if (m_pThread == nullptr)
            return;
        if (m_bReading)
            m_pThread->m_oSlots.EndRead(m_nDepth);
        --m_pThread->m_nDepth;
    }
    CMessageScope(const CMessageScope&) = delete;
    CMessageScope& operator=(const CMessageScope&) = delete;

    // Under the owner's mutex, once per scope; false when the caller must
    // take a reference.
    bool Read(const void* list)
    {
        m_pThread = &g_oMessageThread;
        m_nDepth = m_pThread->m_nDepth++;
        m_bReading = m_pThread->m_oSlots.Read(m_nDepth, list);
        return m_bReading;
    }
    // After Read; null beyond the cached depths.
    Detail::CTimeStampCache* Cache() const
    {
        return m_nDepth < Detail::CReadSlots::g_nSlots ? &m_pThread->m_aCaches[m_nDepth] : nullptr;
    }

private:
    SMessageThread* m_pThread = nullptr;
    int m_nDepth = 0;
    bool m_bReading = false;
};

template <class TVisualizerList>
void DeliverMessage(const TVisualizerList& visualizers, const std::string& text, _EVerbosityLevel level,
                    const std::string& taskId, const CMessageScope& scope)
{
    if (Detail::CTimeStampCache* cache = scope.Cache())
        ShowLines(visualizers, text, level, cache->Current(), taskId);
    else
        ShowLines(visualizers, text, level, Detail::LocalTimeStamp(), taskId);
}

} // namespace

namespace Detail {

boost::posix_time::time_duration EstimateTimeRemaining(double value, double maxValue,
                                                       const boost::posix_time::time_duration& elapsed)
{
    const double done = std::trunc(value * 1000.0);
    if (done == 0.0 || std::isnan(done))
        return boost::posix_time::time_duration(boost::posix_time::pos_infin);
    if (elapsed.is_special())
        return elapsed;
    const double rest = std::trunc((maxValue - value) * 1000.0);
    if (std::isnan(rest))
        return boost::posix_time::time_duration(boost::posix_time::pos_infin);
    const int64_t limit = std::numeric_limits<int64_t>::max() / 2;
    const int64_t micro = elapsed.total_microseconds();
    int64_t result;
    if (std::fabs(done) < g_dWideLimit && std::fabs(rest) < g_dWideLimit) {
        // 128 bits hold the product of any elapsed time and any rest: exact.
        __extension__ typedef __int128 TWide;
        const TWide wide = static_cast<TWide>(micro) * static_cast<int64_t>(rest) / static_cast<int64_t>(done);
        if (wide > limit || wide < -limit)
            return boost::posix_time::time_duration(wide > 0 ? boost::posix_time::pos_infin
                                                             : boost::posix_time::neg_infin);
        result = static_cast<int64_t>(wide);
    } else {
        // Thousandfolds beyond 64 bits: only their ratio matters, and the
        // extended precision keeps it to far below a microsecond per hour.
        const long double ratio = static_cast<long double>(micro) * (static_cast<long double>(rest) / done);
        if (std::isnan(ratio) || ratio > limit || ratio < -limit)
            return boost::posix_time::time_duration(ratio < 0 ? boost::posix_time::neg_infin
                                                              : boost::posix_time::pos_infin);
        result = static_cast<int64_t>(ratio);
    }
    return boost::posix_time::microseconds(result);
}

} // namespace Detail

CLogger::CLogger(const std::string& text, double parentQuota, double maxValue, double initialValue, bool fixedText,
                 ELayerSecrecy secrecy, const std::string& altText)
    : m_pTopLayer(nullptr), m_dTopThreshold(0.0), m_eNotificationLevel(VerbosityInfo), m_nVerbosityOffset(0),
      m_bLayerTracing(false)
{
    Push(text, parentQuota, maxValue, initialValue, fixedText, LayerClassRoot, secrecy, altText);
}

CLogger::~CLogger()
{
    TVisualizers visualizers;
    {
        TLock lock(m_oMutex);
        m_oLayers.clear();
        m_pTopLayer = nullptr;
        visualizers.swap(m_pVisualizers);
    }
    // A hook that dropped the last reference to this logger may be reading
    // the list still.
    Detail::ReleaseReadList(std::move(visualizers));
}

int CLogger::Push(const std::string& text, double parentQuota, double maxValue, double initialValue, bool fixedText,
                  ELayerClass layerClass, ELayerSecrecy secrecy, const std::string& altText)
{
    int index;
    bool changed;
    {
        TLock lock(m_oMutex);
        if (m_bLayerTracing) {
            std::ostringstream line;
            line.imbue(std::locale::classic());
            line << "Pushing layer \"" << text << "\" with parent quota: " << parentQuota << ", and max value: " << maxValue
                 << ", and class " << static_cast<int32_t>(layerClass);
            WriteTrace(_GetNumberOfLayers(), line.str());
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
        RefreshTopLocked();
        index = static_cast<int>(m_oLayers.size()) - 1;
        changed = _UpdateProgress(index, initialValue, maxValue, false);
    }
    // The outputs are told of both changes even when one of them raises.
    CFirstFailure failure;
    failure.Run([&] { NotifyLoggerChanged(); });
    if (changed)
        failure.Run([&] { _TriggerProgressChange(false); });
    failure.Rethrow();
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
        if (m_bLayerTracing)
            WriteTrace(_GetNumberOfLayers() - 1, "Poping layer \"" + top.m_sText + "\"");
        // A layer with max value 0 is completed as a range of 1 so that its
        // quota still reaches the enclosing layer.
        const double end = top.m_dMaxValue != 0.0 ? top.m_dMaxValue : 1.0;
        _UpdateProgress(_GetNumberOfLayers() - 1, end, end, true);
    }
    // An output that raises must not keep the layer on the stack, nor the
    // other outputs from hearing of the pop.
    CFirstFailure failure;
    failure.Run([&] { _TriggerProgressChange(true); });
    {
        TLock lock(m_oMutex);
        if (m_oLayers.size() >= 2)
            _Pop();
    }
    failure.Run([&] { NotifyLoggerChanged(); });
    failure.Rethrow();
}

void CLogger::_Pop()
{
    m_oLayers.pop_back();
    RefreshTopLocked();
}

void CLogger::RefreshTopLocked()
{
    if (m_oLayers.empty()) {
        m_pTopLayer = nullptr;
        return;
    }
    m_pTopLayer = m_oLayers.back().get();
    m_dTopThreshold = std::min(m_pTopLayer->m_dReportedValue + 0.05 * m_pTopLayer->m_dMaxValue,
                               m_pTopLayer->m_dMaxValue);
}

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
    return m_pVisualizers != nullptr;
}

bool CLogger::_SetAltText(int layer, const std::string& text)
{
    std::string& current = m_oLayers[layer]->m_sAltText;
    if (current == text)
        return false;
    current = text;
    return m_pVisualizers != nullptr;
}

void CLogger::SetText(int layer, const std::string& text)
{
    bool changed;
    {
        TLock lock(m_oMutex);
        changed = _SetText(layer, text);
    }
    if (changed)
        NotifyTextChanged();
}

void CLogger::SetText(const std::string& text)
{
    bool changed;
    {
        TLock lock(m_oMutex);
        changed = _SetText(_GetNumberOfLayers() - 1, text);
    }
    if (changed)
        NotifyTextChanged();
}

void CLogger::SetAltText(int layer, const std::string& text)
{
    bool changed;
    {
        TLock lock(m_oMutex);
        changed = _SetAltText(layer, text);
    }
    if (changed)
        NotifyTextChanged();
}

void CLogger::SetAltText(const std::string& text)
{
    bool changed;
    {
        TLock lock(m_oMutex);
        changed = _SetAltText(_GetNumberOfLayers() - 1, text);
    }
    if (changed)
        NotifyTextChanged();
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
    NotifyLoggerChanged();
}

ELayerClass CLogger::GetClass(int layer) const
{
    TLock lock(m_oMutex);
    return m_oLayers[layer]->m_eClass;
}

const boost::shared_ptr<CLogger>& CLogger::GetParent() const
{
    TLock lock(m_oMutex);
    return m_oParent;
}

// The child reads its parent link under its own mutex (messages, progress),
// so the link is changed under the child's mutex too, taken first as
// everywhere else.
void CLogger::AddChildLogger(const boost::shared_ptr<CLogger>& child)
{
    boost::shared_ptr<CLogger> self = shared_from_this();
    boost::shared_ptr<CLogger> former; // released after the mutexes
    if (child.get() == this) {
        TLock lock(m_oMutex);
        m_oChildren.push_back(child);
        former = m_oParent;
        m_oParent = self;
        return;
    }
    TLock childLock(child->m_oMutex);
    TLock lock(m_oMutex);
    m_oChildren.push_back(child);
    former = child->m_oParent;
    child->m_oParent = self;
}

void CLogger::RemoveChildLogger(const boost::shared_ptr<CLogger>& child)
{
    if (child.get() == this) {
        boost::shared_ptr<CLogger> released;
        TLock lock(m_oMutex);
        for (auto it = m_oChildren.begin(); it != m_oChildren.end(); ++it) {
            if (it->get() == this) {
                released = m_oParent;
                m_oParent.reset();
                m_oChildren.erase(it);
                return;
            }
        }
        return;
    }
    boost::shared_ptr<CLogger> released;
    TLock childLock(child->m_oMutex);
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
    TVisualizers previous;
    {
        TLock lock(m_oMutex);
        boost::shared_ptr<TVisualizerList> visualizers =
            m_pVisualizers ? boost::make_shared<TVisualizerList>(*m_pVisualizers) : boost::make_shared<TVisualizerList>();
        visualizers->push_back(visualizer);
        previous.swap(m_pVisualizers);
        m_pVisualizers = visualizers;
    }
    Detail::ReleaseReadList(std::move(previous));
}

void CLogger::RemoveVisualizer(const boost::shared_ptr<Detail::CVisualizer>& visualizer)
{
    TVisualizers previous; // may hold the last reference: released after the mutex
    {
        TLock lock(m_oMutex);
        if (!m_pVisualizers)
            return;
        const auto it = std::find(m_pVisualizers->begin(), m_pVisualizers->end(), visualizer);
        if (it == m_pVisualizers->end())
            return;
        boost::shared_ptr<TVisualizerList> visualizers = boost::make_shared<TVisualizerList>(*m_pVisualizers);
        visualizers->erase(visualizers->begin() + (it - m_pVisualizers->begin()));
        previous.swap(m_pVisualizers);
        if (!visualizers->empty())
            m_pVisualizers = visualizers;
    }
    Detail::ReleaseReadList(std::move(previous));
}

bool CLogger::_UpdateProgress(int layer, double value, double maxValue, bool force)
{
    Detail::SLayer* current = m_oLayers[layer].get();
    if (current->m_dReportedValue == value && maxValue == current->m_dMaxValue) {
        // Nothing to pass outward, but a held-back different value must not
        // survive: the layer now stands at what was reported.
        current->m_dValue = value;
        return false;
    }
    if (!force && std::min(current->m_dReportedValue + 0.05 * maxValue, maxValue) > value) {
        current->m_dValue = value;
        current->m_dMaxValue = maxValue;
        RefreshTopLocked();
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
    RefreshTopLocked();
    if (m_oParent)
        m_oParent->ReceiveChildProgress(delta, m_oLayers[0]->m_dParentQuota);
    return true;
}

void CLogger::ReceiveChildProgress(double fractionDelta, double parentQuota)
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

CLogger::TVisualizers CLogger::CopyVisualizers() const
{
    TLock lock(m_oMutex);
    return m_pVisualizers;
}

void CLogger::_TriggerProgressChange(bool immediate) const
{
    boost::shared_ptr<CLogger> parent;
    TVisualizers visualizers;
    {
        TLock lock(m_oMutex);
        if (m_pVisualizers)
            visualizers = m_pVisualizers;
        else
            parent = m_oParent;
    }
    if (!visualizers) {
        if (parent)
            parent->_TriggerProgressChange(immediate);
        return;
    }
    const boost::shared_ptr<CLogger> self = const_cast<CLogger*>(this)->shared_from_this();
    const SProgressNotificationScope scope;
    NotifyEach(*visualizers, [&](Detail::CVisualizer& visualizer) { visualizer.ProgressChanged(self, immediate); });
}

void CLogger::NotifyLoggerChanged()
{
    const TVisualizers visualizers = CopyVisualizers();
    if (!visualizers)
        return;
    const boost::shared_ptr<CLogger> self = shared_from_this();
    NotifyEach(*visualizers, [&](Detail::CVisualizer& visualizer) { visualizer.LoggerChanged(self); });
}

void CLogger::NotifyTextChanged()
{
    const TVisualizers visualizers = CopyVisualizers();
    if (!visualizers)
        return;
    const boost::shared_ptr<CLogger> self = shared_from_this();
    NotifyEach(*visualizers, [&](Detail::CVisualizer& visualizer) { visualizer.TextChanged(self); });
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
    // The common case, an increment below the 5 % step, is decided here as
    // _UpdateProgress would decide it: one comparison and one store under the
    // mutex, nothing in between that can throw.
    m_oMutex.lock();
    Detail::SLayer& layer = *m_pTopLayer;
    const double value = layer.m_dValue + step;
    if (m_dTopThreshold > value) {
        layer.m_dValue = value;
        m_oMutex.unlock();
        return;
    }
    IncrementPastStepLocked(value);
}

// Kept out of line so that the increment path stays short.
__attribute__((noinline)) void CLogger::IncrementPastStepLocked(double value)
{
    bool changed;
    {
        TLock lock(m_oMutex, Varnel::Detail::SAdoptLock());
        changed = _UpdateProgress(_GetNumberOfLayers() - 1, value, m_pTopLayer->m_dMaxValue, false);
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

bool CLogger::FlushTopLocked()
{
    const int top = _GetNumberOfLayers() - 1;
    const Detail::SLayer& layer = *m_oLayers[top];
    return _UpdateProgress(top, layer.m_dValue, layer.m_dMaxValue, true);
}

double CLogger::FlushAndRead(int layer, double (*read)(const Detail::SLayer&)) const
{
    double result;
    bool flushed;
    {
        TLock lock(m_oMutex);
        flushed = const_cast<CLogger*>(this)->FlushTopLocked();
        result = read(*m_oLayers[layer]);
    }
    if (flushed && MayNotifyFlush())
        _TriggerProgressChange(true);
    return result;
}

double CLogger::GetProgress(int layer) const
{
    return FlushAndRead(layer, [](const Detail::SLayer& l) { return l.m_dValue; });
}

double CLogger::GetProgress() const { return GetProgress(GetNumberOfLayers() - 1); }

double CLogger::GetMaxValue(int layer) const
{
    return FlushAndRead(layer, [](const Detail::SLayer& l) { return l.m_dMaxValue; });
}

double CLogger::GetMaxValue() const { return GetMaxValue(GetNumberOfLayers() - 1); }

double CLogger::GetRelativeProgressValue(int layer) const
{
    return FlushAndRead(layer,
                        [](const Detail::SLayer& l) { return std::min(Fraction(l.m_dValue, l.m_dMaxValue), 1.0); });
}

boost::posix_time::time_duration CLogger::GetTimeRemaining(int layer) const
{
    double value, maxValue;
    boost::posix_time::time_duration elapsed;
    {
        TLock lock(m_oMutex);
        const Detail::SLayer& l = *m_oLayers[layer];
        value = l.m_dValue;
        maxValue = l.m_dMaxValue;
        elapsed = Now() - l.m_oStartTime;
    }
    return Detail::EstimateTimeRemaining(value, maxValue, elapsed);
}

boost::posix_time::time_duration CLogger::GetRuntime(int layer)
{
    TLock lock(m_oMutex);
    return Now() - m_oLayers[layer]->m_oStartTime;
}

// Messages and verbosity

void CLogger::Message(_EVerbosityLevel level, const std::string& text, const std::string& taskId)
{
    // Without a parent the mapping, the filter and the outputs come from one
    // lock; with one, our filter is read only after the parent has served
    // its outputs, which may have changed ours.
    CMessageScope scope;
    _EVerbosityLevel mapped;
    boost::shared_ptr<CLogger> parent;
    const TVisualizerList* visualizers = nullptr;
    TVisualizers held; // only where the list cannot be read through the slot
    const auto take = [&]() VIDODERAVEV_REQUIRES(m_oMutex) {
        if (m_pVisualizers && m_eNotificationLevel.load(std::memory_order_relaxed) >= mapped) {
            visualizers = m_pVisualizers.get();
            if (!scope.Read(visualizers))
                held = m_pVisualizers;
        }
    };
    {
        TLock lock(m_oMutex);
        mapped = MappedVerbosityLevelLocked(level);
        if (m_oParent)
            parent = m_oParent;
        else
            take();
    }
    if (!parent) {
        if (visualizers)
            DeliverMessage(*visualizers, text, mapped, taskId, scope);
        return;
    }
    // A failing output of the parent keeps the message from none of ours.
    CFirstFailure failure;
    failure.Run([&] { parent->Message(mapped, text, taskId); });
    {
        TLock lock(m_oMutex);
        take();
    }
    if (visualizers)
        failure.Run([&] { DeliverMessage(*visualizers, text, mapped, taskId, scope); });
    failure.Rethrow();
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
    TLock lock(m_oMutex);
    m_nVerbosityOffset = offset;
}

void CLogger::IncreaseVerbosityOffset(int increment)
{
    TLock lock(m_oMutex);
    m_nVerbosityOffset += increment;
}

int CLogger::GetVerbosityOffset() const
{
    TLock lock(m_oMutex);
    return m_nVerbosityOffset;
}

_EVerbosityLevel CLogger::_GetMappedVerbosityLevel(const _EVerbosityLevel& level)
{
    TLock lock(m_oMutex);
    return MappedVerbosityLevelLocked(level);
}

// Inline, as the message path's helpers: a library built for position-independent
// code calls exported functions out of line otherwise.
inline _EVerbosityLevel CLogger::MappedVerbosityLevelLocked(_EVerbosityLevel level) const
{
    if (level < VerbosityInfo || level > VerbosityTrace)
        return level;
    const int64_t mapped = static_cast<int64_t>(level) + m_nVerbosityOffset;
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
