#include <vidOderavev/Diagnostics.h>

#include <cerrno>
#include <utility>

#include <unistd.h>

#include <vidOderavev/ThreadSafety.h>

namespace Qz {
namespace Varnel {
namespace Detail {

namespace {

// The sink is called under the lock, so that two threads' diagnostics never
// interleave; a sink must not report a diagnostic itself.
struct SDiagnostics {
    CMutex m_oMutex;
    FDiagnosticSink m_oSink VIDODERAVEV_GUARDED_BY(m_oMutex);
};

// Never destroyed: the translator writes its file back, and may complain,
// during static destruction.
SDiagnostics& Diagnostics()
{
    static SDiagnostics* diagnostics = new SDiagnostics;
    return *diagnostics;
}

void WriteToStandardError(const std::string& text)
{
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, data, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
}

} // namespace

void WriteDiagnostic(const std::string& text) noexcept
{
    try {
        SDiagnostics& diagnostics = Diagnostics();
        CScopedLock<CMutex> lock(diagnostics.m_oMutex);
        if (diagnostics.m_oSink)
            diagnostics.m_oSink(text);
        else
            WriteToStandardError(text);
    } catch (...) {
    }
}

FDiagnosticSink SetDiagnosticSink(FDiagnosticSink sink)
{
    SDiagnostics& diagnostics = Diagnostics();
    CScopedLock<CMutex> lock(diagnostics.m_oMutex);
    std::swap(sink, diagnostics.m_oSink);
    return sink;
}

} // namespace Detail
} // namespace Varnel
} // namespace Qz
