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

void CTimeStampCache::Rebuild(std::time_t now)
{
    const boost::posix_time::ptime utc = boost::posix_time::from_time_t(now);
    const boost::posix_time::ptime local =
        boost::date_time::c_local_adjustor<boost::posix_time::ptime>::utc_to_local(utc);
    m_sText = FormatTimeStamp(local);
    m_nSecond = now;
}

std::string LocalTimeStamp()
{
    thread_local CTimeStampCache cache;
    return cache.Current();
}

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz
