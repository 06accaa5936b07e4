#include "demo/Interrupt.h"

#include <atomic>
#include <csignal>
#include <mutex>

namespace Qz {
namespace Varnel {
namespace Demo {

namespace {

std::atomic<bool> g_bStopRequested(false);
std::mutex g_oFailureMutex;
std::string g_sFailure;
std::string g_sReport;
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");

extern "C" void OnInterrupt(int signalNumber)
{
    g_bStopRequested.store(true);
    std::signal(signalNumber, SIG_DFL);
}

} // namespace

void InstallInterruptHandlers()
{
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    // A closed terminal or a supervisor's hang-up is a request to stop like
    // any other: the outputs still get their ends.
    ::sigaction(SIGHUP, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

bool IsStopRequested() { return g_bStopRequested.load(); }

void RequestStop(const std::string& failure)
{
    {
        std::lock_guard<std::mutex> lock(g_oFailureMutex);
        const std::string text = failure.empty() ? "unknown failure" : failure;
        if (g_sFailure.empty())
            g_sFailure = text;
        if (g_sReport.empty())
            g_sReport = text;
    }
    g_bStopRequested.store(true);
}

void RequestQuietStop(const std::string& failure)
{
    {
        std::lock_guard<std::mutex> lock(g_oFailureMutex);
        if (g_sFailure.empty())
            g_sFailure = failure.empty() ? "unknown failure" : failure;
    }
    g_bStopRequested.store(true);
}

std::string GetFailure()
{
    std::lock_guard<std::mutex> lock(g_oFailureMutex);
    return g_sFailure;
}

std::string GetFailureReport()
{
    std::lock_guard<std::mutex> lock(g_oFailureMutex);
    return g_sReport;
}

} // namespace Demo
} // namespace Varnel
} // namespace Qz
