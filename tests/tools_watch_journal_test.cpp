// vidoderavev-watch following a journald of the test's own that demos report
// into: live, and later from a copy of its files.
#include <unistd.h>

#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/PrivateJournald.h"
#include "support/ToolProcess.h"

#if VIDODERAVEV_WATCH_JOURNAL

using Test::CPrivateJournald;
using Test::CTemporaryDirectory;
using Test::ReadFileOrEmpty;

namespace {

const std::string g_sWatch = VIDODERAVEV_WATCH_PATH;
const std::string g_sDemo = VIDODERAVEV_DEMO_PATH;

std::string LocalTime(std::time_t seconds)
{
    std::tm local = {};
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", ::localtime_r(&seconds, &local));
    return text;
}

} // namespace

TEST(WatchJournal, FollowsTwoDemosAndReadsTheSameFromTheirFiles)
{
    const std::string unavailable = CPrivateJournald::WhyUnavailable();
    if (!unavailable.empty())
        GTEST_SKIP() << unavailable;
    CTemporaryDirectory directory;
    const std::string since = LocalTime(std::time(nullptr) - 5);
    const std::vector<std::string> watch = {g_sWatch, "--plain", "--exit-after", "2", "--since", since};
    bool skipped = false;
    const std::string failure = CPrivateJournald::Run(
        directory,
        [&]() -> std::string {
            std::vector<std::string> live = watch;
            live.insert(live.begin() + 1, "--journal");
            ToolTest::CChildProcess watcher(live, "", directory / "live.out", directory / "live.err");
            ToolTest::CChildProcess first({g_sDemo, "--journal", "--duration", "1"}, "", directory / "1.out",
                                          directory / "1.err");
            ToolTest::CChildProcess second({g_sDemo, "--journal", "--duration", "1"}, "", directory / "2.out",
                                           directory / "2.err");
            // The work runs in a child process: what the test needs afterwards
            // goes through files.
            ::Test::WriteTextFile(directory / "pids",
                                  std::to_string(first.Pid()) + "\n" + std::to_string(second.Pid()) + "\n");
            if (first.Wait(30.0) != 0 || second.Wait(30.0) != 0)
                return "a demo failed: " + ReadFileOrEmpty(directory / "1.err") + ReadFileOrEmpty(directory / "2.err");
            if (watcher.Wait(30.0) != 0)
                return "the watcher did not end: " + ReadFileOrEmpty(directory / "live.err");
            // What the journal holds, for comparison outside.
            ::Test::WriteTextFile(directory / "warnings",
                                  ToolTest::RunProcess({CPrivateJournald::JournalctlPath(), "--all", "-o", "cat",
                                                        "VIDODERAVEV_LEVEL=WARNING"})
                                      .m_sOutput);
            return std::string();
        },
        skipped);
    if (skipped)
        GTEST_SKIP() << failure;
    ASSERT_EQ("", failure);
    const std::vector<std::string> live =
        ToolTest::WithoutEta(ToolTest::SplitLines(ReadFileOrEmpty(directory / "live.out")));
    char host[256] = "";
    ::gethostname(host, sizeof(host));
    const std::vector<std::string> pids = ToolTest::SplitLines(ReadFileOrEmpty(directory / "pids"));
    ASSERT_EQ(2u, pids.size());
    const std::string output = "\n" + ReadFileOrEmpty(directory / "live.out");
    for (const std::string& pid : pids) {
        const std::string label = std::string(host) + "/" + pid;
        EXPECT_NE(std::string::npos, output.find("\n" + label + " PROGRESS 100%")) << output;
        EXPECT_NE(std::string::npos, output.find("\n" + label + " FINISHED\n")) << output;
    }
    // Every warning of both, in the journal's order.
    std::vector<std::string> shown;
    for (const std::string& line : live) {
        const std::size_t at = line.find(" WARNING: ");
        if (at == std::string::npos)
            continue;
        const std::string text = line.substr(at + 10);
        shown.push_back(text.compare(0, 1, "[") == 0 ? text.substr(text.find("] ") + 2) : text);
    }
    EXPECT_FALSE(shown.empty());
    EXPECT_EQ(ToolTest::SplitLines(ReadFileOrEmpty(directory / "warnings")), shown);

    // The files as systemd-journal-remote would have gathered them.
    const ToolTest::SProcessResult copied =
        ToolTest::RunProcess({"/bin/cp", "-r", directory / "run-log/journal", directory / "copy"});
    ASSERT_EQ(0, copied.m_nStatus) << copied.m_sErrors;
    std::vector<std::string> fromFiles = watch;
    fromFiles.insert(fromFiles.begin() + 1, {"--journal-dir", directory / "copy"});
    const ToolTest::SProcessResult read = ToolTest::RunProcess(fromFiles, "", 30.0);
    EXPECT_EQ(0, read.m_nStatus) << read.m_sErrors;
    EXPECT_EQ(live, ToolTest::WithoutEta(ToolTest::SplitLines(read.m_sOutput)));
}

#endif
