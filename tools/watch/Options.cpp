#include "watch/Options.h"

#include <boost/program_options.hpp>

#include "common/CommandLine.h"
#include "common/Level.h"
#include "watch/Listener.h"

namespace Qz {
namespace Varnel {
namespace Watch {

namespace po = boost::program_options;

bool ParseWatchOptions(int argc, const char* const* argv, SWatchOptions& options, std::ostream& help,
                       std::ostream& errors)
{
    std::string level = "TRACE";
    po::options_description description("Usage: vidoderavev-watch [OPTIONS]\n"
                                        "Shows XML log streams live: from standard input, or from every\n"
                                        "connection to --listen.\n\nOptions");
    // clang-format off
    description.add_options()
        ("help,h", "show this help and exit")
        ("listen", po::value<std::string>(&options.m_sListen)->value_name("HOST:PORT"),
         "accept streams on this TCP address instead of reading standard input (port 0: any free port)")
        ("http", po::value<std::string>(&options.m_sHttp)->value_name("[HOST:]PORT"),
         "also serve a live web dashboard on this address (default host 127.0.0.1; port 0: any free port)")
        ("save", po::value<std::string>(&options.m_sSaveDirectory)->value_name("DIR"),
         "write the bytes of each stream to DIR/HOST-PID.xml (stdin.xml for standard input)")
        ("level", po::value<std::string>(&level)->value_name("LEVEL"),
         "show messages up to this level: FATAL, ERROR, WARNING, INFO, LOG, DEBUG, TRACE or 0-7 (default TRACE)")
        ("plain", po::bool_switch(&options.m_bPlain), "one line per record even on a terminal")
        ("exit-after", po::value<int>(&options.m_nExitAfter)->value_name("N"),
         "with --listen: exit once N streams have ended")
        ("idle-timeout", po::value<double>(&options.m_dIdleTimeout)->value_name("SECONDS"),
         "with --listen: close a connection that sent nothing for this long (default 600, 0: never)");
    // clang-format on
    if (!Tools::ParseCommandLine(argc, argv, description, "vidoderavev-watch",
                                 "\nExit status: 0 done, 1 the input was malformed, 2 bad options, 3 cannot listen or serve the dashboard.\n",
                                 options.m_bHelp, help, errors))
        return false;
    if (options.m_bHelp)
        return true;
    options.m_nLevel = Tools::ParseLevel(level);
    if (options.m_nLevel < 0) {
        errors << "vidoderavev-watch: unknown level \"" << level
               << "\"; use FATAL, ERROR, WARNING, INFO, LOG, DEBUG, TRACE or 0-7\n";
        return false;
    }
    if (options.m_nExitAfter < 0 || (options.m_nExitAfter > 0 && options.m_sListen.empty())) {
        errors << "vidoderavev-watch: --exit-after takes a positive number and needs --listen\n";
        return false;
    }
    if (!(options.m_dIdleTimeout >= 0.0 && options.m_dIdleTimeout < 1e9)) {
        errors << "vidoderavev-watch: --idle-timeout takes a number of seconds (0: never)\n";
        return false;
    }
    std::string error;
    if (!options.m_sListen.empty() &&
        !SplitHostPort(options.m_sListen, options.m_sListenHost, options.m_sListenPort, error)) {
        errors << "vidoderavev-watch: --listen: " << error << "\n";
        return false;
    }
    if (!options.m_sHttp.empty() &&
        !SplitHostPort(options.m_sHttp, options.m_sHttpHost, options.m_sHttpPort, error)) {
        errors << "vidoderavev-watch: --http: " << error << "\n";
        return false;
    }
    if (!options.m_sSaveDirectory.empty() && !Tools::IsDirectory(options.m_sSaveDirectory)) {
        errors << "vidoderavev-watch: --save: " << options.m_sSaveDirectory << " is not a directory\n";
        return false;
    }
    return true;
}

} // namespace Watch
} // namespace Varnel
} // namespace Qz
