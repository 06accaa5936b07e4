#ifndef VIDODERAVEV_TOOLS_DEMO_OUTPUTS_H
#define VIDODERAVEV_TOOLS_DEMO_OUTPUTS_H

#include <string>
#include <vector>

#include <boost/noncopyable.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <vidOderavev/Progress/Visualizer.h>

#include "demo/Options.h"

namespace Qz {
namespace Varnel {
namespace Demo {

// The visualizers chosen on the command line, attached to the run's logger.
// Each is known by a name ("the log file output") for the report of a failure.
class COutputs : private boost::noncopyable
{
public:
    // Creates every chosen output with the notification level of the options.
    // An output that cannot be created raises std::runtime_error naming it;
    // the outputs created before are destroyed without their run-time notes.
    explicit COutputs(const SDemoOptions& options);
    ~COutputs();

    void Attach(const boost::shared_ptr<Progress::CLogger>& logger);
    // Clear() on each output (the run-time note), then destroys them (the
    // closing part of each output, joined writer threads). An output that
    // fails to clear is recorded with RequestStop and detached all the same.
    // Raises nothing; safe to call twice.
    void Close();

private:
    struct SOutput
    {
        boost::shared_ptr<Progress::Detail::CVisualizer> m_pVisualizer;
        std::string m_sName;
    };

    template <class TOutput, class... TArguments>
    void _Add(int level, const std::string& name, TArguments&&... arguments);

    std::vector<SOutput> m_oOutputs;
    boost::weak_ptr<Progress::CLogger> m_pLogger;
};

} // namespace Demo
} // namespace Varnel
} // namespace Qz

#endif
