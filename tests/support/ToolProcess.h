#ifndef VIDODERAVEV_TESTS_TOOLPROCESS_H
#define VIDODERAVEV_TESTS_TOOLPROCESS_H

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "support/TemporaryDirectory.h"

namespace ToolTest {

using Test::SplitLines;
using Test::WaitFor;

// A program started in the background with standard input from a file (or
// /dev/null) and standard output and error into files.
class CChildProcess
{
public:
    CChildProcess(const std::vector<std::string>& argv, const std::string& inputFile, const std::string& outputFile,
                  const std::string& errorFile);
    // Kills the process if it still runs.
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    pid_t Pid() const { return m_nPid; }
    void Signal(int signalNumber);
    // Waits up to the timeout; returns the exit status, 128 + signal number
    // for a process ended by a signal, or -1 when it still runs (it is then
    // killed).
    int Wait(double timeoutSeconds);
    bool IsRunning();

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

// Runs a program to its end with the given bytes on standard input.
SProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input = std::string(),
                          double timeoutSeconds = 60.0);

} // namespace ToolTest

#endif
