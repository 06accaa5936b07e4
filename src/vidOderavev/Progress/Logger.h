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
#include <boost/thread/mutex.hpp>

#include <vidOderavev/Export.h>

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
             ELayerSecrecy secrecy = LayerSecrecyPublic, const std::string& altText = std::string());
    void Pop();
    int GetNumberOfLayers() const;

    void SetText(int layer, const std::string& text);
    void SetText(const std::string& text);
    void SetAltText(int layer, const std::string& text);
    void SetAltText(const std::string& text);
    // The reference points into the layer record: use it before the layer is popped.
    const std::string& GetText(int layer) const;
    const std::string& GetText() const;
    const std::string& GetAltText(int layer) const;
    void SetClass(int layer, ELayerClass layerClass);
    ELayerClass GetClass(int layer) const;

    const boost::shared_ptr<CLogger>& GetParent() const;
    void AddChildLogger(const boost::shared_ptr<CLogger>& child);
    void RemoveChildLogger(const boost::shared_ptr<CLogger>& child);
    int GetNumberOfChildren() const;

    void AddVisualizer(const boost::shared_ptr<Detail::CVisualizer>& visualizer);
    void RemoveVisualizer(const boost::shared_ptr<Detail::CVisualizer>& visualizer);

    void SetProgress(double value, bool force = false);
    void IncrementProgress();
    void IncrementProgress(double step);
    void SetMaxValue(int layer, double maxValue);
    void SetMaxValue(double maxValue);
    double GetProgress(int layer) const;
    double GetProgress() const;
    double GetMaxValue(int layer) const;
    double GetMaxValue() const;
    double GetRelativeProgressValue(int layer) const;
    boost::posix_time::time_duration GetTimeRemaining(int layer) const;
    boost::posix_time::time_duration GetRuntime(int layer);

    void Message(_EVerbosityLevel level, const std::string& text, const std::string& taskId = std::string());
    void SetNotificationLevel(_EVerbosityLevel level);
    _EVerbosityLevel GetNotificationLevel() const;
    void SetVerbosityOffset(int offset);
    void IncreaseVerbosityOffset(int increment);
    int GetVerbosityOffset() const;
    _EVerbosityLevel _GetMappedVerbosityLevel(const _EVerbosityLevel& level);
    void SetLayerTracing(bool on);
    std::string GetTimeStamp();
    std::string _GetTimeStamp();

    // Internal operations; those with a leading underscore expect the caller
    // to hold the mutex, except _UpdateProgressLocked and _TriggerProgressChange.
    bool _UpdateProgress(int layer, double value, double maxValue, bool force);
    bool _UpdateProgressLocked(int layer, double value, double maxValue, bool force);
    void _TriggerProgressChange(bool immediate) const;
    void _Pop();
    bool _SetText(int layer, const std::string& text);
    bool _SetAltText(int layer, const std::string& text);
    int _GetNumberOfLayers() const;
    int _GetNumberOfChildren() const;
    bool _IsLeaf() const;

private:
    typedef std::vector<boost::shared_ptr<Detail::CVisualizer> > TVisualizerList;
    // The visualizers are replaced as a whole on every change, never edited
    // in place, so that a message or notification takes them with one
    // reference count under the mutex instead of copying the list.
    typedef boost::shared_ptr<const TVisualizerList> TVisualizers;

    // The getters' common path: passes a held-back change of the top layer
    // outward and reads one layer under the same lock, then tells the
    // visualizers at once if the flush passed something on.
    double FlushAndRead(int layer, double (*read)(const Detail::SLayer&)) const;

    // A child's root layer moved by this much of its fraction: adds it to this
    // logger's top layer under this logger's mutex.
    void _ReceiveChildProgress(double fractionDelta, double parentQuota);
    bool _FlushTop();
    void _RefreshTop();
    // The rest of an increment that reached the step; called with the mutex
    // held, releases it.
    void _IncrementPastStep(double value);
    TVisualizers _CopyVisualizers() const;
    void _NotifyLoggerChanged();
    void _NotifyTextChanged();

    TVisualizers m_pVisualizers; // null while there are none
    boost::shared_ptr<CLogger> m_oParent;
    std::list<boost::shared_ptr<CLogger> > m_oChildren;
    std::vector<boost::shared_ptr<Detail::SLayer> > m_oLayers;
    // The last element of m_oLayers, and the value below which an update of
    // it is held back (the 5 % step above its reported value, at most its max
    // value): kept beside the stack so that an increment below the step is
    // one comparison under the mutex.
    Detail::SLayer* m_pTopLayer;
    double m_dTopThreshold;
    std::atomic<int32_t> m_eNotificationLevel;
    std::map<_EVerbosityLevel, int32_t> m_oVerbosityOffsets;
    bool m_bLayerTracing;
    mutable boost::mutex m_oMutex;
};

} // namespace Progress
} // namespace Varnel
} // namespace Qz

#endif
