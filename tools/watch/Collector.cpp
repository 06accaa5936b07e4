#include "watch/Collector.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include <poll.h>
#include <unistd.h>

#include "watch/DescriptorBudget.h"
#include "watch/PlainView.h"

namespace Qz {
namespace Varnel {
namespace Watch {

namespace {

const std::size_t g_nReadSize = 1 << 16;
// After a stop signal, how long a single input may still deliver its end.
const double g_dStopGrace = 2.0;
// How long accepting pauses when the process has run out of descriptors.
const double g_dAcceptPause = 1.0;
// Descriptors that connections never take: the C library, a terminal, and a
// sanitizer runtime (which probes memory through a pipe while it reports)
// need a few of their own at any time.
const std::size_t g_nSpareDescriptors = 8;

} // namespace

CCollector::CCollector(CView& view, CSignalPipe& signals, const std::string& saveDirectory, EEtaMethod etaMethod)
    : m_oView(view), m_oSignals(signals), m_sSaveDirectory(saveDirectory), m_eEtaMethod(etaMethod)
{
}

CCollector::~CCollector()
{
    for (SInput& input : m_oInputs)
        if (input.m_bOwned)
            ::close(input.m_nDescriptor);
}

bool CCollector::_TakeStopSignal()
{
    const CSignalPipe::ESignal signal = m_oSignals.Take();
    if (signal == CSignalPipe::SignalResize)
        m_oView.Resize();
    return signal == CSignalPipe::SignalStop;
}

int CCollector::_PollTimeout(double now, double wakeUp) const
{
    double wait = m_oView.NextDeadline(now);
    if (wakeUp > 0.0 && (wait < 0.0 || wakeUp - now < wait))
        wait = std::max(0.0, wakeUp - now);
    return wait < 0.0 ? -1 : static_cast<int>(std::ceil(wait * 1000.0));
}

bool CCollector::_Read(SInput& input)
{
    std::vector<char> buffer(g_nReadSize);
    const ssize_t count = ::read(input.m_nDescriptor, buffer.data(), buffer.size());
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return true;
    if (count > 0) {
        if (input.m_pStream->Receive(buffer.data(), static_cast<std::size_t>(count), MonotonicNow()))
            return true;
        ++m_nMalformed;
        return false;
    }
    // End of input, or an error such as a reset connection: either way
    // nothing more will come.
    input.m_pStream->EndOfInput(MonotonicNow());
    return false;
}

void CCollector::_Close(SInput& input)
{
    ++m_nEnded;
    if (input.m_bOwned)
        ::close(input.m_nDescriptor);
    input.m_nDescriptor = -1;
}

int CCollector::RunSingle(int descriptor, const std::string& source)
{
    m_oInputs.push_back(SInput{descriptor, false, nullptr});
    SInput& input = m_oInputs.back();
    input.m_pStream.reset(new CStream(source, m_sSaveDirectory, m_oLabels, m_oView, MonotonicNow(), m_eEtaMethod));
    double stopAt = 0.0;
    bool open = true;
    while (open) {
        pollfd descriptors[2] = {{m_oSignals.GetDescriptor(), POLLIN, 0}, {descriptor, POLLIN, 0}};
        const int ready = ::poll(descriptors, 2, _PollTimeout(MonotonicNow(), stopAt));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready > 0 && (descriptors[0].revents & POLLIN) && _TakeStopSignal()) {
            if (stopAt > 0.0)
                break;
            stopAt = MonotonicNow() + g_dStopGrace;
        }
        if (ready > 0 && (descriptors[1].revents & (POLLIN | POLLHUP | POLLERR)))
            open = _Read(input);
        if (ready > 0 && (descriptors[1].revents & POLLNVAL)) {
            input.m_pStream->EndOfInput(MonotonicNow());
            open = false;
        }
        const double now = MonotonicNow();
        m_oView.Tick(now);
        if ((stopAt > 0.0 && now >= stopAt) || m_oView.IsOutputGone())
            break;
    }
    m_oView.Finish(MonotonicNow());
    return m_nMalformed > 0 ? 1 : 0;
}

double CCollector::_CloseIdle(double now, double idleTimeout)
{
    double next = 0.0;
    if (idleTimeout <= 0.0)
        return next;
    for (auto it = m_oInputs.begin(); it != m_oInputs.end();) {
        const double due = it->m_pStream->GetLastInput() + idleTimeout;
        if (now >= due) {
            it->m_pStream->TimeOut(now, idleTimeout);
            _Close(*it);
            it = m_oInputs.erase(it);
            continue;
        }
        if (next == 0.0 || due < next)
            next = due;
        ++it;
    }
    return next;
}

int CCollector::RunListener(CListener& listener, int exitAfter, double idleTimeout)
{
    // Each connection holds its socket and, while it is saved, its file. A
    // connection accepted into the last free descriptor would leave its own
    // save file, and everything else, without one.
    const std::size_t slots = CountConnectionSlots(m_sSaveDirectory.empty() ? 1 : 2, g_nSpareDescriptors);
    double idleDue = 0.0;
    double acceptPausedUntil = 0.0;
    bool reportedDescriptorShortage = false;
    const auto reportShortage = [&](int errorNumber) {
        if (!reportedDescriptorShortage)
            m_oView.OnNotice(std::string("cannot accept more connections: ") + std::strerror(errorNumber));
        reportedDescriptorShortage = true;
    };
    for (;;) {
        std::vector<pollfd> descriptors;
        descriptors.push_back(pollfd{m_oSignals.GetDescriptor(), POLLIN, 0});
        // A waiting connection stays readable: with every slot taken the
        // listener is watched only until that has been reported, and at the
        // descriptor limit it sleeps until the pause ends, instead of spinning.
        const bool paused = MonotonicNow() < acceptPausedUntil;
        const bool full = slots > 0 && m_oInputs.size() >= slots;
        const bool accepting = !paused && (!full || !reportedDescriptorShortage);
        descriptors.push_back(pollfd{accepting ? listener.GetDescriptor() : -1, POLLIN, 0});
        for (const SInput& input : m_oInputs)
            descriptors.push_back(pollfd{input.m_nDescriptor, POLLIN, 0});
        double wakeUp = paused ? acceptPausedUntil : 0.0;
        if (idleDue > 0.0 && (wakeUp == 0.0 || idleDue < wakeUp))
            wakeUp = idleDue;
        const int ready = ::poll(descriptors.data(), descriptors.size(), _PollTimeout(MonotonicNow(), wakeUp));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready > 0 && (descriptors[0].revents & POLLIN) && _TakeStopSignal())
            break;
        // Inputs first, in the order polled; new connections join afterwards.
        std::size_t index = 2;
        for (auto it = m_oInputs.begin(); it != m_oInputs.end(); ++index) {
            if (ready > 0 && (descriptors[index].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) && !_Read(*it)) {
                _Close(*it);
                it = m_oInputs.erase(it);
            } else
                ++it;
        }
        if (ready > 0 && accepting && (descriptors[1].revents & POLLIN)) {
            for (;;) {
                if (slots > 0 && m_oInputs.size() >= slots) {
                    // Readable although every slot was taken when polled: a
                    // connection is waiting. Slots that filled just now are
                    // reported when the next poll finds one waiting.
                    if (full)
                        reportShortage(EMFILE);
                    break;
                }
                std::string peer;
                int errorNumber = 0;
                const int descriptor = listener.Accept(peer, errorNumber);
                if (descriptor < 0) {
                    if (errorNumber == EMFILE || errorNumber == ENFILE || errorNumber == ENOBUFS ||
                        errorNumber == ENOMEM) {
                        acceptPausedUntil = MonotonicNow() + g_dAcceptPause;
                        reportShortage(errorNumber);
                    }
                    break;
                }
                m_oInputs.push_back(SInput{descriptor, true, nullptr});
                m_oInputs.back().m_pStream.reset(
                    new CStream(peer, m_sSaveDirectory, m_oLabels, m_oView, MonotonicNow(), m_eEtaMethod));
            }
        }
        idleDue = _CloseIdle(MonotonicNow(), idleTimeout);
        m_oView.Tick(MonotonicNow());
        if ((exitAfter > 0 && m_nEnded >= exitAfter) || m_oView.IsOutputGone())
            break;
    }
    m_oView.Finish(MonotonicNow());
    return 0;
}

} // namespace Watch
} // namespace Varnel
} // namespace Qz
