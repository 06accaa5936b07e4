// vidoderavev-watch listening on the loopback address for several streams at
// once, fed by simulated senders and by demo processes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/TemporaryDirectory.h"
#include "support/ToolProcess.h"

using Test::CTemporaryDirectory;
using Test::ReadFile;
using Test::ReadFileOrEmpty;

namespace {

const std::string g_sWatch = VIDODERAVEV_WATCH_PATH;
const std::string g_sDemo = VIDODERAVEV_DEMO_PATH;

// A watcher on 127.0.0.1 with a port of the system's choosing.
class CListeningWatcher
{
public:
    // limits: shell commands run before the watcher, such as "ulimit -n 20; ".
    CListeningWatcher(const CTemporaryDirectory& directory, const std::vector<std::string>& arguments,
                      const std::string& limits = std::string())
        : m_oDirectory(directory)
    {
        std::vector<std::string> argv = {g_sWatch, "--listen", "127.0.0.1:0"};
        if (!limits.empty())
            argv.insert(argv.begin(), {"/bin/sh", "-c", limits + "exec \"$0\" \"$@\""});
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        m_pProcess.reset(
            new ToolTest::CChildProcess(argv, "", directory.File("watch.out"), directory.File("watch.err")));
        const std::string prefix = "listening on 127.0.0.1:";
        ToolTest::WaitFor(10.0,
                          [&] { return ReadFileOrEmpty(directory.File("watch.err")).find('\n') != std::string::npos; });
        const std::string errors = ReadFileOrEmpty(directory.File("watch.err"));
        const std::size_t at = errors.find(prefix);
        if (at != std::string::npos)
            m_nPort = std::atoi(errors.c_str() + at + prefix.size());
    }

    int Port() const { return m_nPort; }
    ToolTest::CChildProcess& Process() { return *m_pProcess; }
    std::string Output() const { return ReadFileOrEmpty(m_oDirectory.File("watch.out")); }

private:
    const CTemporaryDirectory& m_oDirectory;
    std::unique_ptr<ToolTest::CChildProcess> m_pProcess;
    int m_nPort = 0;
};

// A connection to the watcher; -1 when it fails.
int Connect(int port)
{
    const int descriptor = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (descriptor >= 0 && ::connect(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0)
        return descriptor;
    ::close(descriptor);
    return -1;
}

// Sends the document in small pieces with pauses, as a slow producer would.
void Send(int port, const std::string& document, std::size_t piece)
{
    const int descriptor = Connect(port);
    if (descriptor >= 0) {
        for (std::size_t at = 0; at < document.size(); at += piece) {
            const std::string part = document.substr(at, piece);
            if (::send(descriptor, part.data(), part.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(part.size()))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    ::close(descriptor);
}

std::string NetworkDocument(const std::string& host, int pid, int records)
{
    const std::string id = "<HOSTNAME>" + host + "</HOSTNAME>\n<PID>" + std::to_string(pid) + "</PID>\n";
    std::string document = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n<LOG_STREAM>\n";
    for (int i = 1; i <= records; ++i) {
        document += "<LOG>\n<TIME>2026-12-06 10:00:00</TIME>\n<TYPE>INFO</TYPE>\n" + id +
                    "<TID>7</TID>\n<TEXT>record " + std::to_string(i) + " &amp; more</TEXT>\n</LOG>\n\n";
        document += "<PROGRESS>\n" + std::string(i == 1 ? "<TEXT>Job " + host + "</TEXT>\n" : "") + "<PERCENTAGE>" +
                    std::to_string(100 * i / records) + "</PERCENTAGE>\n" + id + "</PROGRESS>\n\n";
    }
    return document + "<PROGRESS>\n<PERCENTAGE>-1</PERCENTAGE>\n</PROGRESS>\n</LOG_STREAM>\n\n";
}

std::vector<std::string> LinesOf(const std::vector<std::string>& lines, const std::string& label)
{
    std::vector<std::string> result;
    for (const std::string& line : lines)
        if (line.compare(0, label.size() + 1, label + " ") == 0)
            result.push_back(line);
    return result;
}

// File names keep letters, digits, '.', '-' and '_' of the host name.
std::string MakeStem(const std::string& host)
{
    std::string stem;
    for (char c : host)
        stem += std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_' ? c : '_';
    return stem;
}

// The time remaining depends on when a record arrived; the rest of a line
// does not.
std::string StripEta(std::string line)
{
    const std::size_t at = line.find(" [ETA ");
    if (at != std::string::npos)
        line.erase(at, line.find(']', at) - at + 1);
    return line;
}

} // namespace

TEST(WatchListen, CollectsAThousandStreamsAndDropsOnlyTheMalformedOne)
{
    const int crowd = 1000;
    // The test holds every connection open at once.
    rlimit limit = {};
    ASSERT_EQ(0, ::getrlimit(RLIMIT_NOFILE, &limit));
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < static_cast<rlim_t>(crowd + 100))
        GTEST_SKIP() << "the descriptor limit is below " << crowd + 100;
    CTemporaryDirectory directory;
    CTemporaryDirectory saved;
    CListeningWatcher watcher(directory, {"--save", saved.Path(), "--exit-after", std::to_string(4 + crowd)});
    ASSERT_GT(watcher.Port(), 0) << ReadFile(directory.File("watch.err"));
    // One sends half a record and then nothing: it must hold no other back.
    const std::string half = NetworkDocument("stalled", 1, 1).substr(0, 90);
    const int stalled = Connect(watcher.Port());
    ASSERT_EQ(static_cast<ssize_t>(half.size()), ::send(stalled, half.data(), half.size(), MSG_NOSIGNAL));
    std::vector<int> crowdConnections;
    for (int i = 0; i < crowd; ++i)
        crowdConnections.push_back(Connect(watcher.Port()));

    std::vector<std::string> documents;
    for (int i = 0; i < 3; ++i)
        documents.push_back(NetworkDocument("host" + std::to_string(i), 100 + i, 40));
    const std::string broken = NetworkDocument("bad", 9, 40).substr(0, 600) + "</WRONG>\n" + std::string(200, 'x');
    std::vector<std::thread> senders;
    for (int i = 0; i < 3; ++i)
        senders.emplace_back([&, i] { Send(watcher.Port(), documents[i], 37 + 10 * i); });
    senders.emplace_back([&] { Send(watcher.Port(), broken, 50); });
    for (int i = 0; i < crowd; ++i) {
        const std::string document = NetworkDocument("n" + std::to_string(i), i, 2);
        EXPECT_EQ(static_cast<ssize_t>(document.size()),
                  ::send(crowdConnections[i], document.data(), document.size(), MSG_NOSIGNAL));
    }
    for (int descriptor : crowdConnections)
        ::close(descriptor);
    for (std::thread& sender : senders)
        sender.join();

    EXPECT_EQ(0, watcher.Process().Wait(60.0));
    ::close(stalled);
    const std::vector<std::string> lines = ToolTest::SplitLines(watcher.Output());
    for (int i = 0; i < crowd; ++i) {
        const std::string stem = "n" + std::to_string(i) + "-" + std::to_string(i);
        ASSERT_EQ(NetworkDocument("n" + std::to_string(i), i, 2), ReadFileOrEmpty(saved.File(stem + ".xml"))) << stem;
    }
    EXPECT_EQ(3 + crowd, std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
                  return line.size() > 9 && line.compare(line.size() - 9, 9, " FINISHED") == 0;
              }));
    // The stalled stream has not named itself: its copy is under its address.
    const std::vector<std::string> files = saved.Entries();
    const auto stalledFile = std::find_if(
        files.begin(), files.end(), [](const std::string& name) { return name.compare(0, 10, "127.0.0.1_") == 0; });
    ASSERT_NE(files.end(), stalledFile);
    EXPECT_EQ(half, ReadFile(saved.File(*stalledFile)));
    for (int i = 0; i < 3; ++i) {
        const std::string label = "host" + std::to_string(i) + "/" + std::to_string(100 + i);
        const std::vector<std::string> own = LinesOf(lines, label);
        // 40 log and 40 progress records, then the end.
        ASSERT_EQ(81u, own.size()) << label;
        EXPECT_EQ(label + " 2026-12-06 10:00:00 INFO: record 1 & more", own[0]);
        EXPECT_EQ(0u, own[1].find(label + " PROGRESS 2% ")) << own[1];
        EXPECT_EQ(" Job host" + std::to_string(i), own[1].substr(own[1].find(" Job"))) << own[1];
        EXPECT_EQ(label + " FINISHED", own.back());
        const std::string file = saved.File("host" + std::to_string(i) + "-" + std::to_string(100 + i) + ".xml");
        EXPECT_EQ(documents[i], ReadFile(file)) << file;
    }
    const std::vector<std::string> bad = LinesOf(lines, "bad/9");
    ASSERT_FALSE(bad.empty());
    EXPECT_EQ(0u, bad.back().find("bad/9 MALFORMED at line ")) << bad.back();
    EXPECT_EQ(1, std::count_if(lines.begin(), lines.end(),
                               [](const std::string& line) { return line.find("MALFORMED") != std::string::npos; }));
    // What arrived of the malformed stream up to the drop is kept as well.
    const std::string badFile = ReadFile(saved.File("bad-9.xml"));
    EXPECT_EQ(0u, broken.find(badFile.substr(0, 600)));
    EXPECT_GE(badFile.size(), 600u);
}

TEST(WatchListen, StopsOnSigintWhileStreamsAreOpen)
{
    CTemporaryDirectory directory;
    CListeningWatcher watcher(directory, {});
    ASSERT_GT(watcher.Port(), 0);
    std::thread sender([&] { Send(watcher.Port(), NetworkDocument("slow", 1, 3).substr(0, 300), 300); });
    sender.join();
    ToolTest::WaitFor(5.0, [&] { return watcher.Output().find("slow/1") != std::string::npos; });
    watcher.Process().Signal(SIGINT);
    EXPECT_EQ(0, watcher.Process().Wait(10.0));
}

TEST(WatchListen, ThreeDemoProcessesStreamingAtOnce)
{
    CTemporaryDirectory directory;
    CTemporaryDirectory saved;
    CListeningWatcher watcher(directory, {"--save", saved.Path(), "--exit-after", "3"});
    ASSERT_GT(watcher.Port(), 0);
    const std::string target = "127.0.0.1:" + std::to_string(watcher.Port());
    std::vector<std::unique_ptr<ToolTest::CChildProcess>> demos;
    for (int i = 0; i < 3; ++i) {
        const std::string log = directory.File("demo" + std::to_string(i));
        demos.emplace_back(new ToolTest::CChildProcess(
            {g_sDemo, "--net", target, "--log", log, "--duration", "2", "--threads", std::to_string(i + 1)}, "",
            log + ".out", log + ".err"));
    }
    for (auto& demo : demos)
        EXPECT_EQ(0, demo->Wait(60.0));
    EXPECT_EQ(0, watcher.Process().Wait(30.0));

    char host[256] = {};
    ::gethostname(host, sizeof(host) - 1);
    const std::vector<std::string> lines = ToolTest::SplitLines(watcher.Output());
    for (int i = 0; i < 3; ++i) {
        const std::string pid = std::to_string(demos[i]->Pid());
        const std::string label = std::string(host) + "/" + pid;
        const std::vector<std::string> own = LinesOf(lines, label);
        ASSERT_FALSE(own.empty()) << label << "\n" << watcher.Output();
        EXPECT_EQ(label + " FINISHED", own.back());
        // Every message line of the run reached the collector: as many as the
        // demo's own log file holds, each with the same text.
        const std::string log = ReadFile(directory.File("demo" + std::to_string(i) + ".log"));
        std::size_t messages = 0;
        for (const std::string& line : own) {
            if (line.find(" PROGRESS ") != std::string::npos || line == label + " FINISHED")
                continue;
            ++messages;
            const std::string text = line.substr(label.size() + 1 + 19);
            EXPECT_TRUE(text.find("Total Runtime") != std::string::npos || log.find(text + "\r\n") != std::string::npos)
                << line;
        }
        EXPECT_EQ(ToolTest::SplitLines(log).size(), messages) << label;
        // The saved copy is the complete document as sent.
        const std::string file = ReadFile(saved.File(MakeStem(host) + "-" + pid + ".xml"));
        EXPECT_EQ(0u, file.find("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n<LOG_STREAM>\n"));
        EXPECT_EQ("</LOG_STREAM>\n\n", file.substr(file.size() - 15));
        const ToolTest::SProcessResult reread = ToolTest::RunProcess({g_sWatch}, file);
        std::vector<std::string> rereadLines = ToolTest::SplitLines(reread.m_sOutput);
        std::vector<std::string> ownWithoutEta;
        for (std::string line : own)
            ownWithoutEta.push_back(StripEta(line));
        for (std::string& line : rereadLines)
            line = StripEta(line);
        EXPECT_EQ(ownWithoutEta, rereadLines) << label;
    }
}

TEST(WatchListen, ClosesIdleConnectionsSoThatWaitingStreamsGetIn)
{
    CTemporaryDirectory directory;
    CTemporaryDirectory saved;
    // Descriptors for about a dozen saved connections once the watcher has
    // raised its soft limit to the hard one; the rest wait, and every one
    // taken in gets its save file.
    CListeningWatcher watcher(directory, {"--save", saved.Path(), "--idle-timeout", "1", "--exit-after", "31"},
                              "ulimit -S -n 10 && ulimit -H -n 33 && ");
    ASSERT_GT(watcher.Port(), 0) << ReadFileOrEmpty(directory.File("watch.err"));
    const std::string limits = ReadFile("/proc/" + std::to_string(watcher.Process().Pid()) + "/limits");
    EXPECT_NE(std::string::npos, limits.find("Max open files            33                   33 ")) << limits;

    std::vector<int> idle;
    for (int i = 0; i < 30; ++i) {
        idle.push_back(Connect(watcher.Port()));
        const std::string prologue = NetworkDocument("idle", i, 1).substr(0, 70);
        ::send(idle.back(), prologue.data(), prologue.size(), MSG_NOSIGNAL);
    }
    Send(watcher.Port(), NetworkDocument("late", 1, 2), 1000);
    EXPECT_EQ(0, watcher.Process().Wait(30.0));
    for (int descriptor : idle)
        ::close(descriptor);
    const std::vector<std::string> lines = ToolTest::SplitLines(watcher.Output());
    EXPECT_EQ(30,
              std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.find(" IDLE TIMEOUT after 70 bytes at line 2: nothing received for 1 s") !=
                                       std::string::npos;
                            }))
        << watcher.Output();
    EXPECT_EQ("late/1 FINISHED", LinesOf(lines, "late/1").back());
    EXPECT_EQ(NetworkDocument("late", 1, 2), ReadFileOrEmpty(saved.File("late-1.xml")));
    const std::string errors = ReadFile(directory.File("watch.err"));
    EXPECT_EQ(std::string::npos, errors.find("cannot create")) << errors;
}
