#include <cerrno>

#include <poll.h>

#include "watch/Collector.h"
#include "watch/JournalSource.h"
#include "watch/PlainView.h"

namespace Qz {
namespace Varnel {
namespace Watch {

int CCollector::RunJournal(CJournalSource& journal, int exitAfter)
{
    journal.Attach(m_oLabels, m_oView);
    journal.ReadNew(MonotonicNow());
    while (!((exitAfter > 0 && journal.GetEndedCount() >= exitAfter) || m_oView.IsOutputGone())) {
        m_oView.Tick(MonotonicNow());
        const double now = MonotonicNow();
        const double limit = journal.GetWaitLimit(now);
        pollfd descriptors[2] = {{m_oSignals.GetDescriptor(), POLLIN, 0}, {journal.GetDescriptor(), POLLIN, 0}};
        const int ready = ::poll(descriptors, 2, _PollTimeout(now, limit < 0.0 ? 0.0 : now + limit));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready > 0 && (descriptors[0].revents & POLLIN) && _TakeStopSignal())
            break;
        journal.ReadNew(MonotonicNow());
    }
    m_oView.Finish(MonotonicNow());
    return 0;
}

} // namespace Watch
} // namespace Varnel
} // namespace Qz
