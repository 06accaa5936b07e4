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

// The process-wide fail handler; empty means nothing is ever retried. A host
// may assign its own at any time before files are used.
extern VIDODERAVEV_API boost::shared_ptr<CFailHandler> g_oFailHandler;

} // namespace Fileio
} // namespace Varnel
} // namespace Qz

#endif
