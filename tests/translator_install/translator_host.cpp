// A host built against an installed library: it prints every message line it
// is shown, so that the caller can see which texts came back translated.
#include <iostream>

#include <boost/make_shared.hpp>

#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/Progress/Visualizer.h>

namespace Progress = Qz::Varnel::Progress;

class CPrintingVisualizer : public Progress::Detail::CVisualizerBase
{
protected:
    void _ShowMessage(const std::string& text, Progress::_EVerbosityLevel, const std::string&,
                      const std::string&) override
    {
        std::cout << text << std::endl;
    }
};

int main()
{
    const auto logger = boost::make_shared<Progress::CLogger>("Host");
    const auto visualizer = boost::make_shared<CPrintingVisualizer>();
    visualizer->AddLogger(logger);
    logger->Message(Progress::VerbosityInfo, "first message");
    logger->Message(Progress::VerbosityWarning, "second message");
    visualizer->Clear();
}
