#include <vidOderavev/Internationalisation/FormatText.h>

#include <cstring>
#include <set>

namespace Qz {
namespace Varnel {
namespace Internationalisation {

namespace {

struct SPlaceholders
{
    std::set<unsigned int> m_oNumbers;
    // Any directive other than %N% and "%%".
    bool m_bOther = false;
};

// Scans the text as Boost.Format does: "%%" is a literal, "%N%" a numbered
// placeholder (N without a leading zero, which would be a flag), and every
// other '%' starts a directive of its own.
SPlaceholders FindPlaceholders(const std::string& text)
{
    SPlaceholders result;
    const std::size_t size = text.size();
    for (std::size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at)) {
        ++at;
        if (at < size && text[at] == '%') {
            ++at;
            continue;
        }
        std::size_t end = at;
        unsigned long number = 0;
        // Nine digits at most: a larger number is no argument any caller has.
        if (at < size && text[at] != '0') {
            while (end < size && end - at < 9 && text[end] >= '0' && text[end] <= '9')
                number = number * 10 + static_cast<unsigned long>(text[end++] - '0');
        }
        if (end > at && end < size && text[end] == '%') {
            result.m_oNumbers.insert(static_cast<unsigned int>(number));
            at = end + 1;
        } else
            result.m_bOther = true;
    }
    return result;
}

bool HasPercent(const std::string& text) { return std::memchr(text.data(), '%', text.size()) != nullptr; }

} // namespace

bool PlaceholdersMatch(const std::string& original, const std::string& translation)
{
    if (!HasPercent(original) && !HasPercent(translation))
        return true;
    const SPlaceholders expected = FindPlaceholders(original);
    const SPlaceholders found = FindPlaceholders(translation);
    if (found.m_oNumbers != expected.m_oNumbers)
        return false;
    // A text without placeholders is never formatted, so any '%' in its
    // translation is harmless; in a format string a new directive would make
    // the formatting fail.
    return expected.m_oNumbers.empty() || expected.m_bOther || !found.m_bOther;
}

} // namespace Internationalisation
} // namespace Varnel
} // namespace Qz
