#include "support/FileTestSupport.h"

#include <cerrno>
#include <cstdio>
#include <stdexcept>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vidOderavev/Libraries/Fileio/FileioUnix.h>

namespace Test {
namespace FileSupport {

int CountOpenDescriptors()
{
    DIR* directory = ::opendir("/proc/self/fd");
    if (!directory)
        return -1;
    int count = 0;
    while (::readdir(directory))
        ++count;
    ::closedir(directory);
    return count;
}

CFailHandlerScope::CFailHandlerScope(const boost::shared_ptr<Qz::Varnel::Fileio::CFailHandler>& handler)
    : m_oPrevious(Qz::Varnel::Fileio::g_oFailHandler)
{
    Qz::Varnel::Fileio::g_oFailHandler = handler;
}

CFailHandlerScope::~CFailHandlerScope() { Qz::Varnel::Fileio::g_oFailHandler = m_oPrevious; }

CScriptedFailHandler::CScriptedFailHandler(const std::string& answers, std::function<void()> onQuestion)
    : m_sAnswers(answers), m_oOnQuestion(std::move(onQuestion))
{
}

bool CScriptedFailHandler::Answer()
{
    if (m_oOnQuestion)
        m_oOnQuestion();
    if (m_sAnswers.empty())
        return false;
    const char answer = m_sAnswers[0];
    m_sAnswers.erase(0, 1);
    return answer == 'y';
}

bool CScriptedFailHandler::WriteFailure(int handle)
{
    ++m_nWriteQuestions;
    m_nLastHandle = handle;
    return Answer();
}

bool CScriptedFailHandler::OpenFailure(const std::string& fileName)
{
    ++m_nOpenQuestions;
    m_sLastFileName = fileName;
    return Answer();
}

namespace {

void WriteAll(int handle, const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(handle, data.data() + done, data.size() - done);
        if (n <= 0 && errno != EINTR)
            return;
        if (n > 0)
            done += static_cast<std::size_t>(n);
    }
}

bool ReadSome(int handle, std::string& into)
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(handle, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, static_cast<std::size_t>(n));
            return true;
        }
        if (n == 0 || errno != EINTR)
            return false;
    }
}

} // namespace

SChildResult RunInChild(const std::function<std::string()>& body, const std::string& stdinData,
                        const std::function<std::string(const std::string&)>& interact)
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
        ::close(input[0]);
        ::close(input[1]);
        ::close(error[0]);
        ::close(error[1]);
        ::close(report[0]);
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
    ::close(input[0]);
    ::close(error[1]);
    ::close(report[1]);
    // A child that is done before it read its script must not kill us.
    struct sigaction ignore = {}, previous = {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &previous);
    int stdinHandle = input[1];
    if (!interact) {
        // Small scripts fit into the pipe; the child reads them when it asks.
        WriteAll(stdinHandle, stdinData);
        ::close(stdinHandle);
        stdinHandle = -1;
    }
    SChildResult result;
    while (ReadSome(error[0], result.m_sStderr)) {
        if (stdinHandle != -1) {
            const std::string answer = interact(result.m_sStderr);
            if (!answer.empty()) {
                WriteAll(stdinHandle, answer);
                ::close(stdinHandle);
                stdinHandle = -1;
            }
        }
    }
    if (stdinHandle != -1)
        ::close(stdinHandle);
    while (ReadSome(report[0], result.m_sReport)) {
    }
    ::close(error[0]);
    ::close(report[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ::sigaction(SIGPIPE, &previous, nullptr);
    result.m_nExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string DescribeFileioError(const std::function<void()>& call)
{
    try {
        call();
    } catch (const Qz::Varnel::Fileio::CFileioError& error) {
        return error.GetDescription() + "|" + std::to_string(error.GetErrorCode());
    }
    return "no exception";
}

} // namespace FileSupport
} // namespace Test
