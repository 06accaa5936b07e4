// vidoderavev-demo: a host program that drives the library's outputs with a
// simulated long computation.
#include <iostream>

#include <boost/make_shared.hpp>

#include <vidOderavev/Progress/Logger.h>

#include "demo/Failure.h"
#include "demo/Interrupt.h"
#include "demo/Options.h"
#include "demo/Outputs.h"
#include "demo/Run.h"
#include "demo/StandardOutput.h"

using namespace Qz::Varnel;

int main(int argc, char** argv)
{
    Demo::SDemoOptions options;
    if (!Demo::ParseDemoOptions(argc, argv, options, std::cout, std::cerr))
        return 2;
    if (options.m_bHelp)
        return 0;
    Demo::InstallInterruptHandlers();
    if (options.m_bXml && options.m_bConsole)
        std::cerr << "vidoderavev-demo: note: --xml and --console both write to standard output; "
                     "a stream reader will find the console lines malformed\n";

    bool completed = false;
    {
        // Outlives the outputs, so that it sees their last writes.
        Demo::CWatchedStandardOutput standardOutput;
        try {
            Demo::COutputs outputs(options);
            auto logger = boost::make_shared<Progress::CLogger>("Demo run", 1.0, 100.0);
            // The outputs' own levels decide what is shown.
            logger->SetNotificationLevel(Progress::VerbosityTrace);
            if (options.m_nVerbosityOffset != 0)
                logger->SetVerbosityOffset(options.m_nVerbosityOffset);
            logger->SetLayerTracing(options.m_bTraceLayers);
            outputs.Attach(logger);
            completed = Demo::CDemoRun(logger, options).Run();
            outputs.Close();
        } catch (...) {
            // An output that could not be created, or one that failed while
            // being attached; the outputs made so far are closed by now.
            Demo::RequestStop(Demo::DescribeCurrentError());
        }
    }
    if (!Demo::GetFailure().empty()) {
        if (!Demo::GetFailureReport().empty())
            std::cerr << "vidoderavev-demo: " << Demo::GetFailureReport() << std::endl;
        return 1;
    }
    return completed ? 0 : 130;
}
