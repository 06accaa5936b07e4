#ifndef VIDODERAVEV_PROGRESS_WRITERTHREAD_H
#define VIDODERAVEV_PROGRESS_WRITERTHREAD_H

#include <atomic>
#include <functional>

#include <boost/thread/thread.hpp>

#include <vidOderavev/Export.h>

namespace Qz {
namespace Varnel {
namespace Progress {
namespace Detail {

// A background writer of the buffered outputs. It polls every 100 ms instead
// of waiting on a condition, so that a reporting thread never has to wake
// anybody: it only hands its data over under a mutex and goes on. A pass that
// found much to write asks for the next one after 0.1 ms: under a flood the
// batches stay small enough for their entries to be reused.
class VIDODERAVEV_API CWriterThread
{
public:
    CWriterThread();
    // Stops the thread if the owner has not.
    ~CWriterThread();
    CWriterThread(const CWriterThread&) = delete;
    CWriterThread& operator=(const CWriterThread&) = delete;

    // Starts the thread on body, which is to call Run. The owner starts it
    // last in its constructor, when everything the thread touches exists.
    void Start(const std::function<void()>& body);

    // The loop, on the writer thread: every 100 ms (0.1 ms after a pass that
    // returned true) a pass that writes what was handed over; after Stop() one last pass, so that everything handed
    // over before Stop() was called is written, then finish. The thread is
    // unattended (a fail handler asks nobody on it), and nothing that a pass
    // or finish raises ends it: they handle their own errors, what is left is
    // dropped.
    void Run(const std::function<bool()>& pass, const std::function<void()>& finish);

    // Lets the last pass run and joins the thread. Not on the writer thread
    // itself: joining itself is refused by the threading library.
    void Stop();

private:
    std::atomic<bool> m_bStop;
    boost::thread m_oThread;
};

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz

#endif
