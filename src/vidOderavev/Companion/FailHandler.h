#ifndef VIDODERAVEV_COMPANION_FAILHANDLER_H
#define VIDODERAVEV_COMPANION_FAILHANDLER_H

#include <string>

#include <boost/shared_ptr.hpp>

#include <vidOderavev/Export.h>

namespace Qz {
namespace Varnel {
namespace Fileio {

// Decides whether a failed open or write is tried again: true retries.
class VIDODERAVEV_API CFailHandler
{
public:
    virtual bool WriteFailure(int handle) = 0;
    virtual bool OpenFailure(const std::string& fileName) = 0;
    virtual ~CFailHandler() {}
};

// Marks the constructing thread, for the life of the object, as one that
// nobody watches (the buffered outputs' writer threads): a fail handler must
// not ask anybody on it, as the dialogue would take the host's terminal and
// standard input from a thread the host does not know. CStdioFailHandler
// declines at once there, without a word; a host's own handler can ask
// IsUnattendedThread(). Scopes nest.
class VIDODERAVEV_API CUnattendedThreadScope
{
public:
    CUnattendedThreadScope();
    ~CUnattendedThreadScope();
    CUnattendedThreadScope(const CUnattendedThreadScope&) = delete;
    CUnattendedThreadScope& operator=(const CUnattendedThreadScope&) = delete;

private:
    bool m_bPrevious;
};

// Whether the calling thread is inside a CUnattendedThreadScope.
VIDODERAVEV_API bool IsUnattendedThread();

// The process-wide fail handler; empty means nothing is ever retried. A host
// may assign its own at any time before files are used.
extern VIDODERAVEV_API boost::shared_ptr<CFailHandler> g_oFailHandler;

} // namespace Fileio
} // namespace Varnel
} // namespace Qz

#endif
