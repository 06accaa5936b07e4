#ifndef VIDODERAVEV_TOOLS_COMMON_COMMANDLINE_H
#define VIDODERAVEV_TOOLS_COMMON_COMMANDLINE_H

#include <ostream>
#include <string>

#include <boost/program_options/options_description.hpp>

namespace Qz {
namespace Varnel {
namespace Tools {

// Reads a command line that has options only: any positional argument is a
// mistake. On --help sets showHelp and writes the description followed by
// helpTrailer to help. On a mistake writes "PROGRAM: reason" and a pointer
// to --help to errors and returns false.
bool ParseCommandLine(int argc, const char* const* argv, const boost::program_options::options_description& description,
                      const std::string& program, const std::string& helpTrailer, bool& showHelp, std::ostream& help,
                      std::ostream& errors);

// "PROGRAM: reason\nTry 'PROGRAM --help'.\n"
void ReportUsageError(std::ostream& errors, const std::string& program, const std::string& reason);

bool IsDirectory(const std::string& path);

} // namespace Tools
} // namespace Varnel
} // namespace Qz

#endif
