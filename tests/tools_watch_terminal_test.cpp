// vidoderavev-watch on a terminal: run inside tmux, read back with
// capture-pane. Skipped when tmux is not installed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/TemporaryDirectory.h"
#include "support/ToolProcess.h"

using Test::CTemporaryDirectory;
using Test::ReadFile;
using Test::ReadFileOrEmpty;

namespace {

const std::string g_sWatch = VIDODERAVEV_WATCH_PATH;

std::string FindTmux()
{
    const char* path = std::getenv("PATH");
    std::istringstream directories(path != nullptr ? path : "/usr/bin:/bin");
    std::string directory;
    while (std::getline(directories, directory, ':'))
        if (!directory.empty() && ::access((directory + "/tmux").c_str(), X_OK) == 0)
            return directory + "/tmux";
    return std::string();
}

// A tmux server of the test's own, so that nothing of the user's is touched.
class CTmux
{
public:
    explicit CTmux(const std::string& tmux) : m_sTmux(tmux), m_sSocket("vidoderavev-test-" + std::to_string(::getpid()))
    {
    }
    ~CTmux() { Run({"kill-server"}); }

    ToolTest::SProcessResult Run(const std::vector<std::string>& arguments) const
    {
        std::vector<std::string> argv = {m_sTmux, "-L", m_sSocket};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return ToolTest::RunProcess(argv, "", 20.0);
    }
    std::string Capture() const { return Run({"capture-pane", "-p", "-t", "watch"}).m_sOutput; }

private:
    std::string m_sTmux;
    std::string m_sSocket;
};

// One open connection to the watcher.
class CSender
{
public:
    explicit CSender(int port) : m_nDescriptor(::socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_bConnected = ::connect(m_nDescriptor, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    }
    ~CSender() { ::close(m_nDescriptor); }
    bool IsConnected() const { return m_bConnected; }
    void Send(const std::string& bytes) { ::send(m_nDescriptor, bytes.data(), bytes.size(), MSG_NOSIGNAL); }

private:
    int m_nDescriptor;
    bool m_bConnected = false;
};

std::string Progress(const std::string& host, const std::string& text, const std::string& percentage)
{
    return "<PROGRESS>\n<TEXT>" + text + "</TEXT>\n<PERCENTAGE>" + percentage + "</PERCENTAGE>\n<HOSTNAME>" + host +
           "</HOSTNAME>\n<PID>1</PID>\n</PROGRESS>\n\n";
}

std::vector<std::string> LinesWith(const std::string& screen, const std::string& part)
{
    std::vector<std::string> result;
    for (const std::string& line : ToolTest::SplitLines(screen))
        if (line.find(part) != std::string::npos)
            result.push_back(line);
    return result;
}

} // namespace

TEST(WatchTerminal, ShowsBarsCountsLostAndStalledStreamsAndRestoresTheScreen)
{
    const std::string tmuxPath = FindTmux();
    if (tmuxPath.empty())
        GTEST_SKIP() << "tmux is not installed";
    CTemporaryDirectory directory;
    CTmux tmux(tmuxPath);
    const std::string command = g_sWatch + " --listen 127.0.0.1:0 --level WARNING 2>" + directory.File("err") +
                                "; echo WATCH-EXIT=$?; sleep 60";
    ASSERT_EQ(0, tmux.Run({"new-session", "-d", "-s", "watch", "-x", "100", "-y", "24", command}).m_nStatus);
    ASSERT_TRUE(ToolTest::WaitFor(
        10.0, [&] { return ReadFileOrEmpty(directory.File("err")).find('\n') != std::string::npos; }));
    const std::string errors = ReadFile(directory.File("err"));
    const std::size_t at = errors.find("127.0.0.1:");
    ASSERT_NE(std::string::npos, at) << errors;
    const int port = std::atoi(errors.c_str() + at + 10);

    const std::string prologue = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n<LOG_STREAM>\n";
    std::vector<std::unique_ptr<CSender>> senders;
    const char* const percentages[] = {"10", "50", "90"};
    for (int i = 0; i < 3; ++i) {
        senders.emplace_back(new CSender(port));
        ASSERT_TRUE(senders.back()->IsConnected());
        const std::string host = "node" + std::to_string(i);
        senders.back()->Send(prologue + Progress(host, "Job " + std::to_string(i), percentages[i]));
    }
    senders[1]->Send("<LOG>\n<TIME>2026-12-06 10:00:09</TIME>\n<TYPE>WARNING</TYPE>\n<HOSTNAME>node1</HOSTNAME>\n"
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
    EXPECT_NE(std::string::npos, bars[0].find("10.0%")) << bars[0];
    EXPECT_NE(std::string::npos, bars[1].find("50.0%")) << bars[1];
    EXPECT_NE(std::string::npos, bars[2].find("90.0%")) << bars[2];
    // The bars grow with the percentage.
    EXPECT_LT(std::count(bars[0].begin(), bars[0].end(), '#'), std::count(bars[1].begin(), bars[1].end(), '#'));
    EXPECT_LT(std::count(bars[1].begin(), bars[1].end(), '#'), std::count(bars[2].begin(), bars[2].end(), '#'));
    EXPECT_NE(std::string::npos, screen.find("10:00:09 node1/1 WARNING disk nearly full")) << screen;
    EXPECT_EQ(std::string::npos, screen.find("filtered out"));
    EXPECT_NE(std::string::npos, screen.find("3 running, 0 ended"));
    // Filtered or not, every warning counts.
    EXPECT_NE(std::string::npos, bars[1].find("E:0 W:1")) << bars[1];
    EXPECT_NE(std::string::npos, bars[0].find("E:0 W:0")) << bars[0];

    // One stream ends properly; its line says so.
    senders[2]->Send("<PROGRESS>\n<PERCENTAGE>-1</PERCENTAGE>\n</PROGRESS>\n</LOG_STREAM>\n\n");
    ASSERT_TRUE(ToolTest::WaitFor(10.0, [&] {
        screen = tmux.Capture();
        return screen.find("finished") != std::string::npos;
    })) << screen;
    EXPECT_NE(std::string::npos, screen.find("2 running, 1 ended"));

    // One is cut off without its closing record: lost, at its last percentage.
    senders[0].reset();
    ASSERT_TRUE(ToolTest::WaitFor(10.0, [&] {
        screen = tmux.Capture();
        return LinesWith(screen, " lost").size() == 1;
    })) << screen;
    EXPECT_NE(std::string::npos, LinesWith(screen, " lost")[0].find("node0/1 Job 0")) << screen;
    EXPECT_NE(std::string::npos, LinesWith(screen, " lost")[0].find("10.0%")) << screen;
    // The last has not moved since it began: after ten seconds it is stalled
    // instead of showing a time that keeps growing.
    ASSERT_TRUE(ToolTest::WaitFor(20.0, [&] {
        screen = tmux.Capture();
        return LinesWith(screen, "stalled").size() == 1;
    })) << screen;
    EXPECT_NE(std::string::npos, LinesWith(screen, "stalled")[0].find("node1/1 Job 1")) << screen;

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
}
