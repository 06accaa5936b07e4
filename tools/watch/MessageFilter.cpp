#include "watch/MessageFilter.h"

#include "common/Level.h"

namespace Qz {
namespace Varnel {
namespace Watch {

namespace {

// The standard library's matcher backtracks recursively, one frame per
// character for patterns like ".*": a message of megabytes would exhaust the
// stack. Only its beginning, more than any screen line shows, is searched.
const std::size_t g_nMaxSearched = 4096;

bool Search(const std::string& text, const std::regex& pattern)
{
    const auto end = text.size() > g_nMaxSearched ? text.begin() + g_nMaxSearched : text.end();
    return std::regex_search(text.begin(), end, pattern);
}

} // namespace

bool CMessageFilter::SetPattern(const std::string& pattern, std::string& error)
{
    try {
        m_pPattern = std::make_shared<const std::regex>(pattern, std::regex::ECMAScript);
    } catch (const std::regex_error& failure) {
        error = failure.what();
        return false;
    }
    return true;
}

bool CMessageFilter::Accepts(const SLogRecord& record) const
{
    if (Tools::LevelOfType(record.m_sType) > m_nLevel)
        return false;
    if (!m_pPattern)
        return true;
    // A pattern that backtracks beyond the library's limit matches nothing
    // rather than stopping the collector.
    try {
        return Search(record.m_sText, *m_pPattern) || Search(record.m_sTaskId, *m_pPattern);
    } catch (const std::regex_error&) {
        return false;
    }
}

} // namespace Watch
} // namespace Varnel
} // namespace Qz
