#ifndef VIDODERAVEV_TESTS_RECORDINGVISUALIZER_H
#define VIDODERAVEV_TESTS_RECORDINGVISUALIZER_H

#include <functional>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <boost/thread/mutex.hpp>

#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/Progress/Visualizer.h>

namespace Test {

typedef std::vector<std::string> TEvents;

template <typename... TArguments>
boost::shared_ptr<Qz::Varnel::Progress::CLogger> MakeLogger(TArguments&&... arguments)
{
    return boost::make_shared<Qz::Varnel::Progress::CLogger>(std::forward<TArguments>(arguments)...);
}

// Records every call a logger makes, in order, as short texts such as
// "Progress(immediate)" or "Message(4|text|task)".
class CRecordingVisualizer : public Qz::Varnel::Progress::Detail::CVisualizer
{
public:
    typedef Qz::Varnel::Progress::CLogger CLogger;
    typedef std::function<void(const boost::shared_ptr<CLogger>&, bool)> TProgressHook;

    void LoggerChanged(const boost::shared_ptr<CLogger>& logger) override;
    void TextChanged(const boost::shared_ptr<CLogger>& logger) override;
    void ProgressChanged(const boost::shared_ptr<CLogger>& logger, bool immediate) override;
    void ShowMessage(const std::string& text, Qz::Varnel::Progress::_EVerbosityLevel level,
                     const std::string& timeStamp, const std::string& taskId) override;

    std::vector<std::string> Events() const;
    std::vector<std::string> TimeStamps() const;
    // Number of recorded events equal to the given text.
    int Count(const std::string& event) const;
    void Reset();

    // When set, ProgressChanged also records the number of layers and the
    // value and max value of the top layer as seen inside the call (through
    // the getters, so a held-back change is flushed).
    bool m_bReadLayersOnProgress = false;
    // Called inside ProgressChanged after recording, without the recorder's
    // mutex: lets a test read getters or change the logger from inside a
    // notification.
    TProgressHook m_fnOnProgress;

    // What the notifications saw of the logger, read inside the call.
    std::vector<int> m_oLayerCounts;
    std::vector<double> m_oTopValues;
    std::vector<double> m_oTopMaxValues;
    const CLogger* m_pLastLogger = nullptr;

private:
    void Record(const std::string& event);

    mutable boost::mutex m_oMutex;
    std::vector<std::string> m_oEvents;
    std::vector<std::string> m_oTimeStamps;
};

// Registers a fresh recording visualizer with the logger.
boost::shared_ptr<CRecordingVisualizer> Attach(const boost::shared_ptr<Qz::Varnel::Progress::CLogger>& logger);

// Makes child a child logger of parent for the life of the object. The two
// hold each other, so neither is freed until the link is broken; the
// destructor breaks it even when a failed assertion ends the test early.
class CChildLink
{
public:
    typedef Qz::Varnel::Progress::CLogger CLogger;

    CChildLink(const boost::shared_ptr<CLogger>& parent, const boost::shared_ptr<CLogger>& child);
    ~CChildLink();
    CChildLink(const CChildLink&) = delete;
    CChildLink& operator=(const CChildLink&) = delete;

private:
    boost::shared_ptr<CLogger> m_oParent;
    boost::shared_ptr<CLogger> m_oChild;
};

} // namespace Test

#endif
