#include "demo/Options.h"

#include <cstdlib>

#include <boost/program_options.hpp>

#include "common/CommandLine.h"
#include "common/Level.h"

namespace Qz {
namespace Varnel {
namespace Demo {

namespace po = boost::program_options;

namespace {

// The directory a file is to be created in must exist: the file outputs
// cannot create directories.
bool HasExistingDirectory(const std::string& file)
{
    const std::size_t slash = file.rfind('/');
    return slash == std::string::npos || Tools::IsDirectory(slash == 0 ? "/" : file.substr(0, slash));
}

} // namespace

bool ParseNetTarget(const std::string& text, SNetTarget& target)
{
    std::string port;
    if (!text.empty() && text[0] == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
            return false;
        target.m_sHost = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else {
        const std::size_t colon = text.rfind(':');
        if (colon == std::string::npos || text.find(':') != colon)
            return false;
        target.m_sHost = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    if (target.m_sHost.empty() || port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos)
        return false;
    target.m_nPort = std::atoi(port.c_str());
    return target.m_nPort >= 1 && target.m_nPort <= 65535;
}

bool ParseDemoOptions(int argc, const char* const* argv, SDemoOptions& options, std::ostream& help,
                      std::ostream& errors)
{
    std::string level = "TRACE";
    std::vector<std::string> buffered;
    std::vector<std::string> net;
    std::vector<std::string> journal;
    std::string syslog;
    po::options_description description(
        "Usage: vidoderavev-demo [OPTIONS]\n"
        "Runs a simulated computation (load, a transform on worker threads, write-out) that reports\n"
        "through the outputs chosen below, any combination; without any, --console is used.\n"
        "Ctrl-C (or SIGTERM, SIGHUP) finishes the current step, closes every output properly and exits\n"
        "with status 130.\n\n"
        "Outputs");
    // clang-format off
    description.add_options()
        ("xml", po::bool_switch(&options.m_bXml), "XML log stream on standard output")
        ("console", po::bool_switch(&options.m_bConsole), "plain message and \"Progress: \" lines on standard output")
        ("log", po::value<std::string>(&options.m_sLog)->value_name("FILE"),
         "log lines to FILE's base name + .log, live progress to + .progress")
        ("dated-log", po::value<std::string>(&options.m_sDatedLog)->value_name("FILE"),
         "like --log, with the log file named after the current date")
        ("buffered", po::value<std::vector<std::string> >(&buffered)->multitoken()->value_name("DIR STEM"),
         "DIR/STEM.log and DIR/STEM.progress, written by background threads")
        ("dated", po::bool_switch(&options.m_bDated), "with --buffered: put the date into the file names")
        ("net", po::value<std::vector<std::string> >(&net)->composing()->value_name("HOST:PORT"),
         "XML log stream over TCP to a collector (vidoderavev-watch --listen); repeatable")
        ("journal", po::value<std::vector<std::string> >(&journal)->multitoken()->zero_tokens()
             ->value_name("[IDENTIFIER]")
             ->notifier([&options](const std::vector<std::string>&) { options.m_bJournal = true; }),
         "structured entries into the systemd journal, as IDENTIFIER (default vidoderavev-demo)")
        ("syslog", po::value<std::string>(&syslog)->value_name("ADDRESS"),
         "RFC 5424 syslog messages to udp://HOST:PORT, tcp://HOST:PORT or unix:PATH (e.g. unix:/dev/log)");
    po::options_description run("Run");
    run.add_options()
        ("duration", po::value<double>(&options.m_dDuration)->value_name("SECONDS"),
         "how long the simulated computation takes (default 20)")
        ("threads", po::value<int>(&options.m_nThreads)->value_name("N"), "worker threads of the transform (default 4)")
        ("verbosity-offset", po::value<int>(&options.m_nVerbosityOffset)->value_name("N"),
         "shift INFO to TRACE messages by N levels (positive: less severe)")
        ("level", po::value<std::string>(&level)->value_name("LEVEL"),
         "outputs show messages up to LEVEL: FATAL ... TRACE or 0-7 (default TRACE)")
        ("trace-layers", po::bool_switch(&options.m_bTraceLayers), "trace every layer push and pop on standard error")
        ("help,h", "show this help and exit");
    // clang-format on
    description.add(run);
    if (!Tools::ParseCommandLine(argc, argv, description, "vidoderavev-demo",
                                 "\nExit status: 0 done, 1 an output failed, 2 bad options, 130 interrupted.\n",
                                 options.m_bHelp, help, errors))
        return false;
    if (options.m_bHelp)
        return true;
    const auto fail = [&errors](const std::string& text) {
        Tools::ReportUsageError(errors, "vidoderavev-demo", text);
        return false;
    };
    options.m_nLevel = Tools::ParseLevel(level);
    if (options.m_nLevel < 0)
        return fail("unknown level \"" + level + "\"; use FATAL, ERROR, WARNING, INFO, LOG, DEBUG, TRACE or 0-7");
    if (!(options.m_dDuration > 0.0 && options.m_dDuration <= 86400.0))
        return fail("--duration must be more than 0 and at most 86400 seconds");
    if (options.m_nThreads < 1 || options.m_nThreads > 64)
        return fail("--threads must be 1 to 64");
    if (options.m_nVerbosityOffset < -10 || options.m_nVerbosityOffset > 10)
        return fail("--verbosity-offset must be -10 to 10");
    if (!buffered.empty()) {
        if (buffered.size() != 2)
            return fail("--buffered takes two values, a directory and a file stem");
        options.m_bBuffered = true;
        options.m_sBufferedDirectory = buffered[0];
        options.m_sBufferedStem = buffered[1];
        if (!Tools::IsDirectory(options.m_sBufferedDirectory))
            return fail("--buffered: " + options.m_sBufferedDirectory + " is not a directory");
        if (options.m_sBufferedStem.empty() || options.m_sBufferedStem.find('/') != std::string::npos)
            return fail("--buffered: the file stem must be a plain name");
    }
    if (options.m_bDated && !options.m_bBuffered)
        return fail("--dated only goes with --buffered");
    for (const std::string& file : {options.m_sLog, options.m_sDatedLog})
        if (!file.empty() && !HasExistingDirectory(file))
            return fail("the directory of " + file + " does not exist");
    for (const std::string& text : net) {
        SNetTarget target;
        if (!ParseNetTarget(text, target))
            return fail("--net wants HOST:PORT with a port from 1 to 65535, got \"" + text + "\"");
        options.m_oNet.push_back(target);
    }
    if (options.m_bJournal) {
#ifndef VIDODERAVEV_HAS_JOURNAL
        return fail("--journal: this build of the library has no systemd journal output");
#endif
        if (journal.size() > 1)
            return fail("--journal takes at most one identifier");
        if (!journal.empty())
            options.m_sJournalIdentifier = journal[0];
    }
    if (!syslog.empty()) {
        const std::string::size_type scheme = syslog.find("://");
        options.m_sSyslogTransport = scheme == std::string::npos ? std::string() : syslog.substr(0, scheme);
        if (syslog.compare(0, 5, "unix:") == 0 && syslog.size() > 5) {
            options.m_sSyslogTransport = "unix";
            options.m_oSyslog.m_sHost = syslog.substr(5);
        } else if ((options.m_sSyslogTransport != "udp" && options.m_sSyslogTransport != "tcp") ||
                   !ParseNetTarget(syslog.substr(scheme + 3), options.m_oSyslog)) {
            return fail("--syslog wants udp://HOST:PORT, tcp://HOST:PORT or unix:PATH, got \"" + syslog + "\"");
        }
    }
    if (!options.m_bXml && !options.m_bConsole && options.m_sLog.empty() && options.m_sDatedLog.empty() &&
        !options.m_bBuffered && options.m_oNet.empty() && !options.m_bJournal && options.m_sSyslogTransport.empty())
        options.m_bConsole = true;
    return true;
}

} // namespace Demo
} // namespace Varnel
} // namespace Qz
