#include "support/RecordingVisualizer.h"

#include <boost/make_shared.hpp>

#include <algorithm>

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
    {
        boost::mutex::scoped_lock lock(m_oMutex);
        m_pLastLogger = logger.get();
        m_oEvents.push_back(immediate ? "Progress(immediate)" : "Progress");
    }
    if (m_bReadLayersOnProgress) {
        const int layers = logger->GetNumberOfLayers();
        const double value = logger->GetProgress(layers - 1);
        const double maxValue = logger->GetMaxValue(layers - 1);
        boost::mutex::scoped_lock lock(m_oMutex);
        m_oLayerCounts.push_back(layers);
        m_oTopValues.push_back(value);
        m_oTopMaxValues.push_back(maxValue);
    }
    if (m_fnOnProgress)
        m_fnOnProgress(logger, immediate);
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

int CRecordingVisualizer::Count(const std::string& event) const
{
    boost::mutex::scoped_lock lock(m_oMutex);
    return static_cast<int>(std::count(m_oEvents.begin(), m_oEvents.end(), event));
}

void CRecordingVisualizer::Reset()
{
    boost::mutex::scoped_lock lock(m_oMutex);
    m_oEvents.clear();
    m_oTimeStamps.clear();
    m_oLayerCounts.clear();
    m_oTopValues.clear();
    m_oTopMaxValues.clear();
}

boost::shared_ptr<CRecordingVisualizer> Attach(const boost::shared_ptr<Qz::Varnel::Progress::CLogger>& logger)
{
    auto visualizer = boost::make_shared<CRecordingVisualizer>();
    logger->AddVisualizer(visualizer);
    return visualizer;
}

CChildLink::CChildLink(const boost::shared_ptr<CLogger>& parent, const boost::shared_ptr<CLogger>& child)
    : m_oParent(parent), m_oChild(child)
{
    m_oParent->AddChildLogger(m_oChild);
}

CChildLink::~CChildLink() { m_oParent->RemoveChildLogger(m_oChild); }

} // namespace Test
