#include "demo/Run.h"

#include <cmath>

#include <boost/format.hpp>

#include "demo/Failure.h"
#include "demo/Interrupt.h"
#include "demo/Layer.h"
#include "demo/Workers.h"

namespace Qz {
namespace Varnel {
namespace Demo {

namespace {

using Progress::CLogger;

const double g_dLoadShare = 0.15;
const double g_dTransformShare = 0.70;
const double g_dWriteShare = 0.15;
const int g_nChunks = 8;
const int g_nBlocksPerChunk = 10;
const int g_nParts = 4;
const int g_nBlocksPerPart = 20;
// Items each worker handles per second of the transform phase.
const double g_dItemsPerSecond = 25.0;

} // namespace

CDemoRun::CDemoRun(const boost::shared_ptr<CLogger>& logger, const SDemoOptions& options)
    : m_pLogger(logger), m_oOptions(options)
{
    const double perWorker = std::ceil(options.m_dDuration * g_dTransformShare * g_dItemsPerSecond);
    m_nItems = static_cast<int>(std::max(4.0, perWorker)) * options.m_nThreads;
}

bool CDemoRun::Run()
{
    try {
        m_pLogger->Message(Progress::VerbosityInfo,
                           (boost::format("Demo run: %1% chunks, %2% items on %3% threads, about %4% s") % g_nChunks %
                            m_nItems % m_oOptions.m_nThreads % m_oOptions.m_dDuration)
                               .str());
        m_pLogger->Message(Progress::VerbosityLog,
                           (boost::format("Settings:\n  duration: %1% s\n  threads: %2%\n  verbosity offset: %3%") %
                            m_oOptions.m_dDuration % m_oOptions.m_nThreads % m_oOptions.m_nVerbosityOffset)
                               .str());
        if (!IsStopRequested())
            _Load();
        if (!IsStopRequested())
            _Transform();
        if (!IsStopRequested())
            _WriteOut();
        if (!IsStopRequested()) {
            m_pLogger->SetText(0, "Demo run: done");
            m_pLogger->Message(Progress::VerbosityInfo, (boost::format("Summary:\n  chunks loaded: %1%\n  items "
                                                                       "transformed: %2%\n  parts written: %3%") %
                                                         g_nChunks % m_nItems % g_nParts)
                                                            .str());
        }
    } catch (...) {
        // The failing output has normally named itself already; this keeps
        // any other error as the reason.
        RequestStop(DescribeCurrentError());
    }
    if (!IsStopRequested())
        return true;
    try {
        m_pLogger->Message(Progress::VerbosityWarning, GetFailure().empty()
                                                           ? "Interrupted: stopped after the current step"
                                                           : "Stopped: " + GetFailure());
    } catch (...) {
        RequestStop(DescribeCurrentError());
    }
    return false;
}

void CDemoRun::_Load()
{
    m_pLogger->SetText(0, "Demo run: loading");
    CLayer phase(m_pLogger, "Loading input", 100.0 * g_dLoadShare, g_nChunks, Progress::LayerClassOther);
    const double pause = m_oOptions.m_dDuration * g_dLoadShare / (g_nChunks * g_nBlocksPerChunk);
    for (int chunk = 1; chunk <= g_nChunks && !IsStopRequested(); ++chunk) {
        const std::string text = (boost::format("Reading chunk %1% of %2%") % chunk % g_nChunks).str();
        // The innermost layer of class 0 is what the file outputs show as the current step.
        CLayer step(m_pLogger, text, 1.0, g_nBlocksPerChunk, Progress::LayerClassStep);
        for (int block = 1; block <= g_nBlocksPerChunk && !IsStopRequested(); ++block) {
            SleepUnlessStopped(pause);
            m_pLogger->IncrementProgress();
            if (block % 5 == 0)
                m_pLogger->Message(Progress::VerbosityTrace, (boost::format("block %1% decoded") % block).str(),
                                   "chunk-" + std::to_string(chunk));
        }
        m_pLogger->Message(Progress::VerbosityDebug,
                           (boost::format("chunk %1%: %2% records") % chunk % (4000 + 37 * chunk)).str(),
                           "chunk-" + std::to_string(chunk));
        if (chunk == 3) {
            // Every level once, so that each output shows how it renders them.
            m_pLogger->Message(Progress::VerbosityFatal, "FATAL messages look like this (simulated; the run goes on)");
            m_pLogger->Message(Progress::VerbosityError, "checksum mismatch in chunk 3, read again (simulated)",
                               "chunk-3");
            m_pLogger->Message(Progress::VerbosityWarning, "chunk 3 is older than the others");
        }
    }
    m_pLogger->Message(Progress::VerbosityInfo, (boost::format("Loaded %1% chunks") % g_nChunks).str());
}

void CDemoRun::_Transform()
{
    m_pLogger->SetText(0, "Demo run: transforming");
    CLayer phase(m_pLogger,
                 (boost::format("Transforming %1% items on %2% threads") % m_nItems % m_oOptions.m_nThreads).str(),
                 100.0 * g_dTransformShare, m_nItems, Progress::LayerClassStep);
    const double secondsPerItem =
        m_oOptions.m_dDuration * g_dTransformShare * m_oOptions.m_nThreads / static_cast<double>(m_nItems);
    const int warnings =
        TransformOnWorkers(m_pLogger, m_nItems, m_oOptions.m_nThreads, secondsPerItem, m_oOptions.m_bTraceLayers);
    if (!IsStopRequested())
        m_pLogger->Message(Progress::VerbosityInfo,
                           (boost::format("Transformed %1% items, %2% warnings") % m_nItems % warnings).str());
}

void CDemoRun::_WriteOut()
{
    m_pLogger->SetText(0, "Demo run: writing");
    CLayer phase(m_pLogger, "Writing results", 100.0 * g_dWriteShare, g_nParts, Progress::LayerClassOther);
    const double pause = m_oOptions.m_dDuration * g_dWriteShare / (g_nParts * g_nBlocksPerPart);
    for (int part = 1; part <= g_nParts && !IsStopRequested(); ++part) {
        const std::string name = (boost::format("results/part-%1%.out") % part).str();
        CLayer step(m_pLogger, "Writing " + name, 1.0, g_nBlocksPerPart, Progress::LayerClassStep);
        for (int block = 1; block <= g_nBlocksPerPart && !IsStopRequested(); ++block) {
            SleepUnlessStopped(pause);
            m_pLogger->IncrementProgress();
        }
        m_pLogger->Message(Progress::VerbosityInfo, (boost::format("written, %1% MB") % (1.5 + 0.25 * part)).str(),
                           name);
    }
}

} // namespace Demo
} // namespace Varnel
} // namespace Qz
