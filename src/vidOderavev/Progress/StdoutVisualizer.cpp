#include <vidOderavev/Progress/StdoutVisualizer.h>

#include <iostream>

#include <vidOderavev/Progress/XmlLogStream.h>

namespace Qz {
namespace Varnel {
namespace Progress {

CStdoutVisualizer::CStdoutVisualizer() : m_dLastFraction(0.0)
{
    // Not flushed: the prologue leaves with the first record.
    std::cout << Detail::g_acXmlDeclaration << Detail::g_acXmlStreamStart;
}

CStdoutVisualizer::~CStdoutVisualizer() { std::cout << Detail::g_acXmlStreamEnd << std::endl; }

void CStdoutVisualizer::_ShowMessage(const std::string& text, _EVerbosityLevel level, const std::string& timeStamp,
                                     const std::string& taskId)
{
    m_sRecord.clear();
    Detail::AppendXmlLogRecord(m_sRecord, _GetLevel(level), timeStamp, std::string(), taskId, text);
    std::cout << m_sRecord << std::endl;
}

void CStdoutVisualizer::_ProgressChanged(const boost::shared_ptr<CLogger>&)
{
    if (m_oLoggers.empty())
        return;
    const boost::shared_ptr<CLogger> first = m_oLoggers.front();
    // A local buffer: the getters may re-enter this hook on the same thread.
    std::string record;
    if (Detail::AppendXmlProgressRecord(record, first, std::string(), m_dLastFraction, m_sLastRootText))
        std::cout << record << std::endl;
}

} // namespace Progress
} // namespace Varnel
} // namespace Qz
