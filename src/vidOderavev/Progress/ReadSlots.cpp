#include <vidOderavev/Progress/ReadSlots.h>

#include <algorithm>
#include <vector>

#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <vidOderavev/ThreadSafety.h>

namespace Qz {
namespace Varnel {
namespace Progress {
namespace Detail {

namespace {

typedef Varnel::Detail::CScopedLock<Varnel::Detail::CMutex> TLock;

int Membarrier(int command) { return static_cast<int>(::syscall(__NR_membarrier, command, 0, 0)); }

// The slots of every thread, and the lists kept aside for their reads. Never
// destroyed: threads may end after the static objects are gone.
struct SRegistry
{
    Varnel::Detail::CMutex m_oMutex;
    std::vector<const CReadSlots*> m_oThreads VIDODERAVEV_GUARDED_BY(m_oMutex);
    std::vector<boost::shared_ptr<const void> > m_oKeptAside VIDODERAVEV_GUARDED_BY(m_oMutex);
};

SRegistry& Registry()
{
    static SRegistry* const s_pRegistry = new SRegistry;
    return *s_pRegistry;
}

bool HeldByAnyThread(const SRegistry& registry, const void* list) VIDODERAVEV_REQUIRES(registry.m_oMutex)
{
    return std::any_of(registry.m_oThreads.begin(), registry.m_oThreads.end(),
                       [list](const CReadSlots* slots) { return slots->Holds(list); });
}

} // namespace

std::atomic<bool> CReadSlots::g_bKeptAside(false);

bool CReadSlots::Available()
{
    // The registration makes the expedited barrier of this process allowed.
    static const bool s_bAvailable = Membarrier(MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED) == 0;
    return s_bAvailable;
}

CReadSlots::CReadSlots() : m_bAvailable(Available())
{
    for (auto& slot : m_apReading)
        slot.store(nullptr, std::memory_order_relaxed);
    SRegistry& registry = Registry();
    TLock lock(registry.m_oMutex);
    registry.m_oThreads.push_back(this);
}

CReadSlots::~CReadSlots()
{
    SRegistry& registry = Registry();
    {
        TLock lock(registry.m_oMutex);
        registry.m_oThreads.erase(std::find(registry.m_oThreads.begin(), registry.m_oThreads.end(), this));
    }
    if (g_bKeptAside.load())
        DropUnread();
}

bool CReadSlots::Holds(const void* list) const
{
    for (const auto& slot : m_apReading)
        if (slot.load(std::memory_order_acquire) == list)
            return true;
    return false;
}

void CReadSlots::DropUnread()
{
    std::vector<boost::shared_ptr<const void> > unread; // dropped after the mutex: destructors may log
    SRegistry& registry = Registry();
    TLock lock(registry.m_oMutex);
    auto& kept = registry.m_oKeptAside;
    for (auto list = kept.begin(); list != kept.end();) {
        if (HeldByAnyThread(registry, list->get())) {
            ++list;
        } else {
            unread.push_back(std::move(*list));
            list = kept.erase(list);
        }
    }
    if (kept.empty())
        g_bKeptAside.store(false, std::memory_order_relaxed);
}

void ReleaseReadList(boost::shared_ptr<const void> list)
{
    if (!list || !CReadSlots::Available())
        return;
    SRegistry& registry = Registry();
    {
        TLock lock(registry.m_oMutex);
        if (!HeldByAnyThread(registry, list.get()))
            return; // dropped here, after the mutex
        registry.m_oKeptAside.push_back(std::move(list));
        CReadSlots::g_bKeptAside.store(true, std::memory_order_relaxed);
    }
    // Every thread now sees the list kept aside, or has cleared its slot
    // where the look below finds it cleared.
    Membarrier(MEMBARRIER_CMD_PRIVATE_EXPEDITED);
    CReadSlots::DropUnread();
}

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz
