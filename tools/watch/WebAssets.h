#ifndef VIDODERAVEV_TOOLS_WATCH_WEBASSETS_H
#define VIDODERAVEV_TOOLS_WATCH_WEBASSETS_H

#include <cstddef>
#include <string>

namespace Qz {
namespace Varnel {
namespace Watch {

// A file of the dashboard's page, compiled into the program from
// tools/watch/web/ so that the watcher needs no files beside it.
struct SWebAsset
{
    const char* m_pPath; // "/" for the page itself
    const char* m_pContentType; // all of them UTF-8 text
    const unsigned char* m_pData;
    std::size_t m_nSize;
};

// The asset served under path (without query), or nullptr.
const SWebAsset* FindWebAsset(const std::string& path);

} // namespace Watch
} // namespace Varnel
} // namespace Qz

#endif
