#include <vidOderavev/Companion/FailHandler.h>

namespace Qz {
namespace Varnel {
namespace Fileio {

boost::shared_ptr<CFailHandler> g_oFailHandler;

} // namespace Fileio
} // namespace Varnel
} // namespace Qz
