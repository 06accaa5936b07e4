// vidoderavev-watch listening on the loopback address for several streams at once, fed by simulated
// senders and by a demo process; and on a terminal, run inside tmux and read back with capture-pane.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <chrono>
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
const std::string g_sTmux = "/usr/bin/tmux";
const std::string g_sPrologue = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n<LOG_STREAM>\n";

// Starts a watcher on 127.0.0.1 with a port of the system's choosing, after the shell commands in
// limits (such as "ulimit -n 20 && "); returns the port, 0 when it reported none.
int StartWatcher(std::unique_ptr<ToolTest::CChildProcess>& watcher, const CTemporaryDirectory& directory,
                 const std::vector<std::string>& arguments, const std::string& limits = std::string())
{
    std::vector<std::string> argv = {g_sWatch, "--listen", "127.0.0.1:0"};
    if (!limits.empty())
        argv.insert(argv.begin(), {"/bin/sh", "-c", limits + "exec \"$0\" \"$@\""});
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    watcher.reset(new ToolTest::CChildProcess(argv, "", directory / "watch.out", directory / "watch.err"));
    int port = 0;
    ToolTest::WaitFor(10.0, [&] { return (port = ToolTest::PortAfter(directory / "watch.err", "127.0.0.1:")) > 0; });
    return port;
}

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

void SendAll(int descriptor, const std::string& bytes) { ::send(descriptor, bytes.data(), bytes.size(), MSG_NOSIGNAL); }

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
    std::string document = g_sPrologue;
    for (int i = 1; i <= records; ++i) {
        document += "<LOG>\n<TIME>2026-12-06 10:00:00</TIME>\n<TYPE>INFO</TYPE>\n" + id +
                    "<TID>7</TID>\n<TEXT>record " + std::to_string(i) + " &amp; more</TEXT>\n</LOG>\n\n";
        document += "<PROGRESS>\n" + std::string(i == 1 ? "<TEXT>Job " + host + "</TEXT>\n" : "") + "<PERCENTAGE>" +
                    std::to_string(100 * i / records) + "</PERCENTAGE>\n" + id + "</PROGRESS>\n\n";
    }
    return document + "<PROGRESS>\n<PERCENTAGE>-1</PERCENTAGE>\n</PROGRESS>\n</LOG_STREAM>\n\n";
}

// A tmux server of the test's own, so that nothing of the user's is touched.
class CTmux
{
public:
    CTmux() : m_sSocket("vidoderavev-test-" + std::to_string(::getpid())) {}
    ~CTmux() { Run({"kill-server"}); }

    ToolTest::SProcessResult Run(const std::vector<std::string>& arguments) const
    {
        std::vector<std::string> argv = {g_sTmux, "-L", m_sSocket};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return ToolTest::RunProcess(argv, "", 20.0);
    }
    std::string Capture() const { return Run({"capture-pane", "-p", "-t", "watch"}).m_sOutput; }

private:
    std::string m_sSocket;
};

std::string Progress(const std::string& host, const std::string& text, const std::string& percentage)
{
    return "<PROGRESS>\n<TEXT>" + text + "</TEXT>\n<PERCENTAGE>" + percentage + "</PERCENTAGE>\n<HOSTNAME>" + host +
           "</HOSTNAME>\n<PID>1</PID>\n</PROGRESS>\n\n";
}

std::vector<std::string> LinesWith(const std::string& text, const std::string& part)
{
    std::vector<std::string> result;
    for (const std::string& line : ToolTest::SplitLines(text))
        if (line.find(part) != std::string::npos)
            result.push_back(line);
    return result;
}

} // namespace

TEST(WatchListen, CollectsAThousandStreamsAndADemoAndDropsOnlyTheMalformedOne)
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
    std::unique_ptr<ToolTest::CChildProcess> watcher;
    const int port =
        StartWatcher(watcher, directory, {"--save", saved.Path(), "--exit-after", std::to_string(5 + crowd)});
    ASSERT_GT(port, 0) << ReadFileOrEmpty(directory / "watch.err");
    const std::string log = directory / "demo";
    ToolTest::CChildProcess demo(
        {g_sDemo, "--net", "127.0.0.1:" + std::to_string(port), "--log", log, "--duration", "2", "--threads", "2"}, "",
        log + ".out", log + ".err");
    // One sends half a record and then nothing: it must hold no other back.
    const std::string half = NetworkDocument("stalled", 1, 1).substr(0, 90);
    const int stalled = Connect(port);
    ASSERT_EQ(static_cast<ssize_t>(half.size()), ::send(stalled, half.data(), half.size(), MSG_NOSIGNAL));
    std::vector<int> crowdConnections;
    for (int i = 0; i < crowd; ++i)
        crowdConnections.push_back(Connect(port));

    std::vector<std::string> documents;
    for (int i = 0; i < 3; ++i)
        documents.push_back(NetworkDocument("host" + std::to_string(i), 100 + i, 40));
    const std::string broken = NetworkDocument("bad", 9, 40).substr(0, 600) + "</WRONG>\n" + std::string(200, 'x');
    std::vector<std::thread> senders;
    for (int i = 0; i < 3; ++i)
        senders.emplace_back([&, i] { Send(port, documents[i], 37 + 10 * i); });
    senders.emplace_back([&] { Send(port, broken, 50); });
    for (int i = 0; i < crowd; ++i) {
        const std::string document = NetworkDocument("n" + std::to_string(i), i, 2);
        EXPECT_EQ(static_cast<ssize_t>(document.size()),
                  ::send(crowdConnections[i], document.data(), document.size(), MSG_NOSIGNAL));
    }
    for (int descriptor : crowdConnections)
        ::close(descriptor);
    for (std::thread& sender : senders)
        sender.join();

    EXPECT_EQ(0, demo.Wait(60.0));
    EXPECT_EQ(0, watcher->Wait(60.0));
    ::close(stalled);
    const std::string output = ReadFile(directory / "watch.out");
    for (int i = 0; i < crowd; ++i) {
        const std::string stem = "n" + std::to_string(i) + "-" + std::to_string(i);
        ASSERT_EQ(NetworkDocument("n" + std::to_string(i), i, 2), ReadFileOrEmpty(saved.File(stem + ".xml"))) << stem;
    }
    EXPECT_EQ(4u + crowd, LinesWith(output, " FINISHED").size());
    // The stalled stream has not named itself: its copy is under its address.
    const std::vector<std::string> files = saved.Entries();
    const auto stalledFile = std::find_if(
        files.begin(), files.end(), [](const std::string& name) { return name.compare(0, 10, "127.0.0.1_") == 0; });
    ASSERT_NE(files.end(), stalledFile);
    EXPECT_EQ(half, ReadFile(saved.File(*stalledFile)));
    for (int i = 0; i < 3; ++i) {
        const std::string label = "host" + std::to_string(i) + "/" + std::to_string(100 + i);
        const std::vector<std::string> own = LinesWith(output, label + " ");
        // 40 log and 40 progress records, then the end.
        ASSERT_EQ(81u, own.size()) << label;
        EXPECT_EQ(label + " 2026-12-06 10:00:00 INFO: record 1 & more", own[0]);
        EXPECT_EQ(0u, own[1].find(label + " PROGRESS 2% ")) << own[1];
        EXPECT_EQ(" Job host" + std::to_string(i), own[1].substr(own[1].find(" Job"))) << own[1];
        const std::string file = saved.File("host" + std::to_string(i) + "-" + std::to_string(100 + i) + ".xml");
        EXPECT_EQ(documents[i], ReadFile(file)) << file;
    }
    EXPECT_EQ(1u, LinesWith(output, "bad/9 MALFORMED at line ").size());
    EXPECT_EQ(1u, LinesWith(output, "MALFORMED").size());
    // What arrived of the malformed stream up to the drop is kept as well.
    const std::string badFile = ReadFile(saved.File("bad-9.xml"));
    EXPECT_EQ(broken.substr(0, 600), badFile.substr(0, 600));

    // Every message line of the demo reached the collector: as many as its own log file holds, each
    // with the same text; its saved copy, read again, gives the same lines.
    char host[256] = {};
    ::gethostname(host, sizeof(host) - 1);
    const std::string label = std::string(host) + "/" + std::to_string(demo.Pid());
    const std::vector<std::string> own = ToolTest::WithoutEta(LinesWith(output, label + " "));
    ASSERT_FALSE(own.empty()) << label;
    EXPECT_EQ(label + " FINISHED", own.back());
    const std::string demoLog = ReadFile(log + ".log");
    std::size_t messages = 0;
    for (const std::string& line : own) {
        if (line.find(" PROGRESS ") != std::string::npos || line == label + " FINISHED")
            continue;
        ++messages;
        const std::string text = line.substr(label.size() + 1 + 19);
        EXPECT_TRUE(text.find("Total Runtime") != std::string::npos || demoLog.find(text + "\r\n") != std::string::npos)
            << line;
    }
    EXPECT_EQ(ToolTest::SplitLines(demoLog).size(), messages);
    // A host name has only the characters that a file name keeps.
    const std::string copy = ReadFile(saved / (std::string(host) + "-" + std::to_string(demo.Pid()) + ".xml"));
    EXPECT_EQ(own, ToolTest::WithoutEta(ToolTest::SplitLines(ToolTest::RunProcess({g_sWatch}, copy).m_sOutput)));
}

TEST(WatchListen, ClosesIdleConnectionsSoThatWaitingStreamsGetIn)
{
    CTemporaryDirectory directory;
    CTemporaryDirectory saved;
    // Descriptors for about a dozen saved connections once the watcher has raised its soft limit to
    // the hard one; the rest wait, and every one taken in gets its save file.
    std::unique_ptr<ToolTest::CChildProcess> watcher;
    const int port =
        StartWatcher(watcher, directory, {"--save", saved.Path(), "--idle-timeout", "1", "--exit-after", "31"},
                     "ulimit -S -n 10 && ulimit -H -n 33 && ");
    ASSERT_GT(port, 0) << ReadFileOrEmpty(directory.File("watch.err"));
    const std::string limits = ReadFile("/proc/" + std::to_string(watcher->Pid()) + "/limits");
    EXPECT_NE(std::string::npos, limits.find("Max open files            33                   33 ")) << limits;

    std::vector<int> idle;
    for (int i = 0; i < 30; ++i) {
        idle.push_back(Connect(port));
        SendAll(idle.back(), NetworkDocument("idle", i, 1).substr(0, 70));
    }
    Send(port, NetworkDocument("late", 1, 2), 1000);
    EXPECT_EQ(0, watcher->Wait(30.0));
    for (int descriptor : idle)
        ::close(descriptor);
    const std::string output = ReadFile(directory / "watch.out");
    EXPECT_EQ(30u, LinesWith(output, " IDLE TIMEOUT after 70 bytes at line 2: nothing received for 1 s").size())
        << output;
    EXPECT_EQ("late/1 FINISHED", LinesWith(output, "late/1 ").back());
    EXPECT_EQ(NetworkDocument("late", 1, 2), ReadFileOrEmpty(saved.File("late-1.xml")));
    const std::string errors = ReadFile(directory.File("watch.err"));
    EXPECT_EQ(std::string::npos, errors.find("cannot create")) << errors;
}

TEST(WatchTerminal, ShowsBarsCountsLostAndStalledStreamsAndRestoresTheScreen)
{
    if (::access(g_sTmux.c_str(), X_OK) != 0)
        GTEST_SKIP() << "no " << g_sTmux << " to run the watcher on a terminal in (apt-get install tmux)";
    CTemporaryDirectory directory;
    CTmux tmux;
    const std::string command = g_sWatch + " --listen 127.0.0.1:0 --level WARNING 2>" + directory.File("err") +
                                "; echo WATCH-EXIT=$?; sleep 60";
    ASSERT_EQ(0, tmux.Run({"new-session", "-d", "-s", "watch", "-x", "100", "-y", "24", command}).m_nStatus);
    int port = 0;
    ASSERT_TRUE(
        ToolTest::WaitFor(10.0, [&] { return (port = ToolTest::PortAfter(directory / "err", "127.0.0.1:")) > 0; }));

    std::vector<int> senders;
    const char* const percentages[] = {"10", "50", "90"};
    for (int i = 0; i < 3; ++i) {
        senders.push_back(Connect(port));
        ASSERT_GE(senders.back(), 0);
        SendAll(senders.back(),
                g_sPrologue + Progress("node" + std::to_string(i), "Job " + std::to_string(i), percentages[i]));
    }
    SendAll(senders[1], "<LOG>\n<TIME>2026-12-06 10:00:09</TIME>\n<TYPE>WARNING</TYPE>\n<HOSTNAME>node1</HOSTNAME>\n"
                        "<PID>1</PID>\n<TID>3</TID>\n<TEXT>disk nearly full</TEXT>\n</LOG>\n\n"
                        "<LOG>\n<TIME>2026-12-06 10:00:09</TIME>\n<TYPE>INFO</TYPE>\n<HOSTNAME>node1</HOSTNAME>\n"
                        "<PID>1</PID>\n<TID>3</TID>\n<TEXT>filtered out</TEXT>\n</LOG>\n\n");

    std::string screen;
    const bool shown = ToolTest::WaitFor(10.0, [&] {
        screen = tmux.Capture();
        return LinesWith(screen, "] ").size() == 3 && screen.find("disk nearly full") != std::string::npos;
    });
    ASSERT_TRUE(shown) << screen;
    const std::vector<std::string> bars = LinesWith(screen, "] ");
    EXPECT_EQ(0u, bars[0].find("node0/1 Job 0")) << bars[0];
    for (int i = 0; i < 3; ++i)
        EXPECT_NE(std::string::npos, bars[i].find(percentages[i] + std::string(".0%"))) << bars[i];
    EXPECT_LT(std::count(bars[0].begin(), bars[0].end(), '#'), std::count(bars[1].begin(), bars[1].end(), '#'));
    EXPECT_LT(std::count(bars[1].begin(), bars[1].end(), '#'), std::count(bars[2].begin(), bars[2].end(), '#'));
    EXPECT_NE(std::string::npos, screen.find("10:00:09 node1/1 WARNING disk nearly full")) << screen;
    EXPECT_EQ(std::string::npos, screen.find("filtered out"));
    EXPECT_NE(std::string::npos, screen.find("3 running, 0 ended"));
    // Filtered or not, every warning counts.
    EXPECT_NE(std::string::npos, bars[1].find("E:0 W:1")) << bars[1];
    EXPECT_NE(std::string::npos, bars[0].find("E:0 W:0")) << bars[0];

    // One stream ends properly; its line says so.
    SendAll(senders[2], "<PROGRESS>\n<PERCENTAGE>-1</PERCENTAGE>\n</PROGRESS>\n</LOG_STREAM>\n\n");
    ASSERT_TRUE(ToolTest::WaitFor(10.0, [&] {
        screen = tmux.Capture();
        return screen.find("finished") != std::string::npos;
    })) << screen;
    EXPECT_NE(std::string::npos, screen.find("2 running, 1 ended"));

    // One is cut off without its closing record: lost, at its last percentage.
    ::close(senders[0]);
    ASSERT_TRUE(ToolTest::WaitFor(10.0, [&] {
        screen = tmux.Capture();
        return LinesWith(screen, " lost").size() == 1;
    })) << screen;
    EXPECT_NE(std::string::npos, LinesWith(screen, " lost")[0].find("node0/1 Job 0")) << screen;
    EXPECT_NE(std::string::npos, LinesWith(screen, " lost")[0].find("10.0%")) << screen;
    // The last has not moved since it began: after ten seconds it is stalled, not an ever-growing time.
    ASSERT_TRUE(ToolTest::WaitFor(20.0, [&] {
        screen = tmux.Capture();
        return LinesWith(screen, "stalled").size() == 1;
    })) << screen;

    // Ctrl-C gives the normal screen back with a summary line per stream.
    tmux.Run({"send-keys", "-t", "watch", "C-c"});
    ASSERT_TRUE(ToolTest::WaitFor(10.0, [&] {
        screen = tmux.Capture();
        return screen.find("WATCH-EXIT=") != std::string::npos;
    })) << screen;
    EXPECT_NE(std::string::npos, screen.find("WATCH-EXIT=0"));
    EXPECT_NE(std::string::npos, screen.find("node0/1 LOST at 10.0% (E:0 W:0): node0/1 TRUNCATED after")) << screen;
    EXPECT_NE(std::string::npos, screen.find("node1/1 PROGRESS 50% [stalled] Job 1 (E:0 W:1)")) << screen;
    EXPECT_NE(std::string::npos, screen.find("node2/1 FINISHED (at 90.0%; E:0 W:0)")) << screen;
    EXPECT_EQ(std::string::npos, screen.find("-- messages")) << screen;
    for (std::size_t i = 1; i < senders.size(); ++i)
        ::close(senders[i]);
}
