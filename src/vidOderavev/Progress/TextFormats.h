#ifndef VIDODERAVEV_PROGRESS_TEXTFORMATS_H
#define VIDODERAVEV_PROGRESS_TEXTFORMATS_H

#include <string>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include <vidOderavev/Export.h>
#include <vidOderavev/Libraries/Fileio/FileioUnix.h>
#include <vidOderavev/Progress/Logger.h>

namespace Qz {
namespace Varnel {
namespace Progress {
namespace Detail {

// Log lines of the file outputs; each ends with carriage return and line feed.
// "<time stamp> <LEVEL>: [<task>] <text>" (no brackets without a task identifier)
VIDODERAVEV_API std::string BuildSimpleLogLine(const std::string& text, _EVerbosityLevel level,
                                               const std::string& timeStamp, const std::string& taskId);
// "<time stamp> <LEVEL>: <text>"; the task identifier is never written
VIDODERAVEV_API std::string BuildDateLogLine(const std::string& text, _EVerbosityLevel level,
                                             const std::string& timeStamp);
// "[<task>] <time stamp> <LEVEL>: <text>" (no brackets without a task
// identifier), appended to line: the buffered output's writer reuses one
// buffer for every line it writes.
VIDODERAVEV_API void AppendBufferedLogLine(std::string& line, const std::string& text, _EVerbosityLevel level,
                                           const std::string& timeStamp, const std::string& taskId);

// "<percent> %" and, when at least a second remains, " [ETA: ...]", then a
// line feed. An unbounded time remaining (too little progress to tell) gets
// no bracket, like a finished one.
VIDODERAVEV_API std::string BuildProgressLine(const std::string& percentText,
                                              const boost::posix_time::time_duration& remaining);

// The text of a progress file line: "<layer text>: " and the progress line.
VIDODERAVEV_API std::string BuildProgressFileLine(const std::string& layerText, const std::string& percentText,
                                                  const boost::posix_time::time_duration& remaining);

// The percent text of a progress file: fraction times 100 at precision 4.
VIDODERAVEV_API std::string BuildProgressPercentText(double fraction);

// Rewrites an open progress file in place: seek to the start, one write of
// the whole content, truncate behind it. A failed truncate raises like the
// other steps: the file may then show a stale tail, so the rewrite failed.
VIDODERAVEV_API void RewriteProgressFile(int handle, const std::string& content);

// Appends one line to a log file that is not kept open: open, seek to the end
// (another process may have appended meanwhile), one write of the whole line,
// close. When the seek or the write raises, what the write left of the line
// is cut off and the descriptor is closed before the error leaves, so that a
// log on a full disk holds only whole lines and leaks no descriptors.
VIDODERAVEV_API void AppendToLogFile(const std::string& fileName, Fileio::_EOpenFlags flags, const std::string& line);

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz

#endif
