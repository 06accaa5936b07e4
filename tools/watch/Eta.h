#ifndef VIDODERAVEV_TOOLS_WATCH_ETA_H
#define VIDODERAVEV_TOOLS_WATCH_ETA_H

namespace Qz {
namespace Varnel {
namespace Watch {

// Estimates the time remaining of a stream from its percentage over time,
// assuming the rate seen since a base point continues. The base is the start
// of the stream at 0 %; when the percentage falls, the estimate starts again
// from the lower point.
class CEtaEstimator
{
public:
    // Times are seconds on any monotonic clock.
    explicit CEtaEstimator(double startTime);

    void Update(double time, double percentage);
    // False while nothing can be said: no progress yet, or too little time.
    bool GetRemaining(double now, double& seconds) const;

private:
    double m_dBaseTime;
    double m_dBasePercentage = 0.0;
    double m_dLastPercentage = 0.0;
    double m_dLastTime;
};

} // namespace Watch
} // namespace Varnel
} // namespace Qz

#endif
