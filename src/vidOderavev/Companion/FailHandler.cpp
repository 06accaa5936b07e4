#include <vidOderavev/Companion/FailHandler.h>

#include <unistd.h>

#include <vidOderavev/Libraries/Fileio/FileioUnix.h>

namespace Qz {
namespace Varnel {
namespace Fileio {

// The retry dialogue needs someone to answer it: a batch job, a daemon or a
// CI run must never block on a prompt, so without a terminal on standard
// input nothing is retried.
boost::shared_ptr<CFailHandler> g_oFailHandler(::isatty(STDIN_FILENO) ? new CStdioFailHandler : nullptr);

namespace {

thread_local bool t_bUnattended = false;

} // namespace

CUnattendedThreadScope::CUnattendedThreadScope() : m_bPrevious(t_bUnattended) { t_bUnattended = true; }

CUnattendedThreadScope::~CUnattendedThreadScope() { t_bUnattended = m_bPrevious; }

bool IsUnattendedThread() { return t_bUnattended; }

} // namespace Fileio
} // namespace Varnel
} // namespace Qz
