#ifndef VIDODERAVEV_TESTS_TRANSLATOR_TEST_UTIL_H
#define VIDODERAVEV_TESTS_TRANSLATOR_TEST_UTIL_H

// Helpers of the translator tests: well-formed .trl contents, and the names
// under which translator_file_test.cpp reaches the shared temporary directory
// and file helpers.

#include <string>

#include <boost/filesystem.hpp>

#include "support/TemporaryDirectory.h"

namespace TranslatorTest {

using CTempDir = Test::CTemporaryDirectory;
using Test::FileExists;
// Empty when the file cannot be read.
inline std::string ReadFile(const std::string& fileName) { return Test::ReadFileOrEmpty(fileName); }
inline void WriteFile(const std::string& fileName, const std::string& content)
{
    Test::WriteTextFile(fileName, content);
}

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
