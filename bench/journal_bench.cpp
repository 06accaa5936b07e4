// CLogger::Message through a CJournalVisualizer, against sd_journal_sendv of
// the same fields. The entries go to a socket of this program's own, bound at
// the journal's address inside a private mount namespace and drained by a
// thread, so the machine's journal never sees them (root is needed for the
// namespace). The CPU times are printed at the end as multiples of the bare
// sd_journal_sendv's.

#include <benchmark/benchmark.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>

#include <boost/make_shared.hpp>

#include <vidOderavev/Progress/JournalVisualizer.h>
#include <vidOderavev/Progress/Logger.h>

#include "support/BenchSupport.h"

using namespace Qz::Varnel::Progress;

namespace {

const char g_acText[] = "Processed block 12345 of 99999: checksum 0x3fa2 verified";
const char g_acSocket[] = "/run/systemd/journal/socket";

// A datagram socket at the journal's address whose entries are read and
// thrown away, as journald would read them.
class CJournalSink
{
public:
    bool Open(std::string& why)
    {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0) {
            why = "a private mount namespace needs root";
            return false;
        }
        ::mkdir("/run/systemd", 0755);
        ::mkdir("/run/systemd/journal", 0755);
        m_nSocket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, g_acSocket);
        const int size = 8 << 20;
        ::setsockopt(m_nSocket, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        if (::bind(m_nSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            why = "the journal socket could not be bound";
            return false;
        }
        m_oDrain = std::thread([this] {
            std::vector<char> buffer(1 << 20);
            pollfd wait = {m_nSocket, POLLIN, 0};
            while (!m_bStop.load())
                if (::poll(&wait, 1, 100) > 0)
                    while (::recv(m_nSocket, buffer.data(), buffer.size(), MSG_DONTWAIT) >= 0) {
                    }
        });
        return true;
    }
    ~CJournalSink()
    {
        m_bStop.store(true);
        if (m_oDrain.joinable())
            m_oDrain.join();
        if (m_nSocket >= 0)
            ::close(m_nSocket);
    }

private:
    int m_nSocket = -1;
    std::atomic<bool> m_bStop{false};
    std::thread m_oDrain;
};

void BM_SendvSameFields(benchmark::State& state)
{
    // The fields the output sends for the same message line.
    std::vector<std::string> fields = {std::string("MESSAGE=") + g_acText, "PRIORITY=5", "SYSLOG_IDENTIFIER=bench",
                                       "VIDODERAVEV_LOGGER=bench", "VIDODERAVEV_LEVEL=INFO"};
    std::vector<iovec> iovecs;
    for (std::string& field : fields)
        iovecs.push_back({&field[0], field.size()});
    for (auto _ : state)
        benchmark::DoNotOptimize(sd_journal_sendv(iovecs.data(), static_cast<int>(iovecs.size())));
}
BENCHMARK(BM_SendvSameFields);

void BM_LoggerMessageThroughJournalVisualizer(benchmark::State& state)
{
    auto logger = boost::make_shared<CLogger>("bench");
    const std::string text = g_acText;
    auto visualizer = boost::make_shared<CJournalVisualizer>("bench");
    visualizer->AddLogger(logger);
    for (auto _ : state)
        logger->Message(VerbosityInfo, text);
    visualizer->Clear();
}
BENCHMARK(BM_LoggerMessageThroughJournalVisualizer);

void BM_ShowMessageOnJournalVisualizer(benchmark::State& state)
{
    auto logger = boost::make_shared<CLogger>("bench");
    const std::string text = g_acText;
    const std::string stamp = "2026-12-06 10:00:00";
    const std::string task;
    auto visualizer = boost::make_shared<CJournalVisualizer>("bench");
    visualizer->AddLogger(logger);
    for (auto _ : state)
        visualizer->ShowMessage(text, VerbosityInfo, stamp, task);
    visualizer->Clear();
}
BENCHMARK(BM_ShowMessageOnJournalVisualizer);

} // namespace

int main(int argc, char** argv)
{
    CJournalSink sink;
    std::string why;
    if (!sink.Open(why)) {
        std::printf("journal_bench: skipped, %s\n", why.c_str());
        return 0;
    }
    return Bench::RunAndPrintCpuRatios(argc, argv, "BM_SendvSameFields", "sd_journal_sendv of the same fields",
                                       "Target: CLogger::Message through the journal output at most 1.3x.\n");
}
