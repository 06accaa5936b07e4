#ifndef VIDODERAVEV_TOOLS_WATCH_JSONRECORD_H
#define VIDODERAVEV_TOOLS_WATCH_JSONRECORD_H

#include <string>

#include "watch/Records.h"
#include "watch/Stream.h"

namespace Qz {
namespace Varnel {
namespace Watch {

// The watcher's records as one-line JSON objects, for --json and for the web
// page's event stream. Every object starts with "type", "source", "stream",
// "host" and "pid"; the keys always come in the same order, so that the
// lines can also be compared as text. None ends with a line feed.

// Appends text as a JSON string literal (quotes included): '"' and '\' are
// escaped, control characters written as \n, \t or \u00XX, ill-formed UTF-8
// replaced by U+FFFD, and '/' left alone.
void AppendJsonString(std::string& out, const std::string& text);

// {"type":"log",...,"time":..,"level":..,"task":..,"text":..}
std::string FormatJsonLog(const CStream& stream, const SLogRecord& record);
// {"type":"progress",...,"percent":42.5,"text":..,"eta":65,"stalled":false}
// with "eta":null while no estimate can be made.
std::string FormatJsonProgress(const CStream& stream, double now);
// {"type":"end",...,"state":"finished"}, "lost", or "malformed" followed by
// "error".
std::string FormatJsonEnd(const CStream& stream);

} // namespace Watch
} // namespace Varnel
} // namespace Qz

#endif
