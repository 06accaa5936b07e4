#ifndef VIDODERAVEV_DIAGNOSTICS_H
#define VIDODERAVEV_DIAGNOSTICS_H

// Everything the library prints on its own behalf (the layer trace, a writer
// thread's lost file, the translator file reader's complaints, the retry
// dialogue) leaves through WriteDiagnostic, so there is one place to watch it.
// Texts for people are translated by the caller; the bytes are written as
// given, without a line end of their own.

#include <functional>
#include <string>

namespace Qz {
namespace Varnel {
namespace Detail {

// Writes the text to standard error at once (or to the sink, if one is set).
// Never throws: a diagnostic that cannot be written is lost.
void WriteDiagnostic(const std::string& text) noexcept;

// Replaces standard error as the destination of every diagnostic; an empty
// function restores it. Returns the sink that was set before.
using FDiagnosticSink = std::function<void(const std::string&)>;
FDiagnosticSink SetDiagnosticSink(FDiagnosticSink sink);

} // namespace Detail
} // namespace Varnel
} // namespace Qz

#endif
