#include "support/BufferedFileHelpers.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include <boost/filesystem.hpp>

namespace Test {

CTemporaryDirectory::CTemporaryDirectory()
{
    char pattern[] = "/tmp/vidOderavev-test-XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_sPath = pattern;
}

CTemporaryDirectory::~CTemporaryDirectory()
{
    boost::system::error_code error;
    boost::filesystem::remove_all(m_sPath, error);
}

std::vector<std::string> CTemporaryDirectory::Entries() const
{
    std::vector<std::string> names;
    for (boost::filesystem::directory_iterator it(m_sPath), end; it != end; ++it)
        names.push_back(it->path().filename().string());
    return names;
}

std::string ReadWholeFile(const std::string& path)
{
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream content;
    content << stream.rdbuf();
    return content.str();
}

bool FileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

std::vector<std::string> SplitCrLfLines(const std::string& content)
{
    std::vector<std::string> lines;
    std::string::size_type begin = 0;
    for (;;) {
        const std::string::size_type end = content.find("\r\n", begin);
        if (end == std::string::npos)
            break;
        lines.push_back(content.substr(begin, end - begin));
        begin = end + 2;
    }
    if (begin < content.size())
        lines.push_back(content.substr(begin));
    return lines;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds deadline)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

CStderrRedirect::CStderrRedirect()
{
    char pattern[] = "/tmp/vidOderavev-stderr-XXXXXX";
    const int file = ::mkstemp(pattern);
    if (file == -1)
        throw std::runtime_error("mkstemp failed");
    m_sPath = pattern;
    std::cerr.flush();
    m_nSaved = ::dup(STDERR_FILENO);
    ::dup2(file, STDERR_FILENO);
    ::close(file);
}

CStderrRedirect::~CStderrRedirect()
{
    std::cerr.flush();
    ::dup2(m_nSaved, STDERR_FILENO);
    ::close(m_nSaved);
    ::unlink(m_sPath.c_str());
}

std::string CStderrRedirect::Text() const { return ReadWholeFile(m_sPath); }

} // namespace Test
