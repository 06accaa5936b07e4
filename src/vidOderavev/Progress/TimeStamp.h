#ifndef VIDODERAVEV_PROGRESS_TIMESTAMP_H
#define VIDODERAVEV_PROGRESS_TIMESTAMP_H

#include <ctime>
#include <string>

#include <boost/date_time/posix_time/posix_time_types.hpp>

namespace Qz {
namespace Varnel {
namespace Progress {
namespace Detail {

// The current local time as "%Y-%m-%d %H:%M:%S".
std::string LocalTimeStamp();

// The same text for a given local time, through a Boost.Date_Time facet.
std::string FormatTimeStamp(const boost::posix_time::ptime& localTime);

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz

#endif
