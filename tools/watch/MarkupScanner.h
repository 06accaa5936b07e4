#ifndef VIDODERAVEV_TOOLS_WATCH_MARKUPSCANNER_H
#define VIDODERAVEV_TOOLS_WATCH_MARKUPSCANNER_H

#include <cstddef>
#include <string>

namespace Qz {
namespace Varnel {
namespace Watch {

// Reads a log stream's bytes ahead of the XML parser and stops at the first
// piece of markup that the log stream never has and that could cost the
// parser time or memory out of proportion: an attribute, an element name that
// is not one of the stream's, a tag longer than any of the stream's, nesting
// deeper than a record's field, an over-long comment, processing instruction,
// CDATA section or reference, a document type declaration. Everything else
// (mismatched tags, bad characters) is left to the parser. Keeps its state
// across calls, so a tag may be split over any number of reads.
class CMarkupScanner
{
public:
    // Log stream, record, field.
    static constexpr int m_nMaxDepth = 3;
    static constexpr std::size_t m_nMaxTagBytes = 64;
    static constexpr std::size_t m_nMaxSpecialBytes = 4096;
    static constexpr std::size_t m_nMaxReferenceBytes = 32;

    // Returns how many of the bytes may go to the parser. When that is less
    // than size, the byte at that offset was refused and the scanner stays
    // stopped there.
    std::size_t Scan(const char* data, std::size_t size);

    bool HasRefused() const { return m_eState == StateRefused; }
    // A reference ('&' ...) that cannot end well; the parser reports those
    // itself once it has seen the byte.
    bool IsReferenceRefused() const { return m_bReferenceRefused; }
    const std::string& GetError() const { return m_sError; }
    // Line and column (both from 1, columns in code points) of the refused byte.
    int GetLine() const { return m_nLine; }
    int GetColumn() const { return m_nColumn; }

private:
    enum EState
    {
        StateText,
        StateReference,
        StateTagOpen,
        StateStartName,
        StateStartTail,
        StateEmptyEnd,
        StateEndName,
        StateEndTail,
        StateDeclaration,
        StateCommentOpen,
        StateComment,
        StateCDataOpen,
        StateCData,
        StateInstruction,
        StateRefused
    };

    // False when the byte is refused (m_sError then says why).
    bool _Take(unsigned char c);
    bool _TakeInTag(unsigned char c);
    bool _TakeSpecial(unsigned char c);
    bool _EndStartName();
    bool _Refuse(const std::string& error);

    EState m_eState = StateText;
    std::size_t m_nBytes = 0; // of the current tag, comment, instruction or reference
    std::string m_sName;
    int m_nDepth = 0;
    int m_nRun = 0; // closing characters seen in a row ("--", "]]", "?")
    bool m_bReferenceRefused = false;
    std::string m_sError;
    int m_nLine = 1;
    int m_nColumn = 0;
};

} // namespace Watch
} // namespace Varnel
} // namespace Qz

#endif
