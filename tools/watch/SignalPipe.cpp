#include "watch/SignalPipe.h"

#include <cerrno>
#include <csignal>
#include <initializer_list>

#include <fcntl.h>
#include <unistd.h>

namespace Qz {
namespace Varnel {
namespace Watch {

namespace {

int g_anPipe[2] = {-1, -1};

extern "C" void OnSignal(int signalNumber)
{
    const int savedErrno = errno;
    const char byte = signalNumber == SIGWINCH ? 'W' : 'S';
    // A full pipe already holds a pending wake-up; dropping this byte is fine.
    const ssize_t ignored = ::write(g_anPipe[1], &byte, 1);
    (void)ignored;
    errno = savedErrno;
}

} // namespace

CSignalPipe::CSignalPipe()
{
    if (::pipe2(g_anPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        g_anPipe[0] = g_anPipe[1] = -1;
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGWINCH})
        ::sigaction(signalNumber, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

CSignalPipe::~CSignalPipe()
{
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGWINCH})
        std::signal(signalNumber, SIG_DFL);
    for (int& descriptor : g_anPipe) {
        if (descriptor >= 0)
            ::close(descriptor);
        descriptor = -1;
    }
}

int CSignalPipe::GetDescriptor() const { return g_anPipe[0]; }

CSignalPipe::ESignal CSignalPipe::Take()
{
    char byte = 0;
    if (g_anPipe[0] < 0 || ::read(g_anPipe[0], &byte, 1) != 1)
        return SignalNone;
    return byte == 'W' ? SignalResize : SignalStop;
}

} // namespace Watch
} // namespace Varnel
} // namespace Qz
