#ifndef VIDODERAVEV_TOOLS_WATCH_COLLECTOR_H
#define VIDODERAVEV_TOOLS_WATCH_COLLECTOR_H

#include <list>
#include <memory>
#include <string>

#include <boost/noncopyable.hpp>

#include "watch/Listener.h"
#include "watch/SignalPipe.h"
#include "watch/Stream.h"
#include "watch/View.h"

namespace Qz {
namespace Varnel {
namespace Watch {

class CJournalSource;

// The collector's single-threaded poll loop: reads every input as it becomes
// readable, hands the bytes to its stream, drops an input whose stream is
// malformed (and only that one), and gives the view its redraw ticks.
class CCollector : private boost::noncopyable
{
public:
    CCollector(CView& view, CSignalPipe& signals, const std::string& saveDirectory, EEtaMethod etaMethod = EtaMoving);
    ~CCollector();

    // Reads one stream from the descriptor until it ends. A stop signal ends
    // the wait after two seconds, a second one at once, so that a producer
    // stopped by the same Ctrl-C can still send its end.
    // Returns 1 when the stream was malformed, 0 otherwise.
    int RunSingle(int descriptor, const std::string& source);

    // Accepts connections until a stop signal, or until exitAfter streams
    // have ended when exitAfter is positive. A connection that sends nothing
    // for idleTimeout seconds is closed (never when 0). Connections beyond
    // what the descriptor limit leaves room for wait in the listen queue
    // until others end. Returns 0.
    int RunListener(CListener& listener, int exitAfter, double idleTimeout);

    // Follows the journal until a stop signal, or until exitAfter of its
    // streams have ended when exitAfter is positive. Returns 0. Only in
    // builds with the journal.
    int RunJournal(CJournalSource& journal, int exitAfter);

private:
    struct SInput
    {
        int m_nDescriptor;
        bool m_bOwned;
        std::unique_ptr<CStream> m_pStream;
    };

    // Reads once from the input; false when the input is done with.
    bool _Read(SInput& input);
    void _Close(SInput& input);
    // Closes the connections idle for idleTimeout; returns when the next one
    // falls due (0 when none can).
    double _CloseIdle(double now, double idleTimeout);
    int _PollTimeout(double now, double wakeUp) const;
    // After the signal pipe became readable: redraws on a resize; true when
    // the user asked to stop.
    bool _TakeStopSignal();

    CView& m_oView;
    CSignalPipe& m_oSignals;
    std::string m_sSaveDirectory;
    EEtaMethod m_eEtaMethod;
    CLabelRegistry m_oLabels;
    std::list<SInput> m_oInputs;
    int m_nEnded = 0;
    int m_nMalformed = 0;
};

} // namespace Watch
} // namespace Varnel
} // namespace Qz

#endif
