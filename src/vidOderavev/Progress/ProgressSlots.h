#ifndef VIDODERAVEV_PROGRESS_PROGRESSSLOTS_H
#define VIDODERAVEV_PROGRESS_PROGRESSSLOTS_H

#include <list>
#include <string>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/shared_ptr.hpp>

#include <vidOderavev/Export.h>
#include <vidOderavev/Progress/Logger.h>

namespace Qz {
namespace Varnel {
namespace Progress {
namespace Detail {

// The two lines of a synchronous progress file: slot 0 shows the root layer,
// slot 1 the innermost layer of class 0 while there is one. Each slot keeps
// what it last wrote, so that a line is refreshed only when its layer or text
// changed or its fraction moved by more than one percentage point.
class VIDODERAVEV_API CProgressSlots
{
public:
    CProgressSlots();

    // Brings the slots up to date with the first of the loggers and, when
    // anything changed and a progress file is open (handle not -1), rewrites
    // that file in place. Must run under the visualizer's mutex: a getter may
    // re-enter on the same thread and refresh the slots before this call
    // carries on with them. With all, every slot takes the present state and
    // the file is rewritten whatever moved (the last refresh of a run).
    void Refresh(const std::list<boost::shared_ptr<CLogger>>& loggers, int progressFile, bool all = false);

    // The file content for the first usedSlots slots, closed by one more line feed.
    std::string BuildContent(int usedSlots) const;

private:
    void _Take(int slot, const CLogger& logger, int layer);

    int m_anShownLayer[2];
    std::string m_asLayerText[2];
    std::string m_asPercentText[2];
    double m_adLastFraction[2];
    boost::posix_time::time_duration m_aoTimeRemaining[2];
};

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz

#endif
