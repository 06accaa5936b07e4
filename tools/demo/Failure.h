#ifndef VIDODERAVEV_TOOLS_DEMO_FAILURE_H
#define VIDODERAVEV_TOOLS_DEMO_FAILURE_H

#include <string>

namespace Qz {
namespace Varnel {
namespace Demo {

// Describes the exception being handled; only to be called inside a catch
// block. The file errors of the library are no std::exception, so they are
// described by their first record and the system's text for its error code.
std::string DescribeCurrentError();

} // namespace Demo
} // namespace Varnel
} // namespace Qz

#endif
