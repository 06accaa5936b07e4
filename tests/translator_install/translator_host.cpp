// A host program built against an installed library: it registers a
// visualizer with a logger, sends a few messages and exits. Every message
// line it is shown goes to standard output, so that the caller can see which
// texts came back translated.
#include <iostream>

#include <boost/make_shared.hpp>

#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/Progress/Visualizer.h>

namespace Progress = Qz::Varnel::Progress;

namespace {

class CPrintingVisualizer : public Progress::Detail::CVisualizerBase
{
protected:
    void _ShowMessage(const std::string& text, Progress::_EVerbosityLevel, const std::string&,
                      const std::string&) override
    {
        std::cout << text << std::endl;
    }
};

} // namespace

int main()
{
    const boost::shared_ptr<Progress::CLogger> logger = boost::make_shared<Progress::CLogger>("Host");
    const boost::shared_ptr<CPrintingVisualizer> visualizer = boost::make_shared<CPrintingVisualizer>();
    visualizer->AddLogger(logger);
    logger->Message(Progress::VerbosityInfo, "first message");
    logger->Message(Progress::VerbosityWarning, "second message");
    visualizer->Clear();
    return 0;
}
