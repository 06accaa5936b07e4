#ifndef VIDODERAVEV_PROGRESS_XMLESCAPE_H
#define VIDODERAVEV_PROGRESS_XMLESCAPE_H

#include <string>

namespace Qz {
namespace Varnel {
namespace Progress {
namespace Detail {

// Appends text to out so that it can stand as the content of an element of an
// XML 1.0 document encoded in UTF-8, whatever bytes the host handed over:
// - "&", "<" and ">" become "&amp;", "&lt;" and "&gt;";
// - the control bytes XML does not admit even as references (0x00 to 0x08,
//   0x0B, 0x0C, 0x0E to 0x1F), the code points U+FFFE and U+FFFF, and every
//   maximal ill-formed UTF-8 subsequence become U+FFFD (EF BF BD);
// - every other byte, tab, line feed and carriage return included, is copied.
// Texts of printable ASCII and well-formed UTF-8 without "&<>" come out
// unchanged, so readers that never see those characters see the plain bytes.
void AppendXmlEscaped(std::string& out, const std::string& text);

// The same as a new string.
std::string EscapeXml(const std::string& text);

// Appends text with every maximal ill-formed UTF-8 subsequence (and U+FFFE,
// U+FFFF, as above) replaced by U+FFFD; everything else, control bytes and
// markup characters included, is copied. For outputs that need valid UTF-8
// but no XML escaping.
void AppendUtf8Repaired(std::string& out, const std::string& text);

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz

#endif
