#include <vidOderavev/Progress/Visualizer.h>

#include <exception>
#include <utility>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>

#include <vidOderavev/Internationalisation/FormatText.h>
#include <vidOderavev/Internationalisation/Translator.h>

namespace Qz {
namespace Varnel {
namespace Progress {
namespace Detail {

using Internationalisation::CTranslator;

typedef Varnel::Detail::CScopedLock<Varnel::Detail::CRecursiveMutex> TLock;

namespace {

// How many hooks of visualizers the current thread is inside (or waiting to
// enter).
thread_local int t_nHookDepth = 0;

// Immediate progress notifications that found their visualizer held by
// another thread while this thread was inside a hook, each pair once, in the
// order they came; and whether they are being delivered.
typedef std::pair<boost::shared_ptr<CVisualizer>, boost::shared_ptr<CLogger>> TDeferred;
thread_local std::vector<TDeferred> t_oDeferred;
thread_local bool t_bDelivering = false;

void Defer(const boost::shared_ptr<CVisualizer>& visualizer, const boost::shared_ptr<CLogger>& logger)
{
    for (const TDeferred& deferred : t_oDeferred)
        if (deferred.first == visualizer && deferred.second == logger)
            return; // the later delivery serves both
    t_oDeferred.emplace_back(visualizer, logger);
}

// Called with no visualizer's mutex held, so waiting for one cannot close a
// cycle. Notifications deferred meanwhile are delivered in the same loop. The
// first exception leaves at the end, unless one is already on its way.
void DeliverDeferred(bool unwinding)
{
    if (t_bDelivering)
        return;
    t_bDelivering = true;
    std::exception_ptr failure;
    while (!t_oDeferred.empty()) {
        const TDeferred next = t_oDeferred.front();
        t_oDeferred.erase(t_oDeferred.begin());
        try {
            next.first->ProgressChanged(next.second, true);
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }
    t_bDelivering = false;
    if (failure && !unwinding)
        std::rethrow_exception(failure);
}

// Counts the hooks the thread is inside. Constructed before the mutex is
// taken, so that it ends after the mutex was released: when the outermost
// hook ends, the deferred notifications are delivered.
class CHookScope
{
public:
    CHookScope() : m_nExceptions(std::uncaught_exceptions()) { ++t_nHookDepth; }
    ~CHookScope() noexcept(false)
    {
        if (--t_nHookDepth == 0 && !t_oDeferred.empty())
            DeliverDeferred(std::uncaught_exceptions() > m_nExceptions);
    }
    CHookScope(const CHookScope&) = delete;
    CHookScope& operator=(const CHookScope&) = delete;

private:
    int m_nExceptions;
};

} // namespace

// CVisualizer: every operation does nothing.

CVisualizer::~CVisualizer() {}
void CVisualizer::AddLogger(const boost::shared_ptr<CLogger>&) {}
void CVisualizer::Clear() {}
void CVisualizer::LoggerChanged(const boost::shared_ptr<CLogger>&) {}
void CVisualizer::TextChanged(const boost::shared_ptr<CLogger>&) {}
void CVisualizer::ProgressChanged(const boost::shared_ptr<CLogger>&, bool) {}
void CVisualizer::SetNotificationLevel(_EVerbosityLevel) {}
void CVisualizer::ShowMessage(const std::string&, _EVerbosityLevel, const std::string&, const std::string&) {}

std::string GetLevelName(_EVerbosityLevel level)
{
    static const char* const s_apNames[] = {"FATAL", "ERROR", "WARNING", "INFO", "LOG", "DEBUG", "TRACE"};
    if (level < 1 || level > 7)
        return std::string();
    return s_apNames[level - 1];
}

std::string FormatDuration(const boost::posix_time::time_duration& duration)
{
    return boost::posix_time::to_simple_string(duration);
}

// CVisualizerBase

CVisualizerBase::CVisualizerBase()
    : m_oLastProgressTime(boost::posix_time::microsec_clock::local_time()), m_eNotificationLevel(VerbosityTrace),
      m_bProgressDropped(false)
{
}

CVisualizerBase::~CVisualizerBase() {}

// AddLogger and Clear hold the mutex like a hook: the loggers list changes
// while other threads may be reporting.
void CVisualizerBase::AddLogger(const boost::shared_ptr<CLogger>& logger)
{
    const boost::shared_ptr<CVisualizer> self = shared_from_this();
    CHookScope scope;
    TLock lock(m_oMutex);
    logger->AddVisualizer(self);
    m_oLoggers.push_back(logger);
    if (m_oLoggers.size() == 1)
        _PrintStartup();
}

void CVisualizerBase::Clear()
{
    // The loggers may hold the last references to this visualizer: keep it
    // alive until the list has been walked and emptied.
    boost::shared_ptr<CVisualizer> self;
    CHookScope scope;
    TLock lock(m_oMutex);
    _PrintRuntime();
    if (m_oLoggers.empty())
        return;
    self = shared_from_this();
    for (const auto& logger : m_oLoggers)
        logger->RemoveVisualizer(self);
    m_oLoggers.clear();
}

void CVisualizerBase::ClearWithFinalProgress(const std::function<void()>& refresh)
{
    std::exception_ptr failure;
    try {
        CHookScope scope;
        TLock lock(m_oMutex);
        if (!m_oLoggers.empty() && m_bProgressDropped.exchange(false))
            refresh();
    } catch (...) {
        failure = std::current_exception();
    }
    try {
        CVisualizerBase::Clear();
    } catch (...) {
        if (!failure)
            throw;
    }
    if (failure)
        std::rethrow_exception(failure);
}

void CVisualizerBase::LoggerChanged(const boost::shared_ptr<CLogger>& logger)
{
    CHookScope scope;
    TLock lock(m_oMutex);
    _LoggerChanged(logger);
}

void CVisualizerBase::TextChanged(const boost::shared_ptr<CLogger>& logger)
{
    CHookScope scope;
    TLock lock(m_oMutex);
    _TextChanged(logger);
}

void CVisualizerBase::ProgressChanged(const boost::shared_ptr<CLogger>& logger, bool immediate)
{
    // A getter called inside a hook can pass held-back progress on to every
    // visualizer of the logger, so a thread inside one visualizer's hook may
    // arrive here for another one. Waiting for a visualizer that a second
    // thread holds could deadlock, as that thread may be waiting the same way
    // for the visualizer held here. An immediate notification is delivered
    // instead when this thread has left its outermost hook; a throttled one is
    // dropped (the busy visualizer reads the logger anew with its next one).
    const bool nested = t_nHookDepth > 0;
    CHookScope scope;
    if (!nested) {
        m_oMutex.lock();
    } else if (!m_oMutex.try_lock()) {
        const boost::shared_ptr<CVisualizer> self = weak_from_this().lock();
        if (immediate && self)
            Defer(self, logger);
        else
            m_bProgressDropped.store(true);
        return;
    }
    TLock lock(m_oMutex, Varnel::Detail::SAdoptLock());
    const boost::posix_time::ptime now = boost::posix_time::microsec_clock::local_time();
    if (!immediate && (now - m_oLastProgressTime).total_microseconds() <= 200000) {
        m_bProgressDropped.store(true);
        return;
    }
    // Cleared first: a drop while the hook runs may come after its reading.
    m_bProgressDropped.store(false);
    _ProgressChanged(logger);
    m_oLastProgressTime = now;
}

void CVisualizerBase::SetNotificationLevel(_EVerbosityLevel level)
{
    TLock lock(m_oMutex);
    m_eNotificationLevel.store(level);
}

void CVisualizerBase::ShowMessage(const std::string& text, _EVerbosityLevel level, const std::string& timeStamp,
                                  const std::string& taskId)
{
    if (level > m_eNotificationLevel.load(std::memory_order_relaxed))
        return;
    _ShowMessageUnlocked(text, level, timeStamp, taskId);
}

void CVisualizerBase::_LoggerChanged(const boost::shared_ptr<CLogger>&) {}
void CVisualizerBase::_TextChanged(const boost::shared_ptr<CLogger>&) {}
void CVisualizerBase::_ProgressChanged(const boost::shared_ptr<CLogger>&) {}
void CVisualizerBase::_ShowMessage(const std::string&, _EVerbosityLevel, const std::string&, const std::string&) {}

void CVisualizerBase::_ShowMessageUnlocked(const std::string& text, _EVerbosityLevel level,
                                           const std::string& timeStamp, const std::string& taskId)
{
    CHookScope scope;
    TLock lock(m_oMutex);
    _ShowMessage(text, level, timeStamp, taskId);
}

std::string CVisualizerBase::_GetLevel(_EVerbosityLevel level) { return GetLevelName(level); }

void CVisualizerBase::_PrintStartup()
{
    TLock lock(m_oMutex);
    if (m_oLoggers.empty())
        return;
    ShowMessage(CTranslator::Translate("Startup"), VerbosityInfo, m_oLoggers.front()->GetTimeStamp(),
                CTranslator::Translate(""));
}

void CVisualizerBase::_PrintRuntime()
{
    TLock lock(m_oMutex);
    if (m_oLoggers.empty())
        return;
    const boost::shared_ptr<CLogger> first = m_oLoggers.front();
    const std::string timeStamp = first->GetTimeStamp();
    const boost::posix_time::time_duration runtime = first->GetRuntime(0);
    const std::string text = Internationalisation::FormatTranslated("Total Runtime: %1%s", FormatDuration(runtime));
    ShowMessage(text, VerbosityInfo, timeStamp, CTranslator::Translate(""));
}

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz
