#ifndef VIDODERAVEV_TOOLS_DEMO_RUN_H
#define VIDODERAVEV_TOOLS_DEMO_RUN_H

#include <boost/shared_ptr.hpp>

#include <vidOderavev/Progress/Logger.h>

#include "demo/Options.h"

namespace Qz {
namespace Varnel {
namespace Demo {

// The simulated computation: load (15 % of the root), a transform of many
// items on worker threads (70 %) and write-out (15 %), each phase with its
// own layers, texts and messages at every level.
class CDemoRun
{
public:
    CDemoRun(const boost::shared_ptr<Progress::CLogger>& logger, const SDemoOptions& options);

    // Runs all phases; returns false when a stop was requested on the way or
    // an output raised (recorded with RequestStop). Ends with a warning that
    // says why it stopped. Raises nothing.
    bool Run();

private:
    void _Load();
    void _Transform();
    void _WriteOut();

    boost::shared_ptr<Progress::CLogger> m_pLogger;
    const SDemoOptions& m_oOptions;
    int m_nItems;
};

} // namespace Demo
} // namespace Varnel
} // namespace Qz

#endif
