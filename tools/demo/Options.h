#ifndef VIDODERAVEV_TOOLS_DEMO_OPTIONS_H
#define VIDODERAVEV_TOOLS_DEMO_OPTIONS_H

#include <ostream>
#include <string>
#include <vector>

namespace Qz {
namespace Varnel {
namespace Demo {

struct SNetTarget
{
    std::string m_sHost;
    int m_nPort = 0;
};

struct SDemoOptions
{
    bool m_bXml = false;
    bool m_bConsole = false;
    std::string m_sLog;
    std::string m_sDatedLog;
    bool m_bBuffered = false;
    std::string m_sBufferedDirectory;
    std::string m_sBufferedStem;
    bool m_bDated = false;
    std::vector<SNetTarget> m_oNet;
    bool m_bJournal = false;
    std::string m_sJournalIdentifier; // empty: the program's name
    // --syslog: "udp", "tcp" or "unix" (empty: none), and where to
    std::string m_sSyslogTransport;
    SNetTarget m_oSyslog; // m_sHost holds the socket path for "unix"
    double m_dDuration = 20.0;
    int m_nThreads = 4;
    int m_nVerbosityOffset = 0;
    int m_nLevel = 7;
    bool m_bTraceLayers = false;
    bool m_bHelp = false;
};

// Reads the command line. On a mistake writes the reason to errors and
// returns false; the caller exits with status 2. --help sets m_bHelp and
// writes the help text.
bool ParseDemoOptions(int argc, const char* const* argv, SDemoOptions& options, std::ostream& help,
                      std::ostream& errors);

// Splits "HOST:PORT" or "[IPV6]:PORT"; false when that is not the form or the
// port is not 1 to 65535.
bool ParseNetTarget(const std::string& text, SNetTarget& target);

} // namespace Demo
} // namespace Varnel
} // namespace Qz

#endif
