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

// The text of the current second, rebuilt only when the second changes:
// formatting through a facet costs microseconds, far more than the rest of a
// message, so the common case is one comparison. One cache serves one user at
// a time: the text returned changes with the next call in a new second.
class CTimeStampCache
{
public:
    const std::string& Current()
    {
        const std::time_t now = std::time(nullptr);
        if (now != m_nSecond)
            Rebuild(now);
        return m_sText;
    }

private:
    void Rebuild(std::time_t now);

    std::time_t m_nSecond = -1;
    std::string m_sText;
};

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz

#endif
