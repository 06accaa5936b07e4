#ifndef VIDODERAVEV_TOOLS_WATCH_DESCRIPTORBUDGET_H
#define VIDODERAVEV_TOOLS_WATCH_DESCRIPTORBUDGET_H

#include <cstddef>

namespace Qz {
namespace Varnel {
namespace Watch {

// How many connections fit into the process's descriptor limit at once when
// each holds perConnection descriptors and spare descriptors must stay free
// for everything else the process opens. At least 1; 0 when the limit or the
// descriptors in use cannot be learned, and then only the limit itself stops
// accepting.
std::size_t CountConnectionSlots(std::size_t perConnection, std::size_t spare);

} // namespace Watch
} // namespace Varnel
} // namespace Qz

#endif
