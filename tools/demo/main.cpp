// vidoderavev-demo: a host program that drives the library's outputs with a
// simulated long computation.
#include <exception>
#include <iostream>

#include <boost/make_shared.hpp>

#include <vidOderavev/Progress/Logger.h>

#include "demo/Interrupt.h"
#include "demo/Options.h"
#include "demo/Outputs.h"
#include "demo/Run.h"

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

    int status = 0;
    try {
        Demo::COutputs outputs(options);
        auto logger = boost::make_shared<Progress::CLogger>("Demo run", 1.0, 100.0);
        // The outputs' own levels decide what is shown.
        logger->SetNotificationLevel(Progress::VerbosityTrace);
        if (options.m_nVerbosityOffset != 0)
            logger->SetVerbosityOffset(options.m_nVerbosityOffset);
        logger->SetLayerTracing(options.m_bTraceLayers);
        outputs.Attach(logger);
        const bool completed = Demo::CDemoRun(logger, options).Run();
        outputs.Close();
        if (!Demo::GetFailure().empty()) {
            std::cerr << "vidoderavev-demo: " << Demo::GetFailure() << std::endl;
            status = 1;
        } else
            status = completed ? 0 : 130;
    } catch (const std::exception& error) {
        std::cerr << "vidoderavev-demo: " << error.what() << std::endl;
        status = 1;
    }
    return status;
}
