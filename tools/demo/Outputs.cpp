#include "demo/Outputs.h"

#include <stdexcept>
#include <utility>

#include <vidOderavev/Progress/StdoutVisualizer.h>
#include <vidOderavev/Progress/ZevVisualizer.h>
#include <vidOderavev/Progress/SimpleFileVisualizer.h>
#include <vidOderavev/Progress/DateFileVisualizer.h>
#include <vidOderavev/Progress/BufferedProgressFileVisualizer.h>
#include <vidOderavev/Progress/SocketVisualizer.h>
#ifdef VIDODERAVEV_HAS_JOURNAL
#include <vidOderavev/Progress/JournalVisualizer.h>
#endif
#include <vidOderavev/Progress/SyslogVisualizer.h>

#include "demo/Failure.h"
#include "demo/Interrupt.h"
#include "demo/NamedOutput.h"

namespace Qz {
namespace Varnel {
namespace Demo {

COutputs::COutputs(const SDemoOptions& options)
{
    using namespace Progress;
    const int level = options.m_nLevel;
    if (options.m_bXml)
        _Add<CStdoutVisualizer>(level, "the XML output");
    if (options.m_bConsole)
        _Add<CZevVisualizer>(level, "the console output");
    if (!options.m_sLog.empty())
        _Add<CSimpleFileVisualizer>(level, "the log file output", options.m_sLog);
    if (!options.m_sDatedLog.empty())
        _Add<CDateFileVisualizer>(level, "the dated log file output", options.m_sDatedLog);
    if (options.m_bBuffered)
        _Add<CBufferedProgressFileVisualizer>(level, "the buffered file output", options.m_sBufferedDirectory,
                                              options.m_sBufferedStem, options.m_bDated);
    for (const SNetTarget& target : options.m_oNet)
        _Add<CNetVisualizer>(level, "the network output to " + target.m_sHost + ":" + std::to_string(target.m_nPort),
                             target.m_sHost, target.m_nPort);
#ifdef VIDODERAVEV_HAS_JOURNAL
    if (options.m_bJournal)
        _Add<CJournalVisualizer>(level, "the journal output", options.m_sJournalIdentifier);
#endif
    if (!options.m_sSyslogTransport.empty()) {
        const std::string& kind = options.m_sSyslogTransport;
        const ESyslogTransport transport = kind == "udp" ? eSyslogUdp : kind == "tcp" ? eSyslogTcp : eSyslogLocal;
        _Add<CSyslogVisualizer>(level, "the syslog output to " + kind + ":" + options.m_oSyslog.m_sHost, transport,
                                options.m_oSyslog.m_sHost, options.m_oSyslog.m_nPort);
    }
}

COutputs::~COutputs() { Close(); }

template <class TOutput, class... TArguments>
void COutputs::_Add(int level, const std::string& name, TArguments&&... arguments)
{
    SOutput output;
    output.m_sName = name;
    try {
        output.m_pVisualizer.reset(new CNamedOutput<TOutput>(name, std::forward<TArguments>(arguments)...));
    } catch (...) {
        throw std::runtime_error(name + " failed: " + DescribeCurrentError());
    }
    // Set before the logger is added, so that a level below INFO also keeps
    // the "Startup" note out.
    output.m_pVisualizer->SetNotificationLevel(static_cast<Progress::_EVerbosityLevel>(level));
    m_oOutputs.push_back(output);
}

void COutputs::Attach(const boost::shared_ptr<Progress::CLogger>& logger)
{
    m_pLogger = logger;
    for (const SOutput& output : m_oOutputs)
        output.m_pVisualizer->AddLogger(logger);
}

void COutputs::Close()
{
    const boost::shared_ptr<Progress::CLogger> logger = m_pLogger.lock();
    for (const SOutput& output : m_oOutputs) {
        // One output that fails to close must not keep the others open.
        try {
            output.m_pVisualizer->Clear();
        } catch (...) {
            RequestStop(output.m_sName + " failed: " + DescribeCurrentError());
            // Clear raised before it let go of the logger: without this the
            // two would keep each other alive and the output never closes.
            if (logger)
                logger->RemoveVisualizer(output.m_pVisualizer);
        }
    }
    // Destroyed in the order created; each writes its closing part here.
    while (!m_oOutputs.empty())
        m_oOutputs.erase(m_oOutputs.begin());
}

} // namespace Demo
} // namespace Varnel
} // namespace Qz
