#ifndef VIDODERAVEV_TOOLS_COMMON_LEVEL_H
#define VIDODERAVEV_TOOLS_COMMON_LEVEL_H

#include <string>

namespace Qz {
namespace Varnel {
namespace Tools {

// Reads a level given on the command line: a name such as "warning" (any
// case) or a number 0 to 7. Returns -1 when the text is neither.
int ParseLevel(const std::string& text);

// The level of a TYPE element: 1 for "FATAL" to 7 for "TRACE". An empty or
// unknown name gives 0, the level that is always shown.
int LevelOfType(const std::string& type);

} // namespace Tools
} // namespace Varnel
} // namespace Qz

#endif
