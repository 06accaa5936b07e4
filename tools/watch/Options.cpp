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
    std::string eta = "moving";
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
        ("journal", po::bool_switch(&options.m_bJournal),
         "follow the local systemd journal instead of reading standard input")
        ("journal-dir", po::value<std::string>(&options.m_sJournalDirectory)->value_name("DIR"),
         "follow the journal files in DIR, such as systemd-journal-remote writes for many hosts")
        ("since", po::value<std::string>(&options.m_sSince)->value_name("TIME"),
         "with --journal or --journal-dir: start at this local time, \"2026-12-06 10:00:00\" (default: now)")
        ("save", po::value<std::string>(&options.m_sSaveDirectory)->value_name("DIR"),
         "write the bytes of each stream to DIR/HOST-PID.xml (stdin.xml for standard input); DIR is created "
         "when missing")
        ("level", po::value<std::string>(&level)->value_name("LEVEL"),
         "show messages up to this level: FATAL, ERROR, WARNING, INFO, LOG, DEBUG, TRACE or 0-7 (default TRACE)")
        ("grep", po::value<std::string>(&options.m_sGrep)->value_name("REGEX"),
         "show only messages whose text or task identifier matches this ECMAScript regular expression "
         "(progress is always shown)")
        ("plain", po::bool_switch(&options.m_bPlain), "one line per record even on a terminal")
        ("json", po::bool_switch(&options.m_bJson),
         "one JSON object per record on standard output (for jq and log shippers) instead of lines")
        ("eta", po::value<std::string>(&eta)->value_name("METHOD"),
         "time remaining from the rate of the last quarter minute (moving, the default) or since the start "
         "(average)")
        ("exit-after", po::value<int>(&options.m_nExitAfter)->value_name("N"),
         "with --listen or the journal: exit once N streams have ended")
        ("idle-timeout", po::value<double>(&options.m_dIdleTimeout)->value_name("SECONDS"),
         "with --listen: close a connection that sent nothing for this long (default 600, 0: never)");
    // clang-format on
    if (!Tools::ParseCommandLine(argc, argv, description, "vidoderavev-watch",
                                 "\nExit status: 0 done, 1 the input was malformed, 2 bad options, 3 cannot listen,\n"
                                 "read the journal, serve the dashboard or create the --save directory.\n",
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
    options.m_oFilter = CMessageFilter(options.m_nLevel);
    std::string error;
    if (!options.m_sGrep.empty() && !options.m_oFilter.SetPattern(options.m_sGrep, error)) {
        errors << "vidoderavev-watch: --grep: not a regular expression (" << error << "): " << options.m_sGrep << "\n";
        return false;
    }
    if (eta == "moving" || eta == "average")
        options.m_eEta = eta == "moving" ? EtaMoving : EtaAverage;
    else {
        errors << "vidoderavev-watch: --eta takes moving or average, not \"" << eta << "\"\n";
        return false;
    }
    if (options.m_bJson && options.m_bPlain) {
        errors << "vidoderavev-watch: --json and --plain are two different outputs; choose one\n";
        return false;
    }
    if (!options.m_sJournalDirectory.empty()) {
        if (options.m_bJournal) {
            errors << "vidoderavev-watch: --journal and --journal-dir: choose one\n";
            return false;
        }
        options.m_bJournal = true;
    }
    if (options.m_bJournal) {
#if !VIDODERAVEV_WATCH_JOURNAL
        errors << "vidoderavev-watch: --journal and --journal-dir are not available: this build has no systemd "
                  "journal support\n";
        return false;
#endif
        if (!options.m_sListen.empty() || !options.m_sSaveDirectory.empty()) {
            errors << "vidoderavev-watch: the journal is read on its own: no --listen, no --save\n";
            return false;
        }
    } else if (!options.m_sSince.empty()) {
        errors << "vidoderavev-watch: --since needs --journal or --journal-dir\n";
        return false;
    }
    if (options.m_nExitAfter < 0 || (options.m_nExitAfter > 0 && options.m_sListen.empty() && !options.m_bJournal)) {
        errors << "vidoderavev-watch: --exit-after takes a positive number and needs --listen or the journal\n";
        return false;
    }
    if (!(options.m_dIdleTimeout >= 0.0 && options.m_dIdleTimeout < 1e9)) {
        errors << "vidoderavev-watch: --idle-timeout takes a number of seconds (0: never)\n";
        return false;
    }
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
    return true;
}

} // namespace Watch
} // namespace Varnel
} // namespace Qz
