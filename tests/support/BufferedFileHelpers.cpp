#include "support/BufferedFileHelpers.h"

#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include "support/TemporaryDirectory.h"

namespace Test {

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

std::string CStderrRedirect::Text() const { return ReadFileOrEmpty(m_sPath); }

} // namespace Test
