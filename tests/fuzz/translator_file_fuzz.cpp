// libFuzzer target for the translator file reader: any bytes must be either
// read or rejected, without a crash, a hang, a leak or a sanitizer report.
// The input reaches the reader as a real file (an anonymous memory file
// opened through /proc), since the reader maps its file into memory.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

#include <vidOderavev/Diagnostics.h>
#include <vidOderavev/Internationalisation/TranslatorData.h>
#include <vidOderavev/Internationalisation/TranslatorFile.h>

using Qz::Varnel::Internationalisation::CTranslatorData;
using Qz::Varnel::Internationalisation::CTranslatorFile;

namespace {

int g_nFile = -1;
std::string g_sFileName;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The reader's messages would otherwise flood the output.
    Qz::Varnel::Detail::SetDiagnosticSink([](const std::string&) {});
    g_nFile = ::memfd_create("trl", 0);
    if (g_nFile < 0)
        std::abort();
    g_sFileName = "/proc/self/fd/" + std::to_string(g_nFile);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (::ftruncate(g_nFile, 0) != 0 || (size > 0 && ::pwrite(g_nFile, data, size, 0) != static_cast<ssize_t>(size)))
        std::abort();

    CTranslatorData table;
    table.Init("fuzz", "Default");
    bool read = CTranslatorFile(g_sFileName).Read(table);
    // Whatever was read must be usable: look every text up both ways.
    for (const auto& entry : table.GetTranslatorMap()) {
        unsigned int depth = 0;
        if (!table._TranslateDeep(entry.first, depth) || !table._TranslateShallow(entry.first, depth))
            std::abort();
    }
    if (read && table.GetLanguage().empty() && table.GetNumBaseModules() > 0 &&
        !table.GetBaseModule(0).GetLanguage().empty())
        std::abort(); // base modules take the table's language
    return 0;
}
