#include "support/TemporaryDirectory.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
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
    while (const dirent* entry = ::readdir(directory))
        if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
            names.push_back(entry->d_name);
    ::closedir(directory);
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream stream(path, std::ios::binary);
    if (!stream)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream buffer;
    buffer << stream.rdbuf();
    return buffer.str();
}

std::string ReadFileOrEmpty(const std::string& path)
{
    try {
        return ReadFile(path);
    } catch (const std::runtime_error&) {
        return std::string();
    }
}

void WriteTextFile(const std::string& path, const std::string& content)
{
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    if (!(stream << content))
        throw std::runtime_error("cannot write " + path);
}

bool FileExists(const std::string& path)
{
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

std::vector<std::string> SplitLines(const std::string& text, const std::string& separator)
{
    std::vector<std::string> lines;
    std::string::size_type begin = 0;
    for (std::string::size_type end; (end = text.find(separator, begin)) != std::string::npos;
         begin = end + separator.size())
        lines.push_back(text.substr(begin, end - begin));
    if (begin < text.size())
        lines.push_back(text.substr(begin));
    return lines;
}

bool WaitFor(double seconds, const std::function<bool()>& condition)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

CStderrRedirect::CStderrRedirect() : m_nSaved(::dup(STDERR_FILENO))
{
    std::cerr.flush();
    const int file = ::open((m_oDirectory / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(file, STDERR_FILENO);
    ::close(file);
}

CStderrRedirect::~CStderrRedirect()
{
    std::cerr.flush();
    ::dup2(m_nSaved, STDERR_FILENO);
    ::close(m_nSaved);
}

} // namespace Test
