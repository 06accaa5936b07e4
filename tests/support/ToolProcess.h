#ifndef VIDODERAVEV_TESTS_TOOLPROCESS_H
#define VIDODERAVEV_TESTS_TOOLPROCESS_H

#include <csignal>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/TemporaryDirectory.h"

namespace ToolTest {

using Test::SplitLines;
using Test::WaitFor;

// A program started in the background, standard input from a file (or /dev/null), output and error into files.
class CChildProcess
{
public:
    CChildProcess(const std::vector<std::string>& argv, const std::string& inputFile, const std::string& outputFile,
                  const std::string& errorFile)
    {
        std::vector<char*> arguments;
        for (const std::string& argument : argv)
            arguments.push_back(const_cast<char*>(argument.c_str()));
        arguments.push_back(nullptr);
        const std::string input = inputFile.empty() ? "/dev/null" : inputFile;
        m_nPid = ::fork();
        if (m_nPid < 0)
            throw std::runtime_error("fork failed");
        if (m_nPid != 0)
            return;
        const int in = ::open(input.c_str(), O_RDONLY);
        const int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0)
            ::_exit(126);
        // The test runner may ignore these; the programs under test must not inherit that.
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGPIPE, SIG_DFL);
        ::execv(arguments[0], arguments.data());
        ::_exit(127);
    }
    ~CChildProcess() { Wait(0.0); }
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    pid_t Pid() const { return m_nPid; }
    void Signal(int signalNumber)
    {
        if (IsRunning())
            ::kill(m_nPid, signalNumber);
    }
    // The exit status, 128 + signal number when ended by a signal, or -1 (then killed) after the timeout.
    int Wait(double timeoutSeconds)
    {
        if (WaitFor(timeoutSeconds, [this] { return !IsRunning(); }))
            return m_nStatus;
        ::kill(m_nPid, SIGKILL);
        ::waitpid(m_nPid, nullptr, 0);
        m_nStatus = -2;
        return -1;
    }
    bool IsRunning()
    {
        int status = 0;
        if (m_nStatus != -1 || m_nPid <= 0)
            return false;
        if (::waitpid(m_nPid, &status, WNOHANG) != m_nPid)
            return true;
        m_nStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return false;
    }

private:
    pid_t m_nPid = -1;
    int m_nStatus = -1;
};

struct SProcessResult
{
    int m_nStatus = -1;
    std::string m_sOutput;
    std::string m_sErrors;
};

inline SProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input = std::string(),
                                 double timeoutSeconds = 60.0)
{
    Test::CTemporaryDirectory directory;
    Test::WriteTextFile(directory / "in", input);
    SProcessResult result;
    result.m_nStatus = CChildProcess(argv, directory / "in", directory / "out", directory / "err").Wait(timeoutSeconds);
    result.m_sOutput = Test::ReadFileOrEmpty(directory / "out");
    result.m_sErrors = Test::ReadFileOrEmpty(directory / "err");
    return result;
}

// The port a program reported after the prefix in the error file; 0 until it has.
inline int PortAfter(const std::string& errorFile, const std::string& prefix)
{
    const std::string errors = Test::ReadFileOrEmpty(errorFile);
    const std::size_t at = errors.find(prefix);
    return at == std::string::npos ? 0 : std::atoi(errors.c_str() + at + prefix.size());
}

// The watcher's lines without the time remaining, which depends on the clock.
inline std::vector<std::string> WithoutEta(std::vector<std::string> lines)
{
    for (std::string& line : lines) {
        const std::size_t at = line.find(" [ETA ");
        if (at != std::string::npos)
            line.erase(at, line.find(']', at) - at + 1);
    }
    return lines;
}

} // namespace ToolTest

#endif
