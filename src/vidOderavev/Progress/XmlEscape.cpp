#include <vidOderavev/Progress/XmlEscape.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace Qz {
namespace Varnel {
namespace Progress {
namespace Detail {

namespace {

const char g_acReplacement[] = "\xEF\xBF\xBD";

// ASCII bytes that can be copied as they are: printable characters except
// "&<>", and tab, line feed and carriage return.
inline bool IsPlainAscii(unsigned char c)
{
    if (c >= 0x20)
        return c != '&' && c != '<' && c != '>' && c < 0x80;
    return c == 0x09 || c == 0x0A || c == 0x0D;
}

// Whether eight bytes are all printable ASCII other than "&<>". Most texts
// are, so they are checked a word at a time; tab, line feed and carriage
// return take the byte-wise path.
inline bool IsPlainWord(uint64_t word)
{
    const uint64_t ones = 0x0101010101010101ULL;
    const uint64_t highs = 0x8080808080808080ULL;
    if (word & highs)
        return false;
    if ((word - 0x20 * ones) & ~word & highs) // a byte below 0x20
        return false;
    const uint64_t amp = word ^ ('&' * ones);
    const uint64_t lt = word ^ ('<' * ones);
    const uint64_t gt = word ^ ('>' * ones);
    return !(((amp - ones) & ~amp) & highs) && !(((lt - ones) & ~lt) & highs) && !(((gt - ones) & ~gt) & highs);
}

// Length of the well-formed UTF-8 sequence that starts at p[0] (a byte of
// 0x80 or more), or, negated, the length of its maximal ill-formed subpart,
// which is replaced as one unit as Unicode recommends for decoders.
inline std::ptrdiff_t SequenceLength(const unsigned char* p, std::size_t available)
{
    const unsigned char lead = p[0];
    std::size_t trailing;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        trailing = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        trailing = 2;
        if (lead == 0xE0)
            low = 0xA0; // no overlong forms
        else if (lead == 0xED)
            high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trailing = 3;
        if (lead == 0xF0)
            low = 0x90; // no overlong forms
        else if (lead == 0xF4)
            high = 0x8F; // nothing above U+10FFFF
    } else {
        return -1;
    }
    std::size_t length = 1;
    for (; length <= trailing; ++length) {
        if (length >= available || p[length] < low || p[length] > high)
            return -static_cast<std::ptrdiff_t>(length);
        low = 0x80;
        high = 0xBF;
    }
    // U+FFFE and U+FFFF are well-formed UTF-8 but no XML characters.
    if (lead == 0xEF && p[1] == 0xBF && (p[2] == 0xBE || p[2] == 0xBF))
        return -3;
    return static_cast<std::ptrdiff_t>(length);
}

} // namespace

void AppendXmlEscaped(std::string& out, const std::string& text)
{
    const unsigned char* const data = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    std::size_t copied = 0; // text[copied, i) is still to be copied verbatim
    std::size_t i = 0;
    while (i < size) {
        if (i + 8 <= size) {
            uint64_t word;
            std::memcpy(&word, data + i, sizeof word);
            if (IsPlainWord(word)) {
                i += 8;
                continue;
            }
        }
        const std::size_t end = i + 8 < size ? i + 8 : size;
        while (i < end) {
            const unsigned char c = data[i];
            if (IsPlainAscii(c)) {
                ++i;
                continue;
            }
            std::size_t consumed = 1;
            const char* replacement;
            if (c == '&') {
                replacement = "&amp;";
            } else if (c == '<') {
                replacement = "&lt;";
            } else if (c == '>') {
                replacement = "&gt;";
            } else if (c < 0x80) {
                replacement = g_acReplacement;
            } else {
                const std::ptrdiff_t length = SequenceLength(data + i, size - i);
                if (length > 0) {
                    i += static_cast<std::size_t>(length);
                    continue;
                }
                consumed = static_cast<std::size_t>(-length);
                replacement = g_acReplacement;
            }
            out.append(text, copied, i - copied);
            out.append(replacement);
            i += consumed;
            copied = i;
        }
    }
    out.append(text, copied, size - copied);
}

void AppendUtf8Repaired(std::string& out, const std::string& text)
{
    const unsigned char* const data = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    std::size_t copied = 0;
    std::size_t i = 0;
    while (i < size) {
        if (data[i] < 0x80) {
            ++i;
            continue;
        }
        const std::ptrdiff_t length = SequenceLength(data + i, size - i);
        if (length > 0) {
            i += static_cast<std::size_t>(length);
            continue;
        }
        out.append(text, copied, i - copied);
        out.append(g_acReplacement);
        i += static_cast<std::size_t>(-length);
        copied = i;
    }
    out.append(text, copied, size - copied);
}

std::string EscapeXml(const std::string& text)
{
    std::string result;
    result.reserve(text.size());
    AppendXmlEscaped(result, text);
    return result;
}

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz
