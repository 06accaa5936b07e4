#ifndef VIDODERAVEV_TESTS_RECORDINGVISUALIZER_H
#define VIDODERAVEV_TESTS_RECORDINGVISUALIZER_H

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <boost/make_shared.hpp>
#include <boost/thread/mutex.hpp>

#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/Progress/Visualizer.h>

namespace Test {

typedef std::vector<std::string> TEvents;
typedef Qz::Varnel::Progress::CLogger CLogger;

template <typename... TArguments> boost::shared_ptr<CLogger> MakeLogger(TArguments&&... arguments)
{
    return boost::make_shared<CLogger>(std::forward<TArguments>(arguments)...);
}

// Records every call a logger makes, in order, as a short text: "Layers 2" (LoggerChanged, with the
// number of layers seen inside), "Text", "Progress", "Progress!" (immediate) or "Message 4|text|task".
class CRecordingVisualizer : public Qz::Varnel::Progress::Detail::CVisualizer
{
public:
    void LoggerChanged(const boost::shared_ptr<CLogger>& logger) override
    {
        Record("Layers " + std::to_string(logger->GetNumberOfLayers()), logger);
    }
    void TextChanged(const boost::shared_ptr<CLogger>& logger) override { Record("Text", logger); }
    void ProgressChanged(const boost::shared_ptr<CLogger>& logger, bool immediate) override
    {
        Record(immediate ? "Progress!" : "Progress", logger);
        if (m_fnOnProgress)
            m_fnOnProgress(logger, immediate);
    }
    void ShowMessage(const std::string& text, Qz::Varnel::Progress::_EVerbosityLevel level,
                     const std::string& timeStamp, const std::string& taskId) override
    {
        Record("Message " + std::to_string(static_cast<int>(level)) + "|" + text + "|" + taskId, nullptr, &timeStamp);
    }

    // The events so far, which are then forgotten.
    TEvents Take()
    {
        boost::mutex::scoped_lock lock(m_oMutex);
        return std::exchange(m_oEvents, TEvents());
    }
    TEvents TimeStamps() const
    {
        boost::mutex::scoped_lock lock(m_oMutex);
        return m_oTimeStamps;
    }
    int Count(const std::string& event) const
    {
        boost::mutex::scoped_lock lock(m_oMutex);
        return static_cast<int>(std::count(m_oEvents.begin(), m_oEvents.end(), event));
    }

    // Called inside ProgressChanged after recording, outside the recorder's mutex: may read or change the logger.
    std::function<void(const boost::shared_ptr<CLogger>&, bool)> m_fnOnProgress;
    const CLogger* m_pLastLogger = nullptr;

private:
    void Record(const std::string& event, const boost::shared_ptr<CLogger>& logger,
                const std::string* timeStamp = nullptr)
    {
        boost::mutex::scoped_lock lock(m_oMutex);
        m_oEvents.push_back(event);
        if (logger)
            m_pLastLogger = logger.get();
        if (timeStamp)
            m_oTimeStamps.push_back(*timeStamp);
    }

    mutable boost::mutex m_oMutex;
    TEvents m_oEvents, m_oTimeStamps;
};

inline boost::shared_ptr<CRecordingVisualizer> Attach(const boost::shared_ptr<CLogger>& logger)
{
    auto visualizer = boost::make_shared<CRecordingVisualizer>();
    logger->AddVisualizer(visualizer);
    return visualizer;
}

// Makes child a child logger of parent for the life of the object; the destructor breaks the link
// (the two hold each other) even when a failed assertion ends the test early.
struct SChildLink
{
    SChildLink(const boost::shared_ptr<CLogger>& parent, const boost::shared_ptr<CLogger>& child)
        : m_oParent(parent), m_oChild(child)
    {
        parent->AddChildLogger(child);
    }
    ~SChildLink() { m_oParent->RemoveChildLogger(m_oChild); }
    boost::shared_ptr<CLogger> m_oParent, m_oChild;
};

} // namespace Test

#endif
