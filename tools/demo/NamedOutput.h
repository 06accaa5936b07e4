#ifndef VIDODERAVEV_TOOLS_DEMO_NAMEDOUTPUT_H
#define VIDODERAVEV_TOOLS_DEMO_NAMEDOUTPUT_H

#include <atomic>
#include <string>
#include <utility>

#include <boost/shared_ptr.hpp>

#include <vidOderavev/Progress/Logger.h>

#include "demo/Failure.h"
#include "demo/Interrupt.h"

namespace Qz {
namespace Varnel {
namespace Demo {

// One of the library's outputs under the name the user knows it by ("the log
// file output"). An error
// raised by the output is only known to the logger call that happened to
// trigger it, on whatever thread; so the output itself records, once, which
// output failed and stops the run, then lets the error go on to that call.
// After that the output stays silent: the notes that end the run and its
// clearing reach the other outputs without raising again.
template <class TOutput>
class CNamedOutput : public TOutput
{
public:
    template <class... TArguments>
    explicit CNamedOutput(const std::string& name, TArguments&&... arguments)
        : TOutput(std::forward<TArguments>(arguments)...), m_sName(name), m_bFailed(false)
    {
    }

protected:
    void _LoggerChanged(const boost::shared_ptr<Progress::CLogger>& logger) override
        VIDODERAVEV_REQUIRES(this->m_oMutex)
    {
        if (m_bFailed.load())
            return;
        try {
            TOutput::_LoggerChanged(logger);
        } catch (...) {
            ReportFailure();
            throw;
        }
    }

    void _TextChanged(const boost::shared_ptr<Progress::CLogger>& logger) override
        VIDODERAVEV_REQUIRES(this->m_oMutex)
    {
        if (m_bFailed.load())
            return;
        try {
            TOutput::_TextChanged(logger);
        } catch (...) {
            ReportFailure();
            throw;
        }
    }

    void _ProgressChanged(const boost::shared_ptr<Progress::CLogger>& logger) override
        VIDODERAVEV_REQUIRES(this->m_oMutex)
    {
        if (m_bFailed.load())
            return;
        try {
            TOutput::_ProgressChanged(logger);
        } catch (...) {
            ReportFailure();
            throw;
        }
    }

    // Every message passes here, also those of outputs that queue them.
    void _ShowMessageUnlocked(const std::string& text, Progress::_EVerbosityLevel level, const std::string& timeStamp,
                              const std::string& taskId) override
    {
        if (m_bFailed.load())
            return;
        try {
            TOutput::_ShowMessageUnlocked(text, level, timeStamp, taskId);
        } catch (...) {
            ReportFailure();
            throw;
        }
    }

private:
    // To be called inside a catch block.
    void ReportFailure()
    {
        if (!m_bFailed.exchange(true))
            RequestStop(m_sName + " failed: " + DescribeCurrentError());
    }

    const std::string m_sName;
    std::atomic<bool> m_bFailed;
};

} // namespace Demo
} // namespace Varnel
} // namespace Qz

#endif
