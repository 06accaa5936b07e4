#ifndef VIDODERAVEV_TOOLS_DEMO_OUTPUTS_H
#define VIDODERAVEV_TOOLS_DEMO_OUTPUTS_H

#include <vector>

#include <boost/noncopyable.hpp>
#include <boost/shared_ptr.hpp>

#include <vidOderavev/Progress/Visualizer.h>

#include "demo/Options.h"

namespace Qz {
namespace Varnel {
namespace Demo {

// The visualizers chosen on the command line, attached to the run's logger.
class COutputs : private boost::noncopyable
{
public:
    // Creates every chosen output with the notification level of the options.
    // Throws what a visualizer's constructor throws (a file that cannot be
    // opened); outputs created before stay attached and are closed by Close().
    explicit COutputs(const SDemoOptions& options);
    ~COutputs();

    void Attach(const boost::shared_ptr<Progress::CLogger>& logger);
    // Clear() on each output (the run-time note), then destroys them (the
    // closing part of each output, joined writer threads). Safe to call twice.
    void Close();

private:
    void _Add(const boost::shared_ptr<Progress::Detail::CVisualizer>& visualizer, int level);

    std::vector<boost::shared_ptr<Progress::Detail::CVisualizer>> m_oVisualizers;
};

} // namespace Demo
} // namespace Varnel
} // namespace Qz

#endif
