#ifndef VIDODERAVEV_TOOLS_WATCH_TERMINALVIEW_H
#define VIDODERAVEV_TOOLS_WATCH_TERMINALVIEW_H

#include <deque>
#include <string>
#include <vector>

#include "watch/MessageFilter.h"
#include "watch/View.h"

namespace Qz {
namespace Varnel {
namespace Watch {

// A live screen on a terminal: a header, one line per stream (name, root
// text, bar, percentage, counts of errors and warnings, time remaining,
// "stalled", or how it ended; a lost stream keeps its last percentage) and below them the
// latest messages that pass the level filter. The screen is redrawn in place
// with ANSI sequences at most ten times a second, on the terminal's alternate
// screen, and only when it changed; Finish() gives the normal screen back and
// leaves a short summary on it. Texts are kept only as far as a line can show
// them.
class CTerminalView : public CView
{
public:
    // descriptor: the terminal; title: what is watched ("standard input",
    // "127.0.0.1:5140").
    CTerminalView(int descriptor, const std::string& title, int level);
    CTerminalView(int descriptor, const std::string& title, const CMessageFilter& filter);
    ~CTerminalView() override;

    void OnStreamStarted(const CStream& stream) override;
    void OnLog(const CStream& stream, const SLogRecord& record) override;
    void OnProgress(const CStream& stream, const SProgressRecord& record) override;
    void OnStreamEnded(const CStream& stream) override;
    void OnNotice(const std::string& text) override;

    void Tick(double now) override;
    double NextDeadline(double now) const override;
    void Resize() override;
    void Finish(double now) override;

    // The screen as it would be drawn now, one string per terminal row,
    // without escape sequences; for tests.
    std::vector<std::string> RenderLines(double now) const;

private:
    struct SRow
    {
        const CStream* m_pStream; // null once the stream has ended
        std::string m_sLabel;
        std::string m_sRootText;
        double m_dPercentage = 0.0;
        EStreamState m_eState = StreamRunning;
        bool m_bLost = false;
        int m_nErrors = 0;
        int m_nWarnings = 0;
        std::string m_sEndLine;
    };
    struct SMessage
    {
        std::string m_sLabel;
        std::string m_sTime;
        std::string m_sType;
        std::string m_sTaskId;
        std::string m_sText;
    };

    std::vector<std::string> _Render(double now, bool colour) const;
    SRow* _FindRow(const CStream& stream);
    void _UpdateRow(SRow& row, const CStream& stream);
    void _Draw(double now);
    void _WriteAll(const std::string& bytes);
    std::string _StreamLine(const SRow& row, double now, std::size_t labelWidth, bool colour) const;
    std::string _MessageLine(const SMessage& message, bool colour) const;

    int m_nDescriptor;
    std::string m_sTitle;
    CMessageFilter m_oFilter;
    int m_nRows = 24;
    int m_nColumns = 80;
    bool m_bActive = false;
    bool m_bDirty = true;
    double m_dLastDraw = -1e9;
    std::vector<SRow> m_oRows;
    std::deque<SMessage> m_oMessages;
    std::deque<std::string> m_oNotices; // the latest only
    std::size_t m_nDroppedNotices = 0;
    std::string m_sLastScreen;
};

} // namespace Watch
} // namespace Varnel
} // namespace Qz

#endif
