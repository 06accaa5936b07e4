#include <vidOderavev/Progress/Visualizer.h>

#include <exception>

#include <boost/date_time/posix_time/posix_time.hpp>

#include <vidOderavev/Internationalisation/FormatText.h>
#include <vidOderavev/Internationalisation/Translator.h>

namespace Qz {
namespace Varnel {
namespace Progress {
namespace Detail {

using Internationalisation::CTranslator;

typedef boost::recursive_mutex::scoped_lock TLock;

namespace {

// How many hooks of visualizers the current thread is inside.
thread_local int t_nHookDepth = 0;

struct SHookScope
{
    SHookScope() { ++t_nHookDepth; }
    ~SHookScope() { --t_nHookDepth; }
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

void CVisualizerBase::AddLogger(const boost::shared_ptr<CLogger>& logger)
{
    logger->AddVisualizer(shared_from_this());
    m_oLoggers.push_back(logger);
    if (m_oLoggers.size() == 1)
        _PrintStartup();
}

void CVisualizerBase::Clear()
{
    _PrintRuntime();
    if (m_oLoggers.empty())
        return;
    // The loggers may hold the last references to this visualizer: keep it
    // alive until the list has been walked and emptied.
    const boost::shared_ptr<CVisualizer> self = shared_from_this();
    for (const auto& logger : m_oLoggers)
        logger->RemoveVisualizer(self);
    m_oLoggers.clear();
}

void CVisualizerBase::ClearWithFinalProgress(const std::function<void()>& refresh)
{
    std::exception_ptr failure;
    if (!m_oLoggers.empty() && m_bProgressDropped.exchange(false)) {
        try {
            TLock lock(m_oMutex);
            SHookScope scope;
            refresh();
        } catch (...) {
            failure = std::current_exception();
        }
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
    TLock lock(m_oMutex);
    SHookScope scope;
    _LoggerChanged(logger);
}

void CVisualizerBase::TextChanged(const boost::shared_ptr<CLogger>& logger)
{
    TLock lock(m_oMutex);
    SHookScope scope;
    _TextChanged(logger);
}

void CVisualizerBase::ProgressChanged(const boost::shared_ptr<CLogger>& logger, bool immediate)
{
    // A getter called inside a hook can pass held-back progress on to every
    // visualizer of the logger, so a thread inside one visualizer's hook may
    // arrive here for another one. Waiting for a visualizer that a second
    // thread holds could deadlock, as that thread may be waiting the same way
    // for the visualizer held here; the nested notification is dropped then
    // (the busy visualizer reads the logger anew with its next notification).
    TLock lock(m_oMutex, boost::defer_lock);
    if (t_nHookDepth == 0) {
        lock.lock();
    } else if (!lock.try_lock()) {
        m_bProgressDropped.store(true);
        return;
    }
    const boost::posix_time::ptime now = boost::posix_time::microsec_clock::local_time();
    if (!immediate && (now - m_oLastProgressTime).total_microseconds() <= 200000) {
        m_bProgressDropped.store(true);
        return;
    }
    {
        // Cleared first: a drop while the hook runs may come after its reading.
        m_bProgressDropped.store(false);
        SHookScope scope;
        _ProgressChanged(logger);
    }
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
    TLock lock(m_oMutex);
    SHookScope scope;
    _ShowMessage(text, level, timeStamp, taskId);
}

std::string CVisualizerBase::_GetLevel(_EVerbosityLevel level) { return GetLevelName(level); }

void CVisualizerBase::_PrintStartup()
{
    if (m_oLoggers.empty())
        return;
    ShowMessage(CTranslator::Translate("Startup"), VerbosityInfo, m_oLoggers.front()->GetTimeStamp(),
                CTranslator::Translate(""));
}

void CVisualizerBase::_PrintRuntime()
{
    if (m_oLoggers.empty())
        return;
    const boost::shared_ptr<CLogger>& first = m_oLoggers.front();
    const std::string timeStamp = first->GetTimeStamp();
    const boost::posix_time::time_duration runtime = first->GetRuntime(0);
    const std::string text = Internationalisation::FormatTranslated("Total Runtime: %1%s", FormatDuration(runtime));
    ShowMessage(text, VerbosityInfo, timeStamp, CTranslator::Translate(""));
}

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz
