#ifndef VIDODERAVEV_TOOLS_WATCH_MESSAGEFILTER_H
#define VIDODERAVEV_TOOLS_WATCH_MESSAGEFILTER_H

#include <memory>
#include <regex>
#include <string>

#include "watch/Records.h"

namespace Qz {
namespace Varnel {
namespace Watch {

// Which messages a view shows: those up to a level and, when a pattern is
// set, whose text or task identifier contains a match. Progress is never
// filtered.
class CMessageFilter
{
public:
    // level: the least severe message level shown (0 to 7).
    explicit CMessageFilter(int level = 7) : m_nLevel(level) {}

    // An ECMAScript regular expression; false, with the reason, when it is
    // not one.
    bool SetPattern(const std::string& pattern, std::string& error);
    bool Accepts(const SLogRecord& record) const;
    int GetLevel() const { return m_nLevel; }

private:
    int m_nLevel;
    std::shared_ptr<const std::regex> m_pPattern;
};

} // namespace Watch
} // namespace Varnel
} // namespace Qz

#endif
