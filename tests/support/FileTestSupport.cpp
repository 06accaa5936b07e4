#include "support/FileTestSupport.h"

#include <cerrno>
#include <csignal>
#include <cstdio>

#include <sys/wait.h>
#include <unistd.h>

namespace Test {
namespace FileSupport {

namespace {

void WriteAll(int handle, const std::string& data)
{
    for (std::size_t done = 0; done < data.size();) {
        const ssize_t n = ::write(handle, data.data() + done, data.size() - done);
        if (n <= 0 && errno != EINTR)
            return;
        done += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
}

// Everything up to the end of input (or an error).
std::string ReadAll(int handle)
{
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(handle, buffer, sizeof buffer)) != 0;) {
        if (n > 0)
            text.append(buffer, static_cast<std::size_t>(n));
        else if (errno != EINTR)
            break;
    }
    return text;
}

} // namespace

SChildResult RunInChild(const std::function<std::string()>& body, const std::string& stdinData)
{
    int input[2], error[2], report[2];
    if (::pipe(input) != 0 || ::pipe(error) != 0 || ::pipe(report) != 0)
        throw std::runtime_error("pipe failed");
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::alarm(20);
        ::dup2(input[0], STDIN_FILENO);
        ::dup2(error[1], STDERR_FILENO);
        for (int handle : {input[0], input[1], error[0], error[1], report[0]})
            ::close(handle);
        std::clearerr(stdin);
        std::string result;
        try {
            result = body();
        } catch (const std::exception& exception) {
            result = std::string("exception: ") + exception.what();
        }
        WriteAll(report[1], result);
        ::_exit(0);
    }
    for (int handle : {input[0], error[1], report[1]})
        ::close(handle);
    // A child that is done before it read its script must not kill us.
    struct sigaction ignore = {}, previous = {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &previous);
    // Small scripts fit into the pipe; the child reads them when it asks.
    WriteAll(input[1], stdinData);
    ::close(input[1]);
    SChildResult result;
    result.m_sStderr = ReadAll(error[0]);
    result.m_sReport = ReadAll(report[0]);
    ::close(error[0]);
    ::close(report[0]);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    ::sigaction(SIGPIPE, &previous, nullptr);
    return result;
}

} // namespace FileSupport
} // namespace Test
