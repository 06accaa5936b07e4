#ifndef VIDODERAVEV_TOOLS_WATCH_ETA_H
#define VIDODERAVEV_TOOLS_WATCH_ETA_H

namespace Qz {
namespace Varnel {
namespace Watch {

enum EEtaMethod
{
    EtaMoving, // the rate of the last quarter minute or so counts most
    EtaAverage // the average rate since the start
};

// Estimates the time remaining of a stream from its percentage over time.
// The moving estimate weighs each interval's rate by its length, and the
// weight of older intervals decays with a time constant of 15 s, so that a
// computation that slows down or speeds up is followed within a minute. Its
// sum of weights is kept as well, and the average divided by it, so that the
// first estimates are not pulled towards zero by the empty history (as a
// plain exponential average starting at zero would be). The average estimate
// assumes the rate seen since the start continues. Either starts again from
// the lower point when the percentage falls.
class CEtaEstimator
{
public:
    // Times are seconds on any monotonic clock.
    explicit CEtaEstimator(double startTime, EEtaMethod method = EtaMoving);

    void Update(double time, double percentage);
    // False while nothing can be said: no progress yet, or too little time.
    bool GetRemaining(double now, double& seconds) const;
    // When the percentage last changed, or the start.
    double GetLastChange() const { return m_dLastChange; }

    static const double s_dTimeConstant;

private:
    EEtaMethod m_eMethod;
    double m_dBaseTime;
    double m_dBasePercentage = 0.0;
    double m_dLastPercentage = 0.0;
    double m_dLastTime;
    double m_dLastChange;
    // The moving average up to the end of its last interval, and as it was
    // before that interval.
    struct SMoving
    {
        double m_dTime;
        double m_dPercentage;
        double m_dWeightedRate;
        double m_dWeight;
    };
    void _Fold(double time, double percentage);

    SMoving m_oCurrent;
    SMoving m_oPrevious;
};

} // namespace Watch
} // namespace Varnel
} // namespace Qz

#endif
