#ifndef VIDODERAVEV_PROGRESS_XMLLOGSTREAM_H
#define VIDODERAVEV_PROGRESS_XMLLOGSTREAM_H

#include <cstdint>
#include <string>

#include <boost/shared_ptr.hpp>

#include <vidOderavev/Progress/Logger.h>

// Pieces of the XML log stream shared by the standard-output and the network
// writers. The writers add the final line feed themselves, with the flush.

namespace Qz {
namespace Varnel {
namespace Progress {
namespace Detail {

extern const char g_acXmlDeclaration[]; // "<?xml ... ?>\n", 57 bytes
extern const char g_acXmlStreamStart[]; // "<LOG_STREAM>\n"
extern const char g_acXmlStreamEnd[];   // the closing progress element and "</LOG_STREAM>", 64 bytes

// Appends one log record without its final line feed. identity holds the
// ready-made (escaped) HOSTNAME, PID and TID elements, empty on standard output.
void AppendXmlLogRecord(std::string& out, const std::string& levelName, const std::string& timeStamp,
                        const std::string& identity, const std::string& taskId, const std::string& text);

// The progress-record rule: reads the root text and then the overall fraction
// of the logger and, when the whole percent or the root text differs from the
// last record written, updates the two stored values, appends a record
// (without its final line feed; identity as above, without TID) and returns
// true. The getters may re-enter the writer on the same thread, so the
// stored values are read only after them.
bool AppendXmlProgressRecord(std::string& out, const boost::shared_ptr<CLogger>& logger, const std::string& identity,
                             double& lastFraction, std::string& lastRootText);

// The rule itself, for outputs with a format of their own: reads the root
// text and then the overall fraction and, when a record is due, stores them
// as the last written values, hands them out (textChanged: the root text
// differs from the last record's) and returns true.
bool TakeProgressRecord(const boost::shared_ptr<CLogger>& logger, double& lastFraction, std::string& lastRootText,
                        double& fraction, std::string& rootText, bool& textChanged);

// trunc(value) as a 32-bit integer; values out of range saturate and NaN gives 0.
int32_t TruncateToInt32(double value);

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz

#endif
