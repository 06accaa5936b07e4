#include "watch/JsonView.h"

#include "watch/JsonRecord.h"
#include "watch/PlainView.h"
#include "watch/Text.h"

namespace Qz {
namespace Varnel {
namespace Watch {

CJsonView::CJsonView(std::FILE* output, std::FILE* errors, const CMessageFilter& filter)
    : m_pOutput(output), m_pErrors(errors), m_oFilter(filter)
{
}

void CJsonView::OnStreamStarted(const CStream&) {}

void CJsonView::OnLog(const CStream& stream, const SLogRecord& record)
{
    if (m_oFilter.Accepts(record))
        _Write(FormatJsonLog(stream, record));
}

void CJsonView::OnProgress(const CStream& stream, const SProgressRecord& record)
{
    if (!record.IsEpilogue())
        _Write(FormatJsonProgress(stream, MonotonicNow()));
}

void CJsonView::OnStreamEnded(const CStream& stream) { _Write(FormatJsonEnd(stream)); }

void CJsonView::OnNotice(const std::string& text)
{
    std::fprintf(m_pErrors, "vidoderavev-watch: %s\n", MakePrintable(text).c_str());
    std::fflush(m_pErrors);
}

void CJsonView::_Write(const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), m_pOutput);
    std::fputc('\n', m_pOutput);
    if (std::fflush(m_pOutput) != 0)
        m_bOutputGone = true;
}

} // namespace Watch
} // namespace Varnel
} // namespace Qz
