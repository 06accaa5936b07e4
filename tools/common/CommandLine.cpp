#include "common/CommandLine.h"

#include <sys/stat.h>

#include <boost/program_options.hpp>

namespace Qz {
namespace Varnel {
namespace Tools {

namespace po = boost::program_options;

bool ParseCommandLine(int argc, const char* const* argv, const po::options_description& description,
                      const std::string& program, const std::string& helpTrailer, bool& showHelp, std::ostream& help,
                      std::ostream& errors)
{
    try {
        po::variables_map values;
        // No positional arguments: an empty description makes any of them an error.
        const po::positional_options_description none;
        po::store(po::command_line_parser(argc, argv).options(description).positional(none).run(), values);
        po::notify(values);
        if (values.count("help")) {
            showHelp = true;
            help << description << helpTrailer;
        }
    } catch (const po::error& error) {
        ReportUsageError(errors, program, error.what());
        return false;
    }
    return true;
}

void ReportUsageError(std::ostream& errors, const std::string& program, const std::string& reason)
{
    errors << program << ": " << reason << "\nTry '" << program << " --help'.\n";
}

bool IsDirectory(const std::string& path)
{
    struct stat status = {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

} // namespace Tools
} // namespace Varnel
} // namespace Qz
