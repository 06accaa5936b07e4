#ifndef VIDODERAVEV_TESTS_RECORDINGVISUALIZER_H
#define VIDODERAVEV_TESTS_RECORDINGVISUALIZER_H

#include <string>
#include <vector>

#include <boost/thread/mutex.hpp>

#include <vidOderavev/Progress/Visualizer.h>

namespace Test {

// Records every call a logger makes, in order, as short texts such as
// "Progress(immediate)" or "Message(INFO|text|task)".
class CRecordingVisualizer : public Qz::Varnel::Progress::Detail::CVisualizer
{
public:
    typedef Qz::Varnel::Progress::CLogger CLogger;

    void LoggerChanged(const boost::shared_ptr<CLogger>& logger) override;
    void TextChanged(const boost::shared_ptr<CLogger>& logger) override;
    void ProgressChanged(const boost::shared_ptr<CLogger>& logger, bool immediate) override;
    void ShowMessage(const std::string& text, Qz::Varnel::Progress::_EVerbosityLevel level,
                     const std::string& timeStamp, const std::string& taskId) override;

    std::vector<std::string> Events() const;
    std::vector<std::string> TimeStamps() const;
    void Reset();

    // What the last notification saw of the logger, read inside the call.
    std::vector<int> m_oLayerCounts;
    std::vector<double> m_oTopValues;
    const CLogger* m_pLastLogger = nullptr;

private:
    void Record(const std::string& event);

    mutable boost::mutex m_oMutex;
    std::vector<std::string> m_oEvents;
    std::vector<std::string> m_oTimeStamps;
};

} // namespace Test

#endif
