#include "support/TemporaryDirectory.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem/operations.hpp>

namespace Test {

CTemporaryDirectory::CTemporaryDirectory()
{
    const char* root = std::getenv("TMPDIR");
    std::string pattern = std::string(root && *root ? root : "/tmp") + "/vidOderavev-test-XXXXXX";
    if (!::mkdtemp(&pattern[0]))
        throw std::runtime_error("mkdtemp failed");
    m_sPath = pattern;
}

CTemporaryDirectory::~CTemporaryDirectory()
{
    boost::system::error_code error;
    boost::filesystem::remove_all(m_sPath, error);
}

std::vector<std::string> CTemporaryDirectory::Entries() const { return EntriesOf(m_sPath); }

std::vector<std::string> EntriesOf(const std::string& path)
{
    std::vector<std::string> names;
    DIR* directory = ::opendir(path.c_str());
    if (!directory)
        throw std::runtime_error("cannot list " + path);
    while (const dirent* entry = ::readdir(directory)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(directory);
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

bool ReadInto(const std::string& path, std::string& content)
{
    std::ifstream stream(path, std::ios::binary);
    if (!stream)
        return false;
    std::ostringstream buffer;
    buffer << stream.rdbuf();
    content = buffer.str();
    return true;
}

} // namespace

std::string ReadFile(const std::string& path)
{
    std::string content;
    if (!ReadInto(path, content))
        throw std::runtime_error("cannot read " + path);
    return content;
}

std::string ReadFileOrEmpty(const std::string& path)
{
    std::string content;
    ReadInto(path, content);
    return content;
}

void WriteTextFile(const std::string& path, const std::string& content)
{
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    stream << content;
    if (!stream)
        throw std::runtime_error("cannot write " + path);
}

bool FileExists(const std::string& path)
{
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

} // namespace Test
