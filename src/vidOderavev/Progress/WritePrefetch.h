#ifndef VIDODERAVEV_PROGRESS_WRITEPREFETCH_H
#define VIDODERAVEV_PROGRESS_WRITEPREFETCH_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace Qz {
namespace Varnel {
namespace Progress {
namespace Detail {

// Recycled queue entries were last touched by a background thread on the
// other core, so a reporting thread that fills one waits for every cache line
// it writes. Collecting the lines of the entries it will fill next (under the
// queue's mutex, where reading the free list is allowed) and asking for them
// after the mutex is released lets those waits overlap with the caller's own
// work instead of adding up.
class CWritePrefetch
{
public:
    // The cache lines of size bytes from begin; what does not fit is skipped.
    void Add(const void* begin, std::size_t size)
    {
        const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(begin) & ~std::uintptr_t(63);
        const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(begin) + size;
        for (std::uintptr_t line = first; line < end && m_nLines < g_nMaxLines; line += 64)
            m_anLines[m_nLines++] = line;
    }
    void Add(const std::string& text) { Add(text.data(), text.size() + 1); }
    // The node of a std::list that holds value: its two links come first.
    template <class T> void AddListNode(const T& value)
    {
        Add(reinterpret_cast<const char*>(&value) - 2 * sizeof(void*), sizeof(T) + 2 * sizeof(void*));
    }

    // After an entry was taken from the front of the free list: the strings
    // of the next two entries, whose nodes came with earlier calls, and the
    // node of the third. addStrings(prefetch, entry) adds an entry's strings.
    template <class TList, class TAddStrings> void AddNextEntries(const TList& free, TAddStrings addStrings)
    {
        auto entry = free.begin();
        for (int ahead = 0; ahead < 3 && entry != free.end(); ++ahead, ++entry) {
            if (ahead < 2)
                addStrings(*this, *entry);
            else
                AddListNode(*entry);
        }
    }

    // A prefetch never faults, whatever became of the memory meanwhile.
    void Run() const
    {
        for (int i = 0; i < m_nLines; ++i) {
#if defined(__x86_64__)
            __asm__ volatile("prefetchw %0" : : "m"(*reinterpret_cast<const char*>(m_anLines[i])));
#else
            __builtin_prefetch(reinterpret_cast<const void*>(m_anLines[i]), 1);
#endif
        }
    }

private:
    static const int g_nMaxLines = 16;
    std::uintptr_t m_anLines[g_nMaxLines];
    int m_nLines = 0;
};

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz

#endif
