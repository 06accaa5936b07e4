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

// Appends what one read gives; false at the end of input or on an error.
bool ReadSome(int handle, std::string& into)
{
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(handle, buffer, sizeof buffer)) < 0 && errno == EINTR) {
    }
    into.append(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    return n > 0;
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
        } catch (...) {
            result = "unknown exception";
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
    while (ReadSome(error[0], result.m_sStderr)) {
    }
    while (ReadSome(report[0], result.m_sReport)) {
    }
    ::close(error[0]);
    ::close(report[0]);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    ::sigaction(SIGPIPE, &previous, nullptr);
    return result;
}

} // namespace FileSupport
} // namespace Test
