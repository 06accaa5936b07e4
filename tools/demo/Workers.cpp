#include "demo/Workers.h"

#include <atomic>
#include <cstdio>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include <boost/make_shared.hpp>

#include "demo/Failure.h"
#include "demo/Interrupt.h"
#include "demo/Layer.h"

namespace Qz {
namespace Varnel {
namespace Demo {

namespace {

using Progress::CLogger;

// Every item goes through a few sub-steps on the worker's own layer stack.
const int g_nSubSteps = 3;

// Texts built on the worker threads avoid Boost.Format: its parser fills a
// cache of the shared ctype facet without a lock, which ThreadSanitizer
// reports as a race between workers.
std::string ItemId(int item)
{
    char text[32];
    std::snprintf(text, sizeof(text), "item-%04d", item);
    return text;
}

void TransformRange(const boost::shared_ptr<CLogger>& child, int worker, int first, int count, double secondsPerItem,
                    std::atomic<int>& warnings)
{
    child->Message(Progress::VerbosityInfo, "Worker " + std::to_string(worker) + " started: items " +
                                                std::to_string(first) + " to " + std::to_string(first + count - 1));
    for (int i = 0; i < count && !IsStopRequested(); ++i) {
        const int item = first + i;
        const std::string id = ItemId(item);
        CLayer layer(child, "Transforming " + id, 1.0, g_nSubSteps, Progress::LayerClassOther);
        for (int step = 0; step < g_nSubSteps && !IsStopRequested(); ++step) {
            SleepUnlessStopped(secondsPerItem / g_nSubSteps);
            child->IncrementProgress();
        }
        if (item % 40 == 0)
            child->Message(Progress::VerbosityDebug, std::to_string(64 + item % 97) + " values transformed", id);
        if (item % 50 == 0)
            child->Message(Progress::VerbosityLog, "done", id);
        if (item % 100 == 0)
            child->Message(Progress::VerbosityTrace, "cache hit rate 0." + std::to_string(50 + item % 49), id);
        if (item % 151 == 11) {
            ++warnings;
            child->Message(Progress::VerbosityWarning, "value out of range, clamped to 1e6", id);
        }
    }
    child->Message(Progress::VerbosityInfo, "Worker " + std::to_string(worker) + " finished");
}

} // namespace

int TransformOnWorkers(const boost::shared_ptr<CLogger>& parent, int items, int threads, double secondsPerItem,
                       bool traceLayers)
{
    std::vector<boost::shared_ptr<CLogger>> children;
    std::vector<int> firsts;
    std::vector<int> counts;
    // Children are attached before any worker starts and removed after all
    // have been joined: the logger does not support changing them meanwhile.
    for (int worker = 0, first = 0; worker < threads; ++worker) {
        const int count = items / threads + (worker < items % threads ? 1 : 0);
        if (count == 0)
            continue;
        auto child = boost::make_shared<CLogger>("Worker " + std::to_string(worker + 1), static_cast<double>(count),
                                                 static_cast<double>(count));
        child->SetLayerTracing(traceLayers);
        parent->AddChildLogger(child);
        children.push_back(child);
        firsts.push_back(first);
        counts.push_back(count);
        first += count;
    }
    std::atomic<int> warnings(0);
    std::vector<std::thread> workers;
    try {
        for (std::size_t i = 0; i < children.size(); ++i)
            workers.emplace_back([&, i] {
                try {
                    TransformRange(children[i], static_cast<int>(i) + 1, firsts[i], counts[i], secondsPerItem,
                                   warnings);
                } catch (...) {
                    // Nothing may leave a thread function; the others stop at
                    // their next step.
                    RequestStop(DescribeCurrentError());
                }
            });
    } catch (const std::exception& error) {
        // No more threads: those that run finish their current item and stop.
        RequestStop(std::string("cannot start a worker thread: ") + error.what());
    }
    for (std::thread& worker : workers)
        worker.join();
    for (const auto& child : children)
        parent->RemoveChildLogger(child);
    return warnings.load();
}

} // namespace Demo
} // namespace Varnel
} // namespace Qz
