#ifndef VIDODERAVEV_TOOLS_WATCH_SIGNALPIPE_H
#define VIDODERAVEV_TOOLS_WATCH_SIGNALPIPE_H

#include <boost/noncopyable.hpp>

namespace Qz {
namespace Varnel {
namespace Watch {

// Turns SIGINT, SIGTERM, SIGHUP and SIGWINCH into bytes on a pipe that the
// poll loop watches, so that no signal is lost between a check and poll().
// SIGPIPE is ignored: a reader that went away shows up as a failed write.
class CSignalPipe : private boost::noncopyable
{
public:
    enum ESignal
    {
        SignalNone,
        SignalStop,
        SignalResize
    };

    CSignalPipe();
    ~CSignalPipe();

    int GetDescriptor() const;
    // Takes one pending signal off the pipe; SignalNone when none is pending.
    ESignal Take();
};

} // namespace Watch
} // namespace Varnel
} // namespace Qz

#endif
