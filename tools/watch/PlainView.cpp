#include "watch/PlainView.h"

#include <chrono>

#include "watch/Text.h"

namespace Qz {
namespace Varnel {
namespace Watch {

double MonotonicNow()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

CLineView::CLineView(std::FILE* output, std::FILE* errors, const CMessageFilter& filter, const SFormats& formats)
    : m_pOutput(output), m_pErrors(errors), m_oFilter(filter), m_oFormats(formats)
{
}

void CLineView::OnStreamStarted(const CStream&) {}

void CLineView::OnLog(const CStream& stream, const SLogRecord& record)
{
    if (m_oFilter.Accepts(record))
        _Write(m_oFormats.m_pLog(stream, record));
}

void CLineView::OnProgress(const CStream& stream, const SProgressRecord& record)
{
    if (!record.IsEpilogue())
        _Write(m_oFormats.m_pProgress(stream, MonotonicNow()));
}

void CLineView::OnStreamEnded(const CStream& stream) { _Write(m_oFormats.m_pEnd(stream)); }

void CLineView::OnNotice(const std::string& text)
{
    std::fprintf(m_pErrors, "vidoderavev-watch: %s\n", MakePrintable(text).c_str());
    std::fflush(m_pErrors);
}

void CLineView::_Write(const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), m_pOutput);
    std::fputc('\n', m_pOutput);
    if (std::fflush(m_pOutput) != 0)
        m_bOutputGone = true;
}

CPlainView::CPlainView(std::FILE* output, std::FILE* errors, const CMessageFilter& filter)
    : CLineView(output, errors, filter, {&FormatLog, &FormatProgress, &FormatEnd})
{
}

std::string CPlainView::FormatLog(const CStream& stream, const SLogRecord& record)
{
    std::string line = MakePrintable(stream.GetLabel()) + " " + MakePrintable(record.m_sTime) + " " +
                       MakePrintable(record.m_sType) + ": ";
    if (!record.m_sTaskId.empty())
        line += "[" + MakePrintable(record.m_sTaskId) + "] ";
    return line + MakePrintable(record.m_sText);
}

std::string CPlainView::FormatProgress(const CStream& stream, double now)
{
    std::string line =
        MakePrintable(stream.GetLabel()) + " PROGRESS " + MakePrintable(stream.GetPercentageText()) + "%";
    double eta = 0.0;
    if (stream.IsStalled(now))
        line += " [stalled]";
    else if (stream.GetEta(now, eta))
        line += " [ETA " + FormatEta(eta) + "]";
    if (!stream.GetRootText().empty())
        line += " " + MakePrintable(stream.GetRootText());
    return line;
}

std::string CPlainView::FormatEnd(const CStream& stream) { return FormatState(stream) + FormatSaveNote(stream); }

std::string CPlainView::FormatSaveNote(const CStream& stream)
{
    return stream.IsSaveIncomplete() ? " (saved copy incomplete: " + MakePrintable(stream.GetSavePath()) + ")" : "";
}

std::string CPlainView::FormatState(const CStream& stream)
{
    const std::string label = MakePrintable(stream.GetLabel());
    const SStreamPosition& position = stream.GetEndPosition();
    switch (stream.GetState()) {
    case StreamFinished:
        return label + " FINISHED";
    case StreamTruncated:
        return label + " TRUNCATED after " + std::to_string(stream.GetBytes()) + " bytes at line " +
               std::to_string(position.m_nLine) + ": " + stream.GetError();
    case StreamMalformed:
        return label + " MALFORMED at line " + std::to_string(position.m_nLine) + ", column " +
               std::to_string(position.m_nColumn) + ": " + MakePrintable(stream.GetError()) + "; input dropped";
    case StreamTimedOut:
        return label + " IDLE TIMEOUT after " + std::to_string(stream.GetBytes()) + " bytes at line " +
               std::to_string(position.m_nLine) + ": " + stream.GetError();
    case StreamRunning:
        break;
    }
    return label + " RUNNING";
}

} // namespace Watch
} // namespace Varnel
} // namespace Qz
