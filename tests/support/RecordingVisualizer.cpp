#include "support/RecordingVisualizer.h"

namespace Test {

using Qz::Varnel::Progress::_EVerbosityLevel;

void CRecordingVisualizer::Record(const std::string& event)
{
    boost::mutex::scoped_lock lock(m_oMutex);
    m_oEvents.push_back(event);
}

void CRecordingVisualizer::LoggerChanged(const boost::shared_ptr<CLogger>& logger)
{
    const int layers = logger->GetNumberOfLayers();
    boost::mutex::scoped_lock lock(m_oMutex);
    m_pLastLogger = logger.get();
    m_oLayerCounts.push_back(layers);
    m_oEvents.push_back("LoggerChanged");
}

void CRecordingVisualizer::TextChanged(const boost::shared_ptr<CLogger>& logger)
{
    boost::mutex::scoped_lock lock(m_oMutex);
    m_pLastLogger = logger.get();
    m_oEvents.push_back("TextChanged");
}

void CRecordingVisualizer::ProgressChanged(const boost::shared_ptr<CLogger>& logger, bool immediate)
{
    boost::mutex::scoped_lock lock(m_oMutex);
    m_pLastLogger = logger.get();
    m_oEvents.push_back(immediate ? "Progress(immediate)" : "Progress");
}

void CRecordingVisualizer::ShowMessage(const std::string& text, _EVerbosityLevel level, const std::string& timeStamp,
                                       const std::string& taskId)
{
    boost::mutex::scoped_lock lock(m_oMutex);
    m_oEvents.push_back("Message(" + std::to_string(static_cast<int>(level)) + "|" + text + "|" + taskId + ")");
    m_oTimeStamps.push_back(timeStamp);
}

std::vector<std::string> CRecordingVisualizer::Events() const
{
    boost::mutex::scoped_lock lock(m_oMutex);
    return m_oEvents;
}

std::vector<std::string> CRecordingVisualizer::TimeStamps() const
{
    boost::mutex::scoped_lock lock(m_oMutex);
    return m_oTimeStamps;
}

void CRecordingVisualizer::Reset()
{
    boost::mutex::scoped_lock lock(m_oMutex);
    m_oEvents.clear();
    m_oTimeStamps.clear();
    m_oLayerCounts.clear();
    m_oTopValues.clear();
}

} // namespace Test
