#ifndef VIDODERAVEV_TOOLS_DEMO_WORKERS_H
#define VIDODERAVEV_TOOLS_DEMO_WORKERS_H

#include <boost/shared_ptr.hpp>

#include <vidOderavev/Progress/Logger.h>

namespace Qz {
namespace Varnel {
namespace Demo {

// Transforms items on worker threads. Each worker reports through a child
// logger of its own, attached to the parent for the whole phase, so that its
// progress flows into the parent's top layer and its messages reach the
// parent's outputs with the item as task identifier.
//
// The parent's top layer must have max value equal to the number of items and
// must stay on top until the call returns. Returns the number of warnings
// sent. A failure on a worker stops the run (RequestStop).
int TransformOnWorkers(const boost::shared_ptr<Progress::CLogger>& parent, int items, int threads,
                       double secondsPerItem, bool traceLayers);

} // namespace Demo
} // namespace Varnel
} // namespace Qz

#endif
