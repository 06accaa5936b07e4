#ifndef VIDODERAVEV_TESTS_TRANSLATOR_TEST_UTIL_H
#define VIDODERAVEV_TESTS_TRANSLATOR_TEST_UTIL_H

#include <string>

#include "support/TemporaryDirectory.h"

namespace TranslatorTest {

// A well-formed file of module name/language with the given base-module
// names (already quoted and separated) and entry lines.
inline std::string MakeTrl(const std::string& name, const std::string& language, const std::string& bases,
                           const std::string& entries)
{
    return "TF(0001)\nSettings\n(\n\tModuleName(\"" + name + "\")\n\tLanguage(\"" + language + "\")\n\tBaseModules( " +
           bases + " )\n)\nTranslations\n(\n" + entries + ")\n";
}

} // namespace TranslatorTest

#endif
