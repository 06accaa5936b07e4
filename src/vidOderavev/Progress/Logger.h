#ifndef VIDODERAVEV_PROGRESS_LOGGER_H
#define VIDODERAVEV_PROGRESS_LOGGER_H

#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/enable_shared_from_this.hpp>
#include <boost/noncopyable.hpp>
#include <boost/shared_ptr.hpp>

#include <vidOderavev/Export.h>
#include <vidOderavev/ThreadSafety.h>

namespace Qz {
namespace Varnel {
namespace Progress {

// Message level; a smaller number is more severe. 0 can result from the
// verbosity mapping and has no name.
enum _EVerbosityLevel : int32_t
{
    VerbosityNone = 0,
    VerbosityFatal = 1,
    VerbosityError = 2,
    VerbosityWarning = 3,
    VerbosityInfo = 4,
    VerbosityLog = 5,
    VerbosityDebug = 6,
    VerbosityTrace = 7
};

// Class of a layer. Class 0 marks the layer that the file outputs show as the
// current step; the root layer has class 1. Any other value passes unchanged.
enum ELayerClass : int32_t
{
    LayerClassStep = 0,
    LayerClassRoot = 1,
    LayerClassOther = 2
};

// Stored with every layer; the library itself never reads it back.
enum ELayerSecrecy : int32_t
{
    LayerSecrecyPublic = 0,
    LayerSecrecyPrivate = 1
};

namespace Detail {

class CVisualizer;

struct VIDODERAVEV_API SLayer
{
    ELayerClass m_eClass;
    ELayerSecrecy m_eSecrecy;
    std::string m_sText;
    std::string m_sAltText;
    double m_dParentQuota;
    double m_dMaxValue;
    double m_dValue;
    double m_dReportedValue;
    boost::posix_time::ptime m_oStartTime;
    bool m_bFixedText;
};

} // namespace Detail

// A hierarchical progress logger: a stack of layers whose progress flows
// outward to the root layer and on into a parent logger, plus messages at
// seven verbosity levels. A logger prints nothing; its visualizers do.
//
// A layer whose max value is 0 has the fraction 0 while it runs (never NaN or
// infinity) and hands its whole parent quota to the enclosing layer when it is
// popped.
//
// Locking: one plain mutex per logger guards the layers, the lists, the
// parent link and the verbosity offsets. A child takes its own mutex before
// its parent's (progress flows from child to parent, and the child's parent
// link is changed under both), and visualizers are never called while it is
// held, so a visualizer may call the getters from its hooks. A visualizer
// takes its own mutex before a logger's.
class VIDODERAVEV_API CLogger : public boost::enable_shared_from_this<CLogger>, private boost::noncopyable
{
public:
    typedef Progress::_EVerbosityLevel _EVerbosityLevel;
    typedef Progress::ELayerClass ELayerClass;
    typedef Progress::ELayerSecrecy ELayerSecrecy;

    CLogger(const std::string& text = std::string(), double parentQuota = 1.0, double maxValue = 1.0,
            double initialValue = 0.0, bool fixedText = false, ELayerSecrecy secrecy = LayerSecrecyPublic,
            const std::string& altText = std::string());
    ~CLogger();

    int Push(const std::string& text, double parentQuota, double maxValue, double initialValue = 0.0,
             bool fixedText = false, ELayerClass layerClass = LayerClassRoot,
             ELayerSecrecy secrecy = LayerSecrecyPublic, const std::string& altText = std::string())
        VIDODERAVEV_EXCLUDES(m_oMutex);
    void Pop() VIDODERAVEV_EXCLUDES(m_oMutex);
    int GetNumberOfLayers() const VIDODERAVEV_EXCLUDES(m_oMutex);

    void SetText(int layer, const std::string& text) VIDODERAVEV_EXCLUDES(m_oMutex);
    void SetText(const std::string& text) VIDODERAVEV_EXCLUDES(m_oMutex);
    void SetAltText(int layer, const std::string& text) VIDODERAVEV_EXCLUDES(m_oMutex);
    void SetAltText(const std::string& text) VIDODERAVEV_EXCLUDES(m_oMutex);
    // The reference points into the layer record: use it before the layer is popped.
    const std::string& GetText(int layer) const VIDODERAVEV_EXCLUDES(m_oMutex);
    const std::string& GetText() const VIDODERAVEV_EXCLUDES(m_oMutex);
    const std::string& GetAltText(int layer) const VIDODERAVEV_EXCLUDES(m_oMutex);
    void SetClass(int layer, ELayerClass layerClass) VIDODERAVEV_EXCLUDES(m_oMutex);
    ELayerClass GetClass(int layer) const VIDODERAVEV_EXCLUDES(m_oMutex);

    // The mutex is held only for the look-up: the reference must not be used
    // while another thread links or unlinks this logger.
    const boost::shared_ptr<CLogger>& GetParent() const VIDODERAVEV_EXCLUDES(m_oMutex);
    void AddChildLogger(const boost::shared_ptr<CLogger>& child) VIDODERAVEV_EXCLUDES(m_oMutex);
    void RemoveChildLogger(const boost::shared_ptr<CLogger>& child) VIDODERAVEV_EXCLUDES(m_oMutex);
    int GetNumberOfChildren() const VIDODERAVEV_EXCLUDES(m_oMutex);

    void AddVisualizer(const boost::shared_ptr<Detail::CVisualizer>& visualizer) VIDODERAVEV_EXCLUDES(m_oMutex);
    void RemoveVisualizer(const boost::shared_ptr<Detail::CVisualizer>& visualizer) VIDODERAVEV_EXCLUDES(m_oMutex);

    void SetProgress(double value, bool force = false) VIDODERAVEV_EXCLUDES(m_oMutex);
    void IncrementProgress() VIDODERAVEV_EXCLUDES(m_oMutex);
    void IncrementProgress(double step) VIDODERAVEV_EXCLUDES(m_oMutex);
    void SetMaxValue(int layer, double maxValue) VIDODERAVEV_EXCLUDES(m_oMutex);
    void SetMaxValue(double maxValue) VIDODERAVEV_EXCLUDES(m_oMutex);
    double GetProgress(int layer) const VIDODERAVEV_EXCLUDES(m_oMutex);
    double GetProgress() const VIDODERAVEV_EXCLUDES(m_oMutex);
    double GetMaxValue(int layer) const VIDODERAVEV_EXCLUDES(m_oMutex);
    double GetMaxValue() const VIDODERAVEV_EXCLUDES(m_oMutex);
    double GetRelativeProgressValue(int layer) const VIDODERAVEV_EXCLUDES(m_oMutex);
    boost::posix_time::time_duration GetTimeRemaining(int layer) const VIDODERAVEV_EXCLUDES(m_oMutex);
    boost::posix_time::time_duration GetRuntime(int layer) VIDODERAVEV_EXCLUDES(m_oMutex);

    void Message(_EVerbosityLevel level, const std::string& text, const std::string& taskId = std::string())
        VIDODERAVEV_EXCLUDES(m_oMutex);
    void SetNotificationLevel(_EVerbosityLevel level) VIDODERAVEV_EXCLUDES(m_oMutex);
    _EVerbosityLevel GetNotificationLevel() const;
    void SetVerbosityOffset(int offset) VIDODERAVEV_EXCLUDES(m_oMutex);
    void IncreaseVerbosityOffset(int increment) VIDODERAVEV_EXCLUDES(m_oMutex);
    int GetVerbosityOffset() const VIDODERAVEV_EXCLUDES(m_oMutex);
    _EVerbosityLevel _GetMappedVerbosityLevel(const _EVerbosityLevel& level) VIDODERAVEV_EXCLUDES(m_oMutex);
    void SetLayerTracing(bool on) VIDODERAVEV_EXCLUDES(m_oMutex);
    std::string GetTimeStamp();
    std::string _GetTimeStamp();

    // Internal operations. _UpdateProgressLocked takes the mutex and
    // _TriggerProgressChange runs without it; the others expect the caller to
    // hold it.
    bool _UpdateProgress(int layer, double value, double maxValue, bool force) VIDODERAVEV_REQUIRES(m_oMutex);
    bool _UpdateProgressLocked(int layer, double value, double maxValue, bool force) VIDODERAVEV_EXCLUDES(m_oMutex);
    void _TriggerProgressChange(bool immediate) const VIDODERAVEV_EXCLUDES(m_oMutex);
    void _Pop() VIDODERAVEV_REQUIRES(m_oMutex);
    bool _SetText(int layer, const std::string& text) VIDODERAVEV_REQUIRES(m_oMutex);
    bool _SetAltText(int layer, const std::string& text) VIDODERAVEV_REQUIRES(m_oMutex);
    int _GetNumberOfLayers() const VIDODERAVEV_REQUIRES(m_oMutex);
    int _GetNumberOfChildren() const VIDODERAVEV_REQUIRES(m_oMutex);
    bool _IsLeaf() const VIDODERAVEV_REQUIRES(m_oMutex);

private:
    typedef std::vector<boost::shared_ptr<Detail::CVisualizer> > TVisualizerList;
    // The visualizers are replaced as a whole on every change, never edited
    // in place, so that a message or notification takes them with one
    // reference count under the mutex instead of copying the list. (The
    // count also keeps Message from touching the logger after delivery: a
    // hook may drop the logger's last reference.)
    typedef boost::shared_ptr<const TVisualizerList> TVisualizers;

    // The getters' common path: passes a held-back change of the top layer
    // outward and reads one layer under the same lock, then tells the
    // visualizers at once if the flush passed something on.
    double FlushAndRead(int layer, double (*read)(const Detail::SLayer&)) const VIDODERAVEV_EXCLUDES(m_oMutex);

    // A child's root layer moved by this much of its fraction: adds it to this
    // logger's top layer under this logger's mutex (the child holds its own).
    void ReceiveChildProgress(double fractionDelta, double parentQuota) VIDODERAVEV_EXCLUDES(m_oMutex);
    bool FlushTopLocked() VIDODERAVEV_REQUIRES(m_oMutex);
    void RefreshTopLocked() VIDODERAVEV_REQUIRES(m_oMutex);
    // The rest of an increment that reached the step; releases the mutex.
    void IncrementPastStepLocked(double value) VIDODERAVEV_RELEASE(m_oMutex);
    _EVerbosityLevel MappedVerbosityLevelLocked(_EVerbosityLevel level) const VIDODERAVEV_REQUIRES(m_oMutex);
    TVisualizers CopyVisualizers() const VIDODERAVEV_EXCLUDES(m_oMutex);
    void NotifyLoggerChanged() VIDODERAVEV_EXCLUDES(m_oMutex);
    void NotifyTextChanged() VIDODERAVEV_EXCLUDES(m_oMutex);

    TVisualizers m_pVisualizers VIDODERAVEV_GUARDED_BY(m_oMutex); // null while there are none
    boost::shared_ptr<CLogger> m_oParent VIDODERAVEV_GUARDED_BY(m_oMutex);
    std::list<boost::shared_ptr<CLogger> > m_oChildren VIDODERAVEV_GUARDED_BY(m_oMutex);
    std::vector<boost::shared_ptr<Detail::SLayer> > m_oLayers VIDODERAVEV_GUARDED_BY(m_oMutex);
    // The last element of m_oLayers, and the value below which an update of
    // it is held back (the 5 % step above its reported value, at most its max
    // value): kept beside the stack so that an increment below the step is
    // one comparison under the mutex.
    Detail::SLayer* m_pTopLayer VIDODERAVEV_GUARDED_BY(m_oMutex) VIDODERAVEV_PT_GUARDED_BY(m_oMutex);
    double m_dTopThreshold VIDODERAVEV_GUARDED_BY(m_oMutex);
    // Read without the mutex by Message's filter and GetNotificationLevel.
    std::atomic<int32_t> m_eNotificationLevel;
    // The offset of the levels INFO to TRACE, which are always set together;
    // the more severe levels are never shifted.
    int32_t m_nVerbosityOffset VIDODERAVEV_GUARDED_BY(m_oMutex);
    bool m_bLayerTracing VIDODERAVEV_GUARDED_BY(m_oMutex);
    mutable Varnel::Detail::CMutex m_oMutex;
};

} // namespace Progress
} // namespace Varnel
} // namespace Qz

#endif
