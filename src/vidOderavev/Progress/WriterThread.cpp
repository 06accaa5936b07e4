#include <vidOderavev/Progress/WriterThread.h>

#include <unistd.h>

#include <vidOderavev/Companion/FailHandler.h>

namespace Qz {
namespace Varnel {
namespace Progress {
namespace Detail {

namespace {

const useconds_t g_nPollInterval = 100000;
const useconds_t g_nBusyPollInterval = 100;

template <class TWork> bool RunQuietly(const TWork& work)
{
    try {
        return work();
    } catch (...) {
        return false;
    }
}

} // namespace

CWriterThread::CWriterThread() : m_bStop(false) {}

CWriterThread::~CWriterThread() { Stop(); }

void CWriterThread::Start(const std::function<void()>& body) { m_oThread = boost::thread(body); }

void CWriterThread::Run(const std::function<bool()>& pass, const std::function<void()>& finish)
{
    // Nobody waits on this thread for a retry dialogue.
    const Fileio::CUnattendedThreadScope unattended;
    bool busy = false;
    for (;;) {
        ::usleep(busy ? g_nBusyPollInterval : g_nPollInterval);
        // Read before the pass: whatever was handed over before Stop() set
        // the flag is then seen by this pass, which is the last.
        const bool last = m_bStop.load();
        busy = RunQuietly(pass);
        if (last)
            break;
    }
    RunQuietly([&finish] {
        finish();
        return true;
    });
}

void CWriterThread::Stop()
{
    m_bStop.store(true);
    if (m_oThread.joinable())
        m_oThread.join();
}

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz
