// A small host program: nested layers with quotas, progress advanced by a
// worker loop, and a visualizer that prints a progress bar and the messages to
// standard output. Runs for about three seconds.
#include <chrono>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/make_shared.hpp>

#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/Progress/Visualizer.h>

namespace Progress = Qz::Varnel::Progress;
using Progress::CLogger;

namespace {

// Prints one line per progress notification (the base class passes on at most
// five a second) and one line per message.
class CConsoleVisualizer : public Progress::Detail::CVisualizerBase
{
protected:
    void _ProgressChanged(const boost::shared_ptr<CLogger>& logger) override
    {
        const double fraction = logger->GetRelativeProgressValue(0);
        const int width = 30;
        const int filled = static_cast<int>(fraction * width + 0.5);
        std::ostringstream line;
        line << '[' << std::string(filled, '#') << std::string(width - filled, ' ') << "] " << std::fixed
             << std::setprecision(1) << std::setw(5) << fraction * 100.0 << "%  ";
        const boost::posix_time::time_duration remaining = logger->GetTimeRemaining(0);
        if (remaining.is_special())
            line << "--:--:--";
        else
            line << boost::posix_time::to_simple_string(boost::posix_time::seconds(remaining.total_seconds()));
        line << " left  " << logger->GetText(logger->GetNumberOfLayers() - 1);
        std::cout << line.str() << std::endl;
    }

    void _ShowMessage(const std::string& text, Progress::_EVerbosityLevel level, const std::string& timeStamp,
                      const std::string&) override
    {
        std::cout << timeStamp << ' ' << _GetLevel(level) << ": " << text << std::endl;
    }
};

void Work(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

} // namespace

int main()
{
    const boost::shared_ptr<CLogger> logger = boost::make_shared<CLogger>("Example run");
    const boost::shared_ptr<CConsoleVisualizer> visualizer = boost::make_shared<CConsoleVisualizer>();
    visualizer->AddLogger(logger);

    // Loading stands for 20 % of the run, in 40 steps.
    logger->Push("Loading input", 0.2, 40);
    for (int step = 0; step < 40; ++step) {
        Work(10);
        logger->IncrementProgress();
    }
    logger->Pop();
    logger->Message(Progress::VerbosityInfo, "Input loaded: 40 records");

    // Processing stands for 70 %: four chunks, each a layer of its own.
    logger->Push("Processing", 0.7, 4);
    for (int chunk = 1; chunk <= 4; ++chunk) {
        logger->Push("Processing chunk " + std::to_string(chunk) + " of 4", 1, 100);
        for (int item = 0; item < 100; ++item) {
            Work(5);
            logger->IncrementProgress();
        }
        logger->Pop();
        if (chunk == 3)
            logger->Message(Progress::VerbosityWarning, "Chunk 3 had 2 records out of range");
    }
    logger->Pop();

    // Writing stands for the last 10 %.
    logger->Push("Writing results", 0.1, 20);
    for (int step = 0; step < 20; ++step) {
        Work(10);
        logger->IncrementProgress();
    }
    logger->Pop();
    logger->Message(Progress::VerbosityInfo, "Done");

    // Writes the run time and lets the logger release the visualizer.
    visualizer->Clear();
    return 0;
}
