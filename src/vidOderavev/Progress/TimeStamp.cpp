#include <vidOderavev/Progress/TimeStamp.h>

#include <locale>
#include <sstream>

#include <boost/date_time/c_local_time_adjustor.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

namespace Qz {
namespace Varnel {
namespace Progress {
namespace Detail {

std::string FormatTimeStamp(const boost::posix_time::ptime& localTime)
{
    std::ostringstream stream;
    stream.imbue(std::locale(std::locale::classic(), new boost::posix_time::time_facet("%Y-%m-%d %H:%M:%S")));
    stream << localTime;
    return stream.str();
}

std::string LocalTimeStamp()
{
    // Formatting through a facet costs microseconds, far more than the rest
    // of a message; each thread keeps the text of the current second and
    // rebuilds it only when the second changes.
    struct SCache
    {
        std::time_t m_nSecond = -1;
        std::string m_sText;
    };
    thread_local SCache cache;
    const std::time_t now = std::time(nullptr);
    if (now != cache.m_nSecond) {
        const boost::posix_time::ptime utc = boost::posix_time::from_time_t(now);
        const boost::posix_time::ptime local =
            boost::date_time::c_local_adjustor<boost::posix_time::ptime>::utc_to_local(utc);
        cache.m_sText = FormatTimeStamp(local);
        cache.m_nSecond = now;
    }
    return cache.m_sText;
}

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz
