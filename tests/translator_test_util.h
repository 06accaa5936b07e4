#ifndef VIDODERAVEV_TESTS_TRANSLATOR_TEST_UTIL_H
#define VIDODERAVEV_TESTS_TRANSLATOR_TEST_UTIL_H

// Helpers of the translator tests: a temporary directory removed at the end
// of the test, and whole-file reads and writes.

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include <boost/filesystem.hpp>

namespace TranslatorTest {

class CTempDir
{
public:
    CTempDir()
    {
        std::string pattern = (boost::filesystem::temp_directory_path() / "vidOderavev-trl-XXXXXX").string();
        if (!::mkdtemp(&pattern[0]))
            throw std::runtime_error("mkdtemp failed");
        m_sPath = pattern;
    }
    ~CTempDir()
    {
        boost::system::error_code ec;
        boost::filesystem::remove_all(m_sPath, ec);
    }
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::string& Path() const { return m_sPath; }
    std::string File(const std::string& name) const { return m_sPath + "/" + name; }

private:
    std::string m_sPath;
};

inline std::string ReadFile(const std::string& fileName)
{
    std::ifstream stream(fileName.c_str(), std::ios::binary);
    std::ostringstream content;
    content << stream.rdbuf();
    return content.str();
}

inline void WriteFile(const std::string& fileName, const std::string& content)
{
    std::ofstream stream(fileName.c_str(), std::ios::binary | std::ios::trunc);
    stream << content;
}

inline bool FileExists(const std::string& fileName)
{
    boost::system::error_code ec;
    return boost::filesystem::exists(fileName, ec);
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
