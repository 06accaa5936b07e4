#ifndef VIDODERAVEV_TOOLS_DEMO_INTERRUPT_H
#define VIDODERAVEV_TOOLS_DEMO_INTERRUPT_H

#include <string>

namespace Qz {
namespace Varnel {
namespace Demo {

// The first SIGINT, SIGTERM or SIGHUP asks the run to stop after its current step;
// a second one ends the process at once. SIGPIPE is ignored, so that a reader
// of standard output that goes away does not kill the run before its outputs
// are closed.
void InstallInterruptHandlers();
bool IsStopRequested();
// For the run itself, when an output failed: stops the run and keeps the
// first reason for the exit report.
void RequestStop(const std::string& failure);
// The same for a failure that is not reported on standard error (the reader
// of standard output went away); it still makes the run fail.
void RequestQuietStop(const std::string& failure);
// The first failure given to either, or empty: why the run stopped.
std::string GetFailure();
// The first failure given to RequestStop, or empty: what to report.
std::string GetFailureReport();

} // namespace Demo
} // namespace Varnel
} // namespace Qz

#endif
