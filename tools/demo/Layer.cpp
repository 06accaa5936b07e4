#include "demo/Layer.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>

#include "demo/Failure.h"
#include "demo/Interrupt.h"

namespace Qz {
namespace Varnel {
namespace Demo {

CLayer::CLayer(const boost::shared_ptr<Progress::CLogger>& logger, const std::string& text, double parentQuota,
               double maxValue, Progress::ELayerClass layerClass)
    : m_pLogger(logger)
{
    m_pLogger->Push(text, parentQuota, maxValue, 0.0, false, layerClass);
}

CLayer::~CLayer()
{
    if (IsStopRequested() || std::uncaught_exceptions() > 0)
        return;
    try {
        m_pLogger->Pop();
    } catch (...) {
        // A destructor must not throw: the run stops and reports it instead.
        RequestStop(DescribeCurrentError());
    }
}

void SleepUnlessStopped(double seconds)
{
    typedef std::chrono::steady_clock TClock;
    const TClock::time_point end =
        TClock::now() + std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(seconds));
    const TClock::duration slice = std::chrono::milliseconds(50);
    while (!IsStopRequested()) {
        const TClock::time_point now = TClock::now();
        if (now >= end)
            return;
        std::this_thread::sleep_for(std::min<TClock::duration>(end - now, slice));
    }
}

} // namespace Demo
} // namespace Varnel
} // namespace Qz
