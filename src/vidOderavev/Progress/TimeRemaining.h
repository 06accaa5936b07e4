#ifndef VIDODERAVEV_PROGRESS_TIMEREMAINING_H
#define VIDODERAVEV_PROGRESS_TIMEREMAINING_H

#include <boost/date_time/posix_time/posix_time_types.hpp>

namespace Qz {
namespace Varnel {
namespace Progress {
namespace Detail {

// The time a layer at value of maxValue still needs when it has run for
// elapsed: elapsed * rest / done on whole microseconds, where done and rest
// are the thousandfolds of the value and of what is left, truncated toward
// zero. Positive infinity while done is 0; a special elapsed time comes back
// as it is; a result beyond the range of a duration saturates to infinity.
boost::posix_time::time_duration EstimateTimeRemaining(double value, double maxValue,
                                                       const boost::posix_time::time_duration& elapsed);

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz

#endif
