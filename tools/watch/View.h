#ifndef VIDODERAVEV_TOOLS_WATCH_VIEW_H
#define VIDODERAVEV_TOOLS_WATCH_VIEW_H

#include "watch/Stream.h"

namespace Qz {
namespace Varnel {
namespace Watch {

// A way of showing the streams: plain lines or a redrawn terminal screen.
class CView : public CStreamObserver
{
public:
    // Called by the event loop at least at the time that NextDeadline named.
    virtual void Tick(double now) { (void)now; }
    // Seconds until the view wants its next Tick; negative when it needs none.
    virtual double NextDeadline(double now) const
    {
        (void)now;
        return -1.0;
    }
    // The terminal changed its size.
    virtual void Resize() {}
    // The collector stops; the view leaves the screen as it should stay.
    virtual void Finish(double now) { (void)now; }
    // True once nobody reads the output any more (a closed pipe): the
    // collector then stops.
    virtual bool IsOutputGone() const { return false; }
};

} // namespace Watch
} // namespace Varnel
} // namespace Qz

#endif
