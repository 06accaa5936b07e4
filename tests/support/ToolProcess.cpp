#include "support/ToolProcess.h"

#include <chrono>
#include <csignal>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/TemporaryDirectory.h"

namespace ToolTest {

CChildProcess::CChildProcess(const std::vector<std::string>& argv, const std::string& inputFile,
                             const std::string& outputFile, const std::string& errorFile)
{
    std::vector<char*> arguments;
    for (const std::string& argument : argv)
        arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);
    const std::string input = inputFile.empty() ? "/dev/null" : inputFile;
    m_nPid = ::fork();
    if (m_nPid < 0)
        throw std::runtime_error("fork failed");
    if (m_nPid == 0) {
        const int in = ::open(input.c_str(), O_RDONLY);
        const int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0)
            ::_exit(126);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        // The test runner may ignore these; the programs under test must not
        // inherit that.
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGPIPE, SIG_DFL);
        ::execv(arguments[0], arguments.data());
        ::_exit(127);
    }
}

CChildProcess::~CChildProcess()
{
    if (IsRunning()) {
        ::kill(m_nPid, SIGKILL);
        Wait(10.0);
    }
}

void CChildProcess::Signal(int signalNumber)
{
    if (IsRunning())
        ::kill(m_nPid, signalNumber);
}

bool CChildProcess::IsRunning()
{
    if (m_nStatus != -1 || m_nPid <= 0)
        return false;
    int status = 0;
    if (::waitpid(m_nPid, &status, WNOHANG) == m_nPid) {
        m_nStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return false;
    }
    return true;
}

int CChildProcess::Wait(double timeoutSeconds)
{
    WaitFor(timeoutSeconds, [this] { return !IsRunning(); });
    if (IsRunning()) {
        ::kill(m_nPid, SIGKILL);
        int status = 0;
        ::waitpid(m_nPid, &status, 0);
        m_nStatus = -2;
        return -1;
    }
    return m_nStatus;
}

SProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input, double timeoutSeconds)
{
    Test::CTemporaryDirectory directory;
    Test::WriteTextFile(directory.File("in"), input);
    SProcessResult result;
    {
        CChildProcess process(argv, directory.File("in"), directory.File("out"), directory.File("err"));
        result.m_nStatus = process.Wait(timeoutSeconds);
    }
    result.m_sOutput = Test::ReadFileOrEmpty(directory.File("out"));
    result.m_sErrors = Test::ReadFileOrEmpty(directory.File("err"));
    return result;
}

} // namespace ToolTest
