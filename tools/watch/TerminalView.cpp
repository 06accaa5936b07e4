#include "watch/TerminalView.h"

#include <algorithm>
#include <cerrno>

#include <sys/ioctl.h>
#include <unistd.h>

#include "common/Level.h"
#include "watch/PlainView.h"
#include "watch/Text.h"

namespace Qz {
namespace Varnel {
namespace Watch {

namespace {

// At most ten redraws a second; at least one a second while streams run, so
// that the time remaining counts down between records.
const double g_dMinRedrawInterval = 0.1;
const double g_dMaxRedrawInterval = 1.0;
const std::size_t g_nMaxMessages = 500;
const std::size_t g_nMaxEndedRows = 100;
const std::size_t g_nSummaryMessages = 5;
const std::size_t g_nMaxNotices = 20;
// Messages of the collector itself are shown under its name.
const char* const g_pNoticeLabel = "vidoderavev-watch";

const char* const g_pEnterScreen = "\x1b[?1049h\x1b[?25l";
const char* const g_pLeaveScreen = "\x1b[0m\x1b[?25h\x1b[?1049l";

const char* ColourOfType(const std::string& type)
{
    const int level = Tools::LevelOfType(type);
    if (level == 1 || level == 2)
        return "\x1b[31m";
    if (level == 3)
        return "\x1b[33m";
    return nullptr;
}

// "E:2 W:15": errors (with fatal ones) and warnings so far.
std::string FormatCounts(int errors, int warnings)
{
    return "E:" + std::to_string(errors) + " W:" + std::to_string(warnings);
}

std::string Keep(const std::string& text) { return FitToWidth(text, g_nMaxKeptCells, false); }

std::string Paint(const std::string& text, const char* colour, bool enabled)
{
    return enabled && colour != nullptr ? colour + text + "\x1b[0m" : text;
}

} // namespace

CTerminalView::CTerminalView(int descriptor, const std::string& title, int level)
    : CTerminalView(descriptor, title, CMessageFilter(level))
{
}

CTerminalView::CTerminalView(int descriptor, const std::string& title, const CMessageFilter& filter)
    : m_nDescriptor(descriptor), m_sTitle(title), m_oFilter(filter)
{
    Resize();
    _WriteAll(g_pEnterScreen);
    m_bActive = true;
}

CTerminalView::~CTerminalView()
{
    if (m_bActive)
        _WriteAll(g_pLeaveScreen);
}

void CTerminalView::Resize()
{
    struct winsize size = {};
    if (::ioctl(m_nDescriptor, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
        m_nRows = size.ws_row;
        m_nColumns = size.ws_col;
    }
    m_sLastScreen.clear();
    m_bDirty = true;
}

void CTerminalView::OnStreamStarted(const CStream& stream)
{
    SRow row;
    row.m_pStream = &stream;
    m_oRows.push_back(row);
    _UpdateRow(m_oRows.back(), stream);
    m_bDirty = true;
}

void CTerminalView::OnLog(const CStream& stream, const SLogRecord& record)
{
    if (SRow* row = _FindRow(stream))
        _UpdateRow(*row, stream);
    m_bDirty = true;
    if (!m_oFilter.Accepts(record))
        return;
    // Only what a screen line can show is kept of each field.
    m_oMessages.push_back(SMessage{Keep(stream.GetLabel()), Keep(record.m_sTime), Keep(record.m_sType),
                                   Keep(record.m_sTaskId), Keep(record.m_sText)});
    if (m_oMessages.size() > g_nMaxMessages)
        m_oMessages.pop_front();
    m_bDirty = true;
}

void CTerminalView::OnProgress(const CStream& stream, const SProgressRecord&)
{
    if (SRow* row = _FindRow(stream))
        _UpdateRow(*row, stream);
    m_bDirty = true;
}

void CTerminalView::OnStreamEnded(const CStream& stream)
{
    if (SRow* row = _FindRow(stream)) {
        _UpdateRow(*row, stream);
        row->m_sEndLine = CPlainView::FormatEnd(stream);
        row->m_pStream = nullptr;
    }
    // Keep the screen about the living streams when many have come and gone.
    std::size_t ended = 0;
    for (const SRow& row : m_oRows)
        ended += row.m_pStream == nullptr ? 1 : 0;
    for (auto it = m_oRows.begin(); ended > g_nMaxEndedRows && it != m_oRows.end();) {
        if (it->m_pStream == nullptr) {
            it = m_oRows.erase(it);
            --ended;
        } else
            ++it;
    }
    m_bDirty = true;
}

void CTerminalView::OnNotice(const std::string& text)
{
    m_oNotices.push_back(Keep(text));
    if (m_oNotices.size() > g_nMaxNotices) {
        m_oNotices.pop_front();
        ++m_nDroppedNotices;
    }
    m_oMessages.push_back(SMessage{g_pNoticeLabel, "", "", "", Keep(text)});
    if (m_oMessages.size() > g_nMaxMessages)
        m_oMessages.pop_front();
    m_bDirty = true;
}

CTerminalView::SRow* CTerminalView::_FindRow(const CStream& stream)
{
    for (SRow& row : m_oRows)
        if (row.m_pStream == &stream)
            return &row;
    return nullptr;
}

void CTerminalView::_UpdateRow(SRow& row, const CStream& stream)
{
    row.m_sLabel = Keep(stream.GetLabel());
    row.m_sRootText = stream.GetRootText();
    row.m_dPercentage = stream.GetPercentage();
    row.m_eState = stream.GetState();
    row.m_bLost = stream.IsLost();
    row.m_nErrors = stream.GetErrorCount();
    row.m_nWarnings = stream.GetWarningCount();
}

double CTerminalView::NextDeadline(double now) const
{
    if (!m_bActive)
        return -1.0;
    // Without a running stream nothing counts down between records.
    const bool running =
        std::any_of(m_oRows.begin(), m_oRows.end(), [](const SRow& row) { return row.m_pStream != nullptr; });
    if (!m_bDirty && !running)
        return -1.0;
    const double interval = m_bDirty ? g_dMinRedrawInterval : g_dMaxRedrawInterval;
    return std::max(0.0, m_dLastDraw + interval - now);
}

void CTerminalView::Tick(double now)
{
    // NextDeadline is negative while the view needs no tick at all.
    if (m_bActive && NextDeadline(now) == 0.0)
        _Draw(now);
}

void CTerminalView::Finish(double now)
{
    if (!m_bActive)
        return;
    _Draw(now);
    _WriteAll(g_pLeaveScreen);
    m_bActive = false;
    // What stays on the normal screen: how each stream ended.
    std::string summary;
    for (const SRow& row : m_oRows) {
        const std::string counts = FormatCounts(row.m_nErrors, row.m_nWarnings);
        if (row.m_pStream != nullptr)
            summary += CPlainView::FormatProgress(*row.m_pStream, now) + " (" + counts + ")" +
                       CPlainView::FormatSaveNote(*row.m_pStream) + "\n";
        else if (row.m_bLost)
            summary += MakePrintable(row.m_sLabel) + " LOST at " + FormatPercentage(row.m_dPercentage) + " (" + counts +
                       "): " + row.m_sEndLine + "\n";
        else
            summary += row.m_sEndLine + " (at " + FormatPercentage(row.m_dPercentage) + "; " + counts + ")\n";
    }
    // And the last few messages, for a look back at how the run ended.
    const std::size_t shown = std::min<std::size_t>(g_nSummaryMessages, m_oMessages.size());
    for (std::size_t i = m_oMessages.size() - shown; i < m_oMessages.size(); ++i)
        if (m_oMessages[i].m_sLabel != g_pNoticeLabel)
            summary += _MessageLine(m_oMessages[i], false) + "\n";
    if (m_nDroppedNotices > 0)
        summary += std::string(g_pNoticeLabel) + ": (" + std::to_string(m_nDroppedNotices) + " earlier notices)\n";
    for (const std::string& notice : m_oNotices)
        summary += std::string(g_pNoticeLabel) + ": " + MakePrintable(notice) + "\n";
    _WriteAll(summary);
}

std::vector<std::string> CTerminalView::RenderLines(double now) const { return _Render(now, false); }

std::vector<std::string> CTerminalView::_Render(double now, bool colour) const
{
    static const char* const s_apLevelNames[] = {"unnamed", "FATAL", "ERROR", "WARNING", "INFO", "LOG", "DEBUG"};
    const std::size_t columns = static_cast<std::size_t>(std::max(m_nColumns - 1, 20));
    const std::size_t rows = static_cast<std::size_t>(std::max(m_nRows, 4));
    std::vector<std::string> lines;
    std::size_t running = 0;
    for (const SRow& row : m_oRows)
        running += row.m_pStream != nullptr ? 1 : 0;
    lines.push_back(FitToWidth("vidoderavev-watch  " + MakePrintable(m_sTitle) +
                                   "  streams: " + std::to_string(running) + " running, " +
                                   std::to_string(m_oRows.size() - running) + " ended   (Ctrl-C quits)",
                               columns, false));
    // Streams take at most half of the screen; the newest are kept.
    const std::size_t streamRows = std::min(m_oRows.size(), std::max<std::size_t>(1, (rows - 2) / 2));
    std::size_t labelWidth = 4;
    for (const SRow& row : m_oRows)
        labelWidth = std::max(labelWidth, DisplayWidth(MakePrintable(row.m_sLabel)));
    labelWidth = std::min<std::size_t>(labelWidth, 28);
    for (std::size_t i = m_oRows.size() - streamRows; i < m_oRows.size(); ++i)
        lines.push_back(_StreamLine(m_oRows[i], now, labelWidth, colour));
    if (m_oRows.empty())
        lines.push_back("(waiting for streams)");
    std::string rule = "-- messages";
    const int level = m_oFilter.GetLevel();
    if (level >= 0 && level < 7)
        rule += std::string(" up to ") + s_apLevelNames[level];
    lines.push_back(FitToWidth(rule + " " + std::string(columns, '-'), columns, false));
    const std::size_t messageRows = rows > lines.size() ? rows - lines.size() : 0;
    const std::size_t shown = std::min(messageRows, m_oMessages.size());
    for (std::size_t i = m_oMessages.size() - shown; i < m_oMessages.size(); ++i)
        lines.push_back(_MessageLine(m_oMessages[i], colour));
    return lines;
}

std::string CTerminalView::_StreamLine(const SRow& row, double now, std::size_t labelWidth, bool colour) const
{
    const std::size_t columns = static_cast<std::size_t>(std::max(m_nColumns - 1, 20));
    const std::size_t barWidth = std::min<std::size_t>(30, std::max<std::size_t>(10, columns / 4));
    std::string status;
    const char* statusColour = nullptr;
    switch (row.m_eState) {
    case StreamRunning: {
        double eta = 0.0;
        if (row.m_pStream != nullptr && row.m_pStream->IsStalled(now)) {
            status = "stalled";
            statusColour = "\x1b[33m";
        } else
            status = row.m_pStream != nullptr && row.m_pStream->GetEta(now, eta) ? "ETA " + FormatEta(eta) : "ETA --";
        break;
    }
    case StreamFinished:
        status = "finished";
        statusColour = "\x1b[32m";
        break;
    case StreamTruncated:
        status = "lost";
        statusColour = "\x1b[31m";
        break;
    case StreamMalformed:
        status = "malformed";
        statusColour = "\x1b[31m";
        break;
    case StreamTimedOut:
        status = "lost (idle)";
        statusColour = "\x1b[31m";
        break;
    }
    const std::string counts = FitToWidth(FormatCounts(row.m_nErrors, row.m_nWarnings), 12, true);
    const char* countsColour = row.m_nErrors > 0 ? "\x1b[31m" : row.m_nWarnings > 0 ? "\x1b[33m" : nullptr;
    const std::size_t fixed = labelWidth + 1 + barWidth + 2 + 1 + 6 + 1 + 12 + 1 + 12;
    const std::size_t textWidth = columns > fixed + 1 ? columns - fixed - 1 : 0;
    std::string line = FitToWidth(MakePrintable(row.m_sLabel), labelWidth, true) + " ";
    if (textWidth >= 4)
        line += FitToWidth(MakePrintable(row.m_sRootText), textWidth, true) + " ";
    line += MakeBar(row.m_dPercentage, barWidth) + " " + FitToWidth(FormatPercentage(row.m_dPercentage), 6, true) + " ";
    line = FitToWidth(line, columns, false);
    // The counts and the state go as far as the line allows, in that order.
    std::size_t left = columns > DisplayWidth(line) ? columns - DisplayWidth(line) : 0;
    if (left >= 13) {
        line += Paint(counts, countsColour, colour) + " ";
        left -= 13;
    }
    return line + Paint(FitToWidth(status, std::min<std::size_t>(12, left), false), statusColour, colour);
}

std::string CTerminalView::_MessageLine(const SMessage& message, bool colour) const
{
    const std::size_t columns = static_cast<std::size_t>(std::max(m_nColumns - 1, 20));
    std::string head = MakePrintable(TimeOfDay(message.m_sTime));
    if (!head.empty())
        head += " ";
    head += MakePrintable(message.m_sLabel) + " ";
    std::string type = FitToWidth(MakePrintable(message.m_sType), 7, true) + " ";
    std::string text;
    if (!message.m_sTaskId.empty())
        text += "[" + MakePrintable(message.m_sTaskId) + "] ";
    text += MakePrintable(message.m_sText);
    const std::size_t headWidth = DisplayWidth(head) + DisplayWidth(type);
    if (headWidth >= columns)
        return FitToWidth(head + type, columns, false);
    return head + Paint(type, ColourOfType(message.m_sType), colour) + FitToWidth(text, columns - headWidth, false);
}

void CTerminalView::_Draw(double now)
{
    const std::vector<std::string> lines = _Render(now, true);
    const std::size_t rows = static_cast<std::size_t>(std::max(m_nRows, 4));
    std::string screen = "\x1b[H";
    for (std::size_t i = 0; i < lines.size() && i < rows; ++i) {
        if (i > 0)
            screen += "\r\n";
        screen += lines[i] + "\x1b[K";
    }
    screen += "\x1b[J";
    // A frame like the last one changes nothing on the terminal.
    if (screen != m_sLastScreen)
        _WriteAll(screen);
    m_sLastScreen.swap(screen);
    m_dLastDraw = now;
    m_bDirty = false;
}

void CTerminalView::_WriteAll(const std::string& bytes)
{
    const char* data = bytes.data();
    std::size_t size = bytes.size();
    while (size > 0) {
        const ssize_t written = ::write(m_nDescriptor, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

} // namespace Watch
} // namespace Varnel
} // namespace Qz
