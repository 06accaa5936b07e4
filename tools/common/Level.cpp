#include "common/Level.h"

#include <cctype>

namespace Qz {
namespace Varnel {
namespace Tools {

namespace {

const char* const g_apLevelNames[] = {"FATAL", "ERROR", "WARNING", "INFO", "LOG", "DEBUG", "TRACE"};

} // namespace

int ParseLevel(const std::string& text)
{
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '7')
        return text[0] - '0';
    std::string upper;
    for (char c : text)
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return LevelOfType(upper) > 0 ? LevelOfType(upper) : -1;
}

int LevelOfType(const std::string& type)
{
    for (int level = 1; level <= 7; ++level)
        if (type == g_apLevelNames[level - 1])
            return level;
    return 0;
}

} // namespace Tools
} // namespace Varnel
} // namespace Qz
