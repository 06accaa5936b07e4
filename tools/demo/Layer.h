#ifndef VIDODERAVEV_TOOLS_DEMO_LAYER_H
#define VIDODERAVEV_TOOLS_DEMO_LAYER_H

#include <string>

#include <boost/noncopyable.hpp>
#include <boost/shared_ptr.hpp>

#include <vidOderavev/Progress/Logger.h>

namespace Qz {
namespace Varnel {
namespace Demo {

// One phase or step: pushed on construction, popped (completed) at the end of
// the scope. After a stop request the layer is left on the stack, so that the
// outputs keep showing how far the run really got.
class CLayer : private boost::noncopyable
{
public:
    CLayer(const boost::shared_ptr<Progress::CLogger>& logger, const std::string& text, double parentQuota,
           double maxValue, Progress::ELayerClass layerClass);
    ~CLayer();

private:
    boost::shared_ptr<Progress::CLogger> m_pLogger;
};

// Sleeps for the given time, in slices, returning early after a stop request.
void SleepUnlessStopped(double seconds);

} // namespace Demo
} // namespace Varnel
} // namespace Qz

#endif
