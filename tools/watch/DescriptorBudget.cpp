#include "watch/DescriptorBudget.h"

#include <dirent.h>
#include <sys/resource.h>

namespace Qz {
namespace Varnel {
namespace Watch {

std::size_t CountConnectionSlots(std::size_t perConnection, std::size_t spare)
{
    rlimit limit = {};
    if (perConnection == 0 || ::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 0;
    // Counted rather than assumed: a parent may have left descriptors open.
    DIR* directory = ::opendir("/proc/self/fd");
    if (directory == nullptr)
        return 0;
    std::size_t open = 0;
    while (const dirent* entry = ::readdir(directory))
        if (entry->d_name[0] != '.')
            ++open;
    ::closedir(directory);
    // The listing's own descriptor is gone again.
    if (open > 0)
        --open;
    if (limit.rlim_cur < open + spare + perConnection)
        return 1;
    return (limit.rlim_cur - open - spare) / perConnection;
}

} // namespace Watch
} // namespace Varnel
} // namespace Qz
