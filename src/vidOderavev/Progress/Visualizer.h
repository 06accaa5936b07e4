#ifndef VIDODERAVEV_PROGRESS_VISUALIZER_H
#define VIDODERAVEV_PROGRESS_VISUALIZER_H

#include <atomic>
#include <functional>
#include <list>
#include <string>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/enable_shared_from_this.hpp>
#include <boost/noncopyable.hpp>
#include <boost/shared_ptr.hpp>

#include <vidOderavev/Export.h>
#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/ThreadSafety.h>

namespace Qz {
namespace Varnel {
namespace Progress {
namespace Detail {

// The observer interface through which loggers report every change. Every
// operation does nothing by default.
class VIDODERAVEV_API CVisualizer : public boost::enable_shared_from_this<CVisualizer>, private boost::noncopyable
{
public:
    virtual ~CVisualizer();
    virtual void AddLogger(const boost::shared_ptr<CLogger>& logger);
    virtual void Clear();
    virtual void LoggerChanged(const boost::shared_ptr<CLogger>& logger);
    virtual void TextChanged(const boost::shared_ptr<CLogger>& logger);
    virtual void ProgressChanged(const boost::shared_ptr<CLogger>& logger, bool immediate);
    virtual void SetNotificationLevel(_EVerbosityLevel level);
    virtual void ShowMessage(const std::string& text, _EVerbosityLevel level, const std::string& timeStamp,
                             const std::string& taskId);
};

// Common base of all outputs: logger registration, the level filter, one
// recursive mutex around the hooks, the 0.2 s progress throttle and the
// "Startup" and run-time notes.
//
// Locking: the mutex guards the loggers list and the hooks' state; it is
// taken before any logger's mutex (the hooks call the loggers' getters) and
// before the translator's. It is recursive because a getter called inside a
// hook can lead straight back into this visualizer on the same thread. A
// thread inside a hook that is led into another visualizer held by another
// thread does not wait for it, as that thread may be waiting the same way: an
// immediate progress notification is then delivered once the first thread
// has left its outermost hook, and a throttled one is dropped.
class VIDODERAVEV_API CVisualizerBase : public CVisualizer
{
public:
    CVisualizerBase();
    virtual ~CVisualizerBase();

    virtual void AddLogger(const boost::shared_ptr<CLogger>& logger);
    virtual void Clear();
    virtual void LoggerChanged(const boost::shared_ptr<CLogger>& logger);
    virtual void TextChanged(const boost::shared_ptr<CLogger>& logger);
    virtual void ProgressChanged(const boost::shared_ptr<CLogger>& logger, bool immediate);
    virtual void SetNotificationLevel(_EVerbosityLevel level);
    virtual void ShowMessage(const std::string& text, _EVerbosityLevel level, const std::string& timeStamp,
                             const std::string& taskId);

protected:
    // The hooks run with the mutex held, except _ShowMessageUnlocked, whose
    // default takes it around _ShowMessage.
    virtual void _LoggerChanged(const boost::shared_ptr<CLogger>& logger) VIDODERAVEV_REQUIRES(m_oMutex);
    virtual void _TextChanged(const boost::shared_ptr<CLogger>& logger) VIDODERAVEV_REQUIRES(m_oMutex);
    virtual void _ProgressChanged(const boost::shared_ptr<CLogger>& logger) VIDODERAVEV_REQUIRES(m_oMutex);
    virtual void _ShowMessageUnlocked(const std::string& text, _EVerbosityLevel level, const std::string& timeStamp,
                                      const std::string& taskId);
    virtual void _ShowMessage(const std::string& text, _EVerbosityLevel level, const std::string& timeStamp,
                              const std::string& taskId) VIDODERAVEV_REQUIRES(m_oMutex);

    std::string _GetLevel(_EVerbosityLevel level);
    // Both take the mutex (it is recursive) for reading the first logger.
    void _PrintStartup();
    void _PrintRuntime();

    // Clear() of an output whose progress file is a snapshot rather than a
    // stream: when a progress notification was dropped by the throttle since
    // _ProgressChanged last ran, refresh runs first, under the mutex like a
    // hook, and must write the present state whatever moved, so that the file
    // does not keep an old percentage for good. Then the run-time note and
    // the detaching follow as in Clear(), also when refresh raised; the first
    // exception leaves at the end.
    void ClearWithFinalProgress(const std::function<void()>& refresh);

    std::list<boost::shared_ptr<CLogger> > m_oLoggers VIDODERAVEV_GUARDED_BY(m_oMutex);
    boost::posix_time::ptime m_oLastProgressTime VIDODERAVEV_GUARDED_BY(m_oMutex);
    // Read by ShowMessage without the mutex.
    std::atomic<int32_t> m_eNotificationLevel;
    Varnel::Detail::CRecursiveMutex m_oMutex;

private:
    // Set when the throttle drops a progress notification, cleared when
    // _ProgressChanged is called.
    std::atomic<bool> m_bProgressDropped;
};

// The name of a level: "FATAL" to "TRACE" for 1 to 7, empty otherwise.
VIDODERAVEV_API std::string GetLevelName(_EVerbosityLevel level);

// "-", hours (two digits at least), ":", minutes, ":", seconds and, when not
// zero, "." and six digits of microseconds; special values by their names.
VIDODERAVEV_API std::string FormatDuration(const boost::posix_time::time_duration& duration);

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz

#endif
