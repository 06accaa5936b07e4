#ifndef VIDODERAVEV_THREADSAFETY_H
#define VIDODERAVEV_THREADSAFETY_H

// Which lock guards what, written so that Clang's -Wthread-safety can check
// it. The macros expand to nothing on other compilers. Boost's mutexes carry
// no such marks, so the library's locks are the thin wrappers below: each is
// still the Boost mutex it derives from, and the scoped lock is what lets the
// analysis see a lock taken and released.

#include <boost/thread/mutex.hpp>
#include <boost/thread/recursive_mutex.hpp>

#if defined(__clang__)
#define VIDODERAVEV_TSA(x) __attribute__((x))
#else
#define VIDODERAVEV_TSA(x)
#endif

#define VIDODERAVEV_CAPABILITY(x) VIDODERAVEV_TSA(capability(x))
#define VIDODERAVEV_SCOPED_CAPABILITY VIDODERAVEV_TSA(scoped_lockable)
#define VIDODERAVEV_GUARDED_BY(x) VIDODERAVEV_TSA(guarded_by(x))
#define VIDODERAVEV_PT_GUARDED_BY(x) VIDODERAVEV_TSA(pt_guarded_by(x))
#define VIDODERAVEV_ACQUIRED_BEFORE(...) VIDODERAVEV_TSA(acquired_before(__VA_ARGS__))
#define VIDODERAVEV_ACQUIRED_AFTER(...) VIDODERAVEV_TSA(acquired_after(__VA_ARGS__))
#define VIDODERAVEV_REQUIRES(...) VIDODERAVEV_TSA(requires_capability(__VA_ARGS__))
#define VIDODERAVEV_ACQUIRE(...) VIDODERAVEV_TSA(acquire_capability(__VA_ARGS__))
#define VIDODERAVEV_RELEASE(...) VIDODERAVEV_TSA(release_capability(__VA_ARGS__))
#define VIDODERAVEV_TRY_ACQUIRE(...) VIDODERAVEV_TSA(try_acquire_capability(__VA_ARGS__))
#define VIDODERAVEV_EXCLUDES(...) VIDODERAVEV_TSA(locks_excluded(__VA_ARGS__))
#define VIDODERAVEV_RETURN_CAPABILITY(x) VIDODERAVEV_TSA(lock_returned(x))
#define VIDODERAVEV_NO_THREAD_SAFETY_ANALYSIS VIDODERAVEV_TSA(no_thread_safety_analysis)

namespace Qz {
namespace Varnel {
namespace Detail {

// boost::mutex, marked as a lock.
class VIDODERAVEV_CAPABILITY("mutex") CMutex : public boost::mutex {
public:
    void lock() VIDODERAVEV_ACQUIRE() { boost::mutex::lock(); }
    void unlock() VIDODERAVEV_RELEASE() { boost::mutex::unlock(); }
    bool try_lock() VIDODERAVEV_TRY_ACQUIRE(true) { return boost::mutex::try_lock(); }
};

// boost::recursive_mutex, marked as a lock.
class VIDODERAVEV_CAPABILITY("mutex") CRecursiveMutex : public boost::recursive_mutex {
public:
    void lock() VIDODERAVEV_ACQUIRE() { boost::recursive_mutex::lock(); }
    void unlock() VIDODERAVEV_RELEASE() { boost::recursive_mutex::unlock(); }
    bool try_lock() VIDODERAVEV_TRY_ACQUIRE(true) { return boost::recursive_mutex::try_lock(); }
};

// Marks a lock that the current function already holds and hands over to a
// scoped lock.
struct SAdoptLock
{
};

// Holds a lock for its scope, and may give it up early and take it again.
template <typename TMutex> class VIDODERAVEV_SCOPED_CAPABILITY CScopedLock {
public:
    explicit CScopedLock(TMutex& mutex) VIDODERAVEV_ACQUIRE(mutex) : m_oMutex(mutex) { m_oMutex.lock(); }
    CScopedLock(TMutex& mutex, SAdoptLock) VIDODERAVEV_REQUIRES(mutex) : m_oMutex(mutex) {}
    ~CScopedLock() VIDODERAVEV_RELEASE()
    {
        if (m_bLocked)
            m_oMutex.unlock();
    }
    void Unlock() VIDODERAVEV_RELEASE()
    {
        m_oMutex.unlock();
        m_bLocked = false;
    }
    void Lock() VIDODERAVEV_ACQUIRE()
    {
        m_oMutex.lock();
        m_bLocked = true;
    }
    CScopedLock(const CScopedLock&) = delete;
    CScopedLock& operator=(const CScopedLock&) = delete;

private:
    TMutex& m_oMutex;
    bool m_bLocked = true;
};

} // namespace Detail
} // namespace Varnel
} // namespace Qz

#endif
