#include "watch/MarkupScanner.h"

#include <cctype>
#include <cstring>

#include "watch/Text.h"

namespace Qz {
namespace Varnel {
namespace Watch {

namespace {

const char* const g_apElementNames[] = {"LOG_STREAM", "LOG", "PROGRESS", "TIME", "TYPE",      "HOSTNAME",
                                        "PID",        "TID", "TASKID",   "TEXT", "PERCENTAGE"};
const std::size_t g_nLongestName = 10;

bool IsSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Bytes that may continue an XML name; anything above ASCII counts, so that
// a foreign name is refused as a name and not as a stray character.
bool IsNameByte(unsigned char c)
{
    return std::isalnum(c) || c == '_' || c == '-' || c == '.' || c == ':' || c >= 0x80;
}

bool IsReferenceByte(unsigned char c) { return IsNameByte(c) || c == '#'; }

bool IsElementName(const std::string& name)
{
    for (const char* known : g_apElementNames)
        if (name == known)
            return true;
    return false;
}

} // namespace

std::size_t CMarkupScanner::Scan(const char* data, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        if (m_eState == StateRefused)
            return i;
        const unsigned char c = static_cast<unsigned char>(data[i]);
        // Columns count code points, as the parser does, not bytes.
        if (m_nColumn < 0) {
            ++m_nLine;
            m_nColumn = 0;
        }
        if (c < 0x80 || c >= 0xC0)
            ++m_nColumn;
        if (!_Take(c))
            return i;
        if (c == '\n')
            m_nColumn = -1;
    }
    return size;
}

bool CMarkupScanner::_Take(unsigned char c)
{
    switch (m_eState) {
    case StateText:
        if (c == '<') {
            m_eState = StateTagOpen;
            m_nBytes = 1;
            m_sName.clear();
        } else if (c == '&') {
            m_eState = StateReference;
            m_nBytes = 1;
        }
        return true;
    case StateReference:
        // The parser waits for the ';' however far away it is.
        if (c == ';') {
            m_eState = StateText;
            return true;
        }
        if (!IsReferenceByte(c) || ++m_nBytes > m_nMaxReferenceBytes) {
            m_bReferenceRefused = true;
            return _Refuse("an '&' that does not start an entity or character reference");
        }
        return true;
    case StateDeclaration:
    case StateCommentOpen:
    case StateComment:
    case StateCDataOpen:
    case StateCData:
    case StateInstruction:
        return _TakeSpecial(c);
    case StateRefused:
        return false;
    default:
        return _TakeInTag(c);
    }
}

bool CMarkupScanner::_TakeInTag(unsigned char c)
{
    // Until its '>' the parser keeps a whole tag in memory and, for every
    // attribute, compares it with all the earlier ones.
    if (++m_nBytes > m_nMaxTagBytes)
        return _Refuse("a tag longer than " + std::to_string(m_nMaxTagBytes) + " bytes");
    if (m_eState == StateTagOpen) {
        if (c == '/') {
            m_eState = StateEndName;
            return true;
        }
        if (c == '!') {
            m_eState = StateDeclaration;
            return true;
        }
        if (c == '?') {
            m_eState = StateInstruction;
            m_nRun = 0;
            return true;
        }
        m_eState = StateStartName;
    }
    if (m_eState == StateStartName || m_eState == StateEndName) {
        if (IsNameByte(c)) {
            if (m_sName.size() == g_nLongestName)
                return _Refuse("an element name longer than " + std::to_string(g_nLongestName) + " characters");
            m_sName += static_cast<char>(c);
            return true;
        }
        if (m_sName.empty() || !(IsSpace(c) || c == '>' || (c == '/' && m_eState == StateStartName)))
            return _Refuse("a malformed tag");
        if (m_eState == StateEndName)
            m_eState = StateEndTail;
        else if (!_EndStartName())
            return false;
    }
    switch (m_eState) {
    case StateStartTail:
        if (IsSpace(c))
            return true;
        if (c == '/') {
            m_eState = StateEmptyEnd;
            return true;
        }
        if (c != '>')
            return _Refuse("attributes are not accepted (<" + m_sName + " ...>)");
        if (++m_nDepth > m_nMaxDepth)
            return _Refuse("elements nested more than " + std::to_string(m_nMaxDepth) + " deep");
        m_eState = StateText;
        return true;
    case StateEmptyEnd:
        if (c != '>')
            return _Refuse("a malformed tag");
        m_eState = StateText;
        return true;
    case StateEndTail:
        if (IsSpace(c))
            return true;
        if (c != '>')
            return _Refuse("a malformed tag");
        // A mismatched end tag is the parser's to report.
        if (m_nDepth > 0)
            --m_nDepth;
        m_eState = StateText;
        return true;
    default:
        return false;
    }
}

bool CMarkupScanner::_EndStartName()
{
    if (!IsElementName(m_sName))
        return _Refuse("the element <" + MakePrintable(m_sName) + "> is not part of a log stream");
    m_eState = StateStartTail;
    return true;
}

bool CMarkupScanner::_TakeSpecial(unsigned char c)
{
    // Comments, instructions and CDATA sections are never sent; the parser
    // keeps each whole until it ends, so they are kept short.
    if (++m_nBytes > m_nMaxSpecialBytes)
        return _Refuse("a comment, processing instruction or CDATA section longer than " +
                       std::to_string(m_nMaxSpecialBytes) + " bytes");
    static const char s_aCDataOpen[] = "[CDATA[";
    switch (m_eState) {
    case StateDeclaration:
        if (c == '-')
            m_eState = StateCommentOpen;
        else if (c == '[') {
            m_eState = StateCDataOpen;
            m_nRun = 1;
        } else
            // A document type could define entities that expand without bound.
            return _Refuse("document type declarations are not accepted");
        return true;
    case StateCommentOpen:
        if (c != '-')
            return _Refuse("a malformed comment");
        m_eState = StateComment;
        m_nRun = 0;
        return true;
    case StateComment:
        if (c == '>' && m_nRun >= 2)
            m_eState = StateText;
        m_nRun = c == '-' ? m_nRun + 1 : 0;
        return true;
    case StateCDataOpen:
        if (static_cast<char>(c) != s_aCDataOpen[m_nRun])
            return _Refuse("a malformed CDATA section");
        if (++m_nRun == static_cast<int>(std::strlen(s_aCDataOpen))) {
            m_eState = StateCData;
            m_nRun = 0;
        }
        return true;
    case StateCData:
        if (c == '>' && m_nRun >= 2)
            m_eState = StateText;
        m_nRun = c == ']' ? m_nRun + 1 : 0;
        return true;
    case StateInstruction:
        if (c == '>' && m_nRun >= 1)
            m_eState = StateText;
        m_nRun = c == '?' ? 1 : 0;
        return true;
    default:
        return false;
    }
}

bool CMarkupScanner::_Refuse(const std::string& error)
{
    m_eState = StateRefused;
    m_sError = error;
    return false;
}

} // namespace Watch
} // namespace Varnel
} // namespace Qz
