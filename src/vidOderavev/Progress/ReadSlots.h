#ifndef VIDODERAVEV_PROGRESS_READSLOTS_H
#define VIDODERAVEV_PROGRESS_READSLOTS_H

#include <atomic>

#include <boost/shared_ptr.hpp>

namespace Qz {
namespace Varnel {
namespace Progress {
namespace Detail {

// Lets a thread read a shared list without taking a reference to it.
//
// A logger replaces its list of visualizers as a whole on every change and
// hands a message the current one under its mutex. Taking a reference there
// costs two atomic read-modify-writes per message, as much again as the mutex
// itself. Instead the reading thread notes the list in a slot of its own
// while it holds the owner's mutex, and clears the slot when it is done: two
// plain stores. An owner that lets go of a list (it replaced it, or it is
// destroyed) calls ReleaseReadList after its mutex: the list is dropped at
// once unless a slot still holds it; then it is kept aside until the last
// such read has ended, and dropped by the thread that ends it.
//
// Clearing a slot and then looking for lists kept aside is a store followed
// by a load, which the processor may reorder; the releasing side makes up for
// that with a process-wide memory barrier (membarrier(2)), so that either the
// owner sees the slot cleared or the reader sees the list kept aside. Where
// that system call is refused, Read declines and the caller takes a
// reference as before.
class CReadSlots
{
public:
    static const int g_nSlots = 4; // one per nesting depth of messages

    CReadSlots();
    ~CReadSlots();
    CReadSlots(const CReadSlots&) = delete;
    CReadSlots& operator=(const CReadSlots&) = delete;

    // Under the owner's mutex: notes that this thread reads list in the given
    // slot. False when it cannot: the caller must hold a reference instead.
    bool Read(int slot, const void* list)
    {
        if (slot >= g_nSlots || !m_bAvailable)
            return false;
        m_apReading[slot].store(list, std::memory_order_relaxed);
        return true;
    }

    // The read in slot has ended; drops what was kept aside for it.
    void EndRead(int slot)
    {
        m_apReading[slot].store(nullptr, std::memory_order_release);
        std::atomic_signal_fence(std::memory_order_seq_cst);
        if (g_bKeptAside.load(std::memory_order_relaxed))
            DropUnread();
    }

    // Whether any slot of this thread holds list.
    bool Holds(const void* list) const;

    static bool Available();

private:
    friend void ReleaseReadList(boost::shared_ptr<const void> list);
    static void DropUnread();

    const bool m_bAvailable;
    std::atomic<const void*> m_apReading[g_nSlots];
    static std::atomic<bool> g_bKeptAside;
};

// Drops an owner's reference to a list that its owner no longer hands out,
// or keeps it until the reads of other threads have ended. Call it without
// holding the owner's mutex: dropping may run destructors.
void ReleaseReadList(boost::shared_ptr<const void> list);

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz

#endif
