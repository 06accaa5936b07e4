#ifndef VIDODERAVEV_TOOLS_WATCH_OPTIONS_H
#define VIDODERAVEV_TOOLS_WATCH_OPTIONS_H

#include <ostream>
#include <string>

#include "watch/Eta.h"
#include "watch/MessageFilter.h"

namespace Qz {
namespace Varnel {
namespace Watch {

struct SWatchOptions
{
    std::string m_sListen; // empty: read standard input
    std::string m_sListenHost;
    std::string m_sListenPort;
    std::string m_sHttp; // empty: no web dashboard
    std::string m_sHttpHost;
    std::string m_sHttpPort;
    bool m_bJournal = false;         // --journal or --journal-dir
    std::string m_sJournalDirectory; // empty: the local journal
    std::string m_sSince;            // empty: from now on
    std::string m_sSaveDirectory;    // empty: save nothing
    int m_nLevel = 7;
    bool m_bPlain = false;
    bool m_bJson = false;
    std::string m_sGrep; // empty: every message
    EEtaMethod m_eEta = EtaMoving;
    CMessageFilter m_oFilter; // --level and --grep together
    int m_nExitAfter = 0;
    double m_dIdleTimeout = 600.0; // seconds; 0: never
    bool m_bHelp = false;
};

// Reads the command line. On a mistake writes the reason to errors and
// returns false; the caller exits with status 2. --help sets m_bHelp. The
// --save directory is left to the caller to create.
bool ParseWatchOptions(int argc, const char* const* argv, SWatchOptions& options, std::ostream& help,
                       std::ostream& errors);

} // namespace Watch
} // namespace Varnel
} // namespace Qz

#endif
