#include "support/RecordingVisualizer.h"

#include <algorithm>

namespace Test {

void CRecordingVisualizer::Record(const std::string& event, const boost::shared_ptr<CLogger>& logger)
{
    boost::mutex::scoped_lock lock(m_oMutex);
    m_oEvents.push_back(event);
    if (logger)
        m_pLastLogger = logger.get();
}

void CRecordingVisualizer::LoggerChanged(const boost::shared_ptr<CLogger>& logger)
{
    Record("Layers " + std::to_string(logger->GetNumberOfLayers()), logger);
}

void CRecordingVisualizer::ProgressChanged(const boost::shared_ptr<CLogger>& logger, bool immediate)
{
    Record(immediate ? "Progress!" : "Progress", logger);
    if (m_fnOnProgress)
        m_fnOnProgress(logger, immediate);
}

void CRecordingVisualizer::ShowMessage(const std::string& text, Qz::Varnel::Progress::_EVerbosityLevel level,
                                       const std::string& timeStamp, const std::string& taskId)
{
    Record("Message " + std::to_string(static_cast<int>(level)) + "|" + text + "|" + taskId, nullptr);
    boost::mutex::scoped_lock lock(m_oMutex);
    m_oTimeStamps.push_back(timeStamp);
}

TEvents CRecordingVisualizer::Take()
{
    boost::mutex::scoped_lock lock(m_oMutex);
    TEvents events;
    events.swap(m_oEvents);
    return events;
}

TEvents CRecordingVisualizer::TimeStamps() const
{
    boost::mutex::scoped_lock lock(m_oMutex);
    return m_oTimeStamps;
}

int CRecordingVisualizer::Count(const std::string& event) const
{
    boost::mutex::scoped_lock lock(m_oMutex);
    return static_cast<int>(std::count(m_oEvents.begin(), m_oEvents.end(), event));
}

boost::shared_ptr<CRecordingVisualizer> Attach(const boost::shared_ptr<CLogger>& logger)
{
    auto visualizer = boost::make_shared<CRecordingVisualizer>();
    logger->AddVisualizer(visualizer);
    return visualizer;
}

} // namespace Test
