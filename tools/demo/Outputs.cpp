#include "demo/Outputs.h"

#include <vidOderavev/Progress/StdoutVisualizer.h>
#include <vidOderavev/Progress/ZevVisualizer.h>
#include <vidOderavev/Progress/SimpleFileVisualizer.h>
#include <vidOderavev/Progress/DateFileVisualizer.h>
#include <vidOderavev/Progress/BufferedProgressFileVisualizer.h>
#include <vidOderavev/Progress/SocketVisualizer.h>

#include <iostream>

namespace Qz {
namespace Varnel {
namespace Demo {

COutputs::COutputs(const SDemoOptions& options)
{
    using namespace Progress;
    const int level = options.m_nLevel;
    if (options.m_bXml)
        _Add(boost::shared_ptr<Detail::CVisualizer>(new CStdoutVisualizer()), level);
    if (options.m_bConsole)
        _Add(boost::shared_ptr<Detail::CVisualizer>(new CZevVisualizer()), level);
    if (!options.m_sLog.empty())
        _Add(boost::shared_ptr<Detail::CVisualizer>(new CSimpleFileVisualizer(options.m_sLog)), level);
    if (!options.m_sDatedLog.empty())
        _Add(boost::shared_ptr<Detail::CVisualizer>(new CDateFileVisualizer(options.m_sDatedLog)), level);
    if (options.m_bBuffered)
        _Add(boost::shared_ptr<Detail::CVisualizer>(new CBufferedProgressFileVisualizer(
                 options.m_sBufferedDirectory, options.m_sBufferedStem, options.m_bDated)),
             level);
    for (const SNetTarget& target : options.m_oNet)
        _Add(boost::shared_ptr<Detail::CVisualizer>(new CNetVisualizer(target.m_sHost, target.m_nPort)), level);
}

COutputs::~COutputs() { Close(); }

void COutputs::_Add(const boost::shared_ptr<Progress::Detail::CVisualizer>& visualizer, int level)
{
    // Set before the logger is added, so that a level below INFO also keeps
    // the "Startup" note out.
    visualizer->SetNotificationLevel(static_cast<Progress::_EVerbosityLevel>(level));
    m_oVisualizers.push_back(visualizer);
}

void COutputs::Attach(const boost::shared_ptr<Progress::CLogger>& logger)
{
    for (const auto& visualizer : m_oVisualizers)
        visualizer->AddLogger(logger);
}

void COutputs::Close()
{
    for (const auto& visualizer : m_oVisualizers) {
        // One output that fails to close must not keep the others open.
        try {
            visualizer->Clear();
        } catch (const std::exception& error) {
            std::cerr << "vidoderavev-demo: closing an output failed: " << error.what() << std::endl;
        }
    }
    // Destroyed in the order created; each writes its closing part here.
    while (!m_oVisualizers.empty())
        m_oVisualizers.erase(m_oVisualizers.begin());
}

} // namespace Demo
} // namespace Varnel
} // namespace Qz
