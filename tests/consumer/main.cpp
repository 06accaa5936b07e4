// Built against an installed library: every installed output header, a logger
// and an observer of the exported interface; prints the overall progress.
#include <iostream>

#include <boost/make_shared.hpp>

#include <vidOderavev/Libraries/Fileio/FileioUnix.h>
#include <vidOderavev/Progress/BufferedFileVisualizer.h>
#include <vidOderavev/Progress/BufferedProgressFileVisualizer.h>
#include <vidOderavev/Progress/DateFileVisualizer.h>
#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/Progress/SimpleFileVisualizer.h>
#include <vidOderavev/Progress/SocketVisualizer.h>
#include <vidOderavev/Progress/StdoutVisualizer.h>
#include <vidOderavev/Progress/Visualizer.h>
#include <vidOderavev/Progress/ZevVisualizer.h>

namespace Progress = Qz::Varnel::Progress;

class CCountingVisualizer : public Progress::Detail::CVisualizer
{
public:
    void LoggerChanged(const boost::shared_ptr<Progress::CLogger>&) override { ++m_nLoggerChanges; }
    void ProgressChanged(const boost::shared_ptr<Progress::CLogger>&, bool) override { ++m_nProgressChanges; }
    int m_nLoggerChanges = 0, m_nProgressChanges = 0;
};

int main()
{
    const auto logger = boost::make_shared<Progress::CLogger>("Consumer");
    const auto visualizer = boost::make_shared<CCountingVisualizer>();
    logger->AddVisualizer(visualizer);
    logger->Push("Step", 0.5, 4.0); // half of the root layer, run to its middle: a quarter overall
    logger->SetProgress(2.0);
    std::cout << logger->GetRelativeProgressValue(0) << std::endl;
    logger->RemoveVisualizer(visualizer);
    return visualizer->m_nLoggerChanges > 0 && visualizer->m_nProgressChanges > 0 ? 0 : 1;
}
