#ifndef VIDODERAVEV_TOOLS_WATCH_JSONSTANDIN_H
#define VIDODERAVEV_TOOLS_WATCH_JSONSTANDIN_H

// Temporary: the JSON records until the watcher's own encoder lands.

#include <string>

#include "watch/Stream.h"

namespace Qz {
namespace Varnel {
namespace Watch {

void AppendJsonString(std::string& out, const std::string& text);
std::string FormatJsonLog(const CStream& stream, const SLogRecord& record);
std::string FormatJsonProgress(const CStream& stream, double now);
std::string FormatJsonEnd(const CStream& stream);

} // namespace Watch
} // namespace Varnel
} // namespace Qz

#endif
