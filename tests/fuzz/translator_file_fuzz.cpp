// libFuzzer target for the translator file reader: any bytes are read or
// rejected, without a crash, hang, leak or sanitizer report. The reader maps
// its file, so the input comes as an anonymous memory file opened via /proc.
#include <cstdint>
#include <cstdlib>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

#include <vidOderavev/Diagnostics.h>
#include <vidOderavev/Internationalisation/TranslatorData.h>
#include <vidOderavev/Internationalisation/TranslatorFile.h>

using namespace Qz::Varnel::Internationalisation;

static int g_nFile = -1;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Qz::Varnel::Detail::SetDiagnosticSink([](const std::string&) {}); // the reader's messages would flood the output
    g_nFile = ::memfd_create("trl", 0);
    if (g_nFile < 0)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (::ftruncate(g_nFile, 0) != 0 || (size > 0 && ::pwrite(g_nFile, data, size, 0) != static_cast<ssize_t>(size)))
        std::abort();
    CTranslatorData table;
    table.Init("fuzz", "Default");
    const bool read = CTranslatorFile("/proc/self/fd/" + std::to_string(g_nFile)).Read(table);
    // Whatever was read must be usable: look every text up both ways.
    for (const auto& entry : table.GetTranslatorMap()) {
        unsigned int depth = 0;
        if (!table._TranslateDeep(entry.first, depth) || !table._TranslateShallow(entry.first, depth))
            std::abort();
    }
    // Base modules take the table's language.
    if (read && table.GetLanguage().empty() && table.GetNumBaseModules() > 0 &&
        !table.GetBaseModule(0).GetLanguage().empty())
        std::abort();
    return 0;
}
