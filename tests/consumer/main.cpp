// Built against an installed library: creates a logger, derives an observer
// from the exported interface, and prints the overall progress.
#include <iostream>

#include <boost/make_shared.hpp>

// Every installed output header, to show each stands on the installed ones.
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

namespace {

class CCountingVisualizer : public Progress::Detail::CVisualizer
{
public:
    void LoggerChanged(const boost::shared_ptr<Progress::CLogger>&) override { ++m_nLoggerChanges; }
    void ProgressChanged(const boost::shared_ptr<Progress::CLogger>&, bool) override { ++m_nProgressChanges; }

    int m_nLoggerChanges = 0;
    int m_nProgressChanges = 0;
};

} // namespace

int main()
{
    const boost::shared_ptr<Progress::CLogger> logger = boost::make_shared<Progress::CLogger>("Consumer");
    const boost::shared_ptr<CCountingVisualizer> visualizer = boost::make_shared<CCountingVisualizer>();
    logger->AddVisualizer(visualizer);

    // Half of the root layer, run to its middle: a quarter overall.
    logger->Push("Step", 0.5, 4.0);
    logger->SetProgress(2.0);
    std::cout << logger->GetRelativeProgressValue(0) << std::endl;

    logger->RemoveVisualizer(visualizer);
    if (visualizer->m_nLoggerChanges == 0 || visualizer->m_nProgressChanges == 0) {
        std::cerr << "the visualizer was not notified" << std::endl;
        return 1;
    }
    return 0;
}
