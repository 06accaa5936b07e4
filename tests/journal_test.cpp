#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <map>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/make_shared.hpp>

#include <vidOderavev/Diagnostics.h>
#include <vidOderavev/Progress/JournalEntry.h>
#include <vidOderavev/Progress/JournalVisualizer.h>
#include <vidOderavev/Progress/Logger.h>

#include "support/TemporaryDirectory.h"
#include "support/ToolProcess.h"

using namespace Qz::Varnel::Progress;

namespace {

typedef std::map<std::string, std::string> TEntry;

const char* FirstExisting(std::initializer_list<const char*> paths)
{
    for (const char* path : paths)
        if (::access(path, X_OK) == 0)
            return path;
    return nullptr;
}

// Entries in journalctl's export format: "NAME=value" lines, or the name
// alone followed by a 64-bit little-endian size and the bytes for a value
// that is not plain text; an empty line ends an entry.
std::vector<TEntry> ParseExport(const std::string& text)
{
    std::vector<TEntry> entries(1);
    for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos;) {
        const std::string line = text.substr(at, end - at);
        const std::size_t equals = line.find('=');
        at = end + 1;
        if (line.empty()) {
            entries.emplace_back();
        } else if (equals != std::string::npos) {
            entries.back()[line.substr(0, equals)] = line.substr(equals + 1);
        } else {
            uint64_t size = 0;
            for (int byte = 7; byte >= 0; --byte)
                size = (size << 8) | static_cast<unsigned char>(text.at(at + byte));
            entries.back()[line] = text.substr(at + 8, size);
            at += 8 + size + 1;
        }
    }
    if (entries.back().empty())
        entries.pop_back();
    return entries;
}

const int g_nSkip = 77;

// Runs in a child process: a mount namespace of its own, where a tmpfs over
// /run and the test's directories over /run/log and /var/log hide the
// machine's journal, a journald of its own, and the host reporting into it.
int ReportIntoPrivateJournald(const char* journald, const char* journalctl,
                              const ::Test::CTemporaryDirectory& directory, const std::string& identifier)
{
    const auto fail = [&directory](const std::string& why, int status) {
        ::Test::WriteTextFile(directory / "why", why);
        return status;
    };
    if (::unshare(CLONE_NEWNS) != 0)
        return fail("unshare(CLONE_NEWNS) is not permitted here", g_nSkip);
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0 || ::mkdir("/run/log", 0755) != 0 ||
        ::mount((directory / "run-log").c_str(), "/run/log", nullptr, MS_BIND, nullptr) != 0 ||
        ::mount((directory / "var-log").c_str(), "/var/log", nullptr, MS_BIND, nullptr) != 0)
        return fail(std::string("mounting in the private namespace failed: ") + std::strerror(errno), g_nSkip);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (directory / "journald.out").c_str(), O_WRONLY | O_CREAT, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    char* const journaldArgv[] = {const_cast<char*>(journald), nullptr};
    pid_t daemon = -1;
    const int spawned = posix_spawn(&daemon, journald, &actions, nullptr, journaldArgv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return fail("systemd-journald could not be started", 1);
    const bool ready = ::Test::WaitFor(10.0, [] { return ::access("/run/systemd/journal/socket", F_OK) == 0; });

    std::string diagnostics;
    if (ready) {
        Qz::Varnel::Detail::SetDiagnosticSink([&diagnostics](const std::string& text) { diagnostics += text; });
        auto logger = boost::make_shared<CLogger>("Simulation", 1.0, 100.0);
        auto visualizer = boost::make_shared<CJournalVisualizer>(identifier);
        logger->SetNotificationLevel(VerbosityTrace);
        visualizer->AddLogger(logger);
        logger->Message(VerbosityWarning, "first line\nsecond line", "task-7");
        logger->Message(VerbosityError, "bad \xff\xfe bytes");
        logger->Message(VerbosityDebug, std::string(100 * 1024, 'z'));
        logger->SetProgress(42.0, true);
        visualizer->ProgressChanged(logger, true);
        logger->SetText(0, "Writing");
        visualizer->ProgressChanged(logger, true);
        visualizer->Clear();
        Qz::Varnel::Detail::SetDiagnosticSink(nullptr);
        // Every entry sent so far is in the file when this returns.
        ToolTest::RunProcess({journalctl, "--sync"}, "", 10.0);
    }
    ::kill(daemon, SIGTERM);
    ::waitpid(daemon, nullptr, 0);
    if (!ready)
        return fail("systemd-journald did not open its socket: " + ::Test::ReadFileOrEmpty(directory / "journald.out"),
                    1);
    return diagnostics.empty() ? 0 : fail(diagnostics, 1);
}

} // namespace

// The fields of every kind of entry; values are kept whole, whatever their
// bytes, and the task identifier only when given.
TEST(JournalEntry, FieldsOfEveryKind)
{
    const std::string bytes("x\xff\xfe=\n\0y", 7), big(100 * 1024, 'b');
    const char* const levels[] = {"", "FATAL", "ERROR", "WARNING", "INFO", "LOG", "DEBUG", "TRACE"};
    const char* const priorities = "22345677";
    Detail::CJournalEntry entry;
    const auto fields = [&entry](const std::string& text, char priority, const std::string& logger,
                                 const std::string& more) {
        std::string built, expected = "MESSAGE=" + text + "|PRIORITY=" + priority +
                                      "|SYSLOG_IDENTIFIER=host|VIDODERAVEV_LOGGER=" + logger + more + "|";
        for (const iovec& field : entry.Iovecs())
            built.append(static_cast<const char*>(field.iov_base), field.iov_len).append("|");
        EXPECT_EQ(built, expected);
    };
    for (int level = 0; level <= 7; ++level) {
        Detail::BuildJournalMessage(entry, "host", "a line", static_cast<_EVerbosityLevel>(level), "", "Root");
        fields("a line", priorities[level], "Root", level ? std::string("|VIDODERAVEV_LEVEL=") + levels[level] : "");
    }
    Detail::BuildJournalMessage(entry, "host", big, VerbosityWarning, bytes, bytes);
    fields(big, '4', bytes, "|VIDODERAVEV_LEVEL=WARNING|VIDODERAVEV_TASK_ID=" + bytes);
    Detail::BuildJournalProgress(entry, "host", "Loading", 0.4213376, boost::posix_time::seconds(90));
    fields("Loading: 42.134 %", '6', "Loading",
           "|VIDODERAVEV_PROGRESS=0.421338|VIDODERAVEV_TIME_REMAINING_US=90000000");
    Detail::BuildJournalProgress(entry, "host", "", 1.0, boost::posix_time::pos_infin);
    fields("100 %", '6', "", "|VIDODERAVEV_PROGRESS=1");
    Detail::BuildJournalProgressEnd(entry, "host", "Loading");
    fields("Loading: end of progress", '6', "Loading", "|VIDODERAVEV_PROGRESS=-1");
}

TEST(JournalVisualizer, WithoutAJournalStaysSilentAndSaysSoOnce)
{
    if (::access("/run/systemd/journal/socket", F_OK) == 0)
        GTEST_SKIP() << "a journald runs on this machine; the test must not write into it";
    std::vector<std::string> diagnostics;
    Qz::Varnel::Detail::SetDiagnosticSink([&diagnostics](const std::string& text) { diagnostics.push_back(text); });
    {
        auto logger = boost::make_shared<CLogger>("Root", 1.0, 10.0);
        auto visualizer = boost::make_shared<CJournalVisualizer>("test");
        visualizer->AddLogger(logger);
        logger->Message(VerbosityError, "first\nsecond");
        logger->SetProgress(5.0, true);
        visualizer->Clear();
    }
    Qz::Varnel::Detail::SetDiagnosticSink(nullptr);
    ASSERT_EQ(diagnostics.size(), 1u);
    EXPECT_NE(diagnostics[0].find("/run/systemd/journal/socket"), std::string::npos) << diagnostics[0];
}

TEST(JournalVisualizer, EntriesAsARealJournaldStoresThem)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "starting a journald of its own in a private mount namespace needs root";
    const char* journald = FirstExisting({"/lib/systemd/systemd-journald", "/usr/lib/systemd/systemd-journald"});
    const char* journalctl = FirstExisting({"/usr/bin/journalctl", "/bin/journalctl"});
    if (!journald || !journalctl)
        GTEST_SKIP() << "systemd-journald or journalctl is not installed (Debian package systemd)";
    ::Test::CTemporaryDirectory directory;
    ASSERT_EQ(::mkdir((directory / "run-log").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((directory / "var-log").c_str(), 0755), 0);
    const std::string identifier = "vidoderavev-test-" + std::to_string(::getpid());

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        ::_exit(ReportIntoPrivateJournald(journald, journalctl, directory, identifier));
    int status = 0;
    if (!::Test::WaitFor(60.0, [&] { return ::waitpid(child, &status, WNOHANG) == child; })) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        FAIL() << "the reporting host did not finish";
    }
    ASSERT_TRUE(WIFEXITED(status)) << status;
    if (WEXITSTATUS(status) == g_nSkip)
        GTEST_SKIP() << ::Test::ReadFileOrEmpty(directory / "why");
    ASSERT_EQ(WEXITSTATUS(status), 0) << ::Test::ReadFileOrEmpty(directory / "why");

    const ToolTest::SProcessResult read =
        ToolTest::RunProcess({journalctl, "--directory=" + directory.Path() + "/run-log/journal", "-o", "export",
                              "--all", "SYSLOG_IDENTIFIER=" + identifier});
    ASSERT_EQ(read.m_nStatus, 0) << read.m_sErrors;
    // Priority, level, logger, task, progress and text of each entry.
    std::vector<std::string> seen;
    for (TEntry& entry : ParseExport(read.m_sOutput)) {
        EXPECT_EQ(entry["_TRANSPORT"], "journal");
        EXPECT_EQ(entry.count("CODE_FILE"), 0u);
        // The time remaining depends on the clock: known and whole, or not there.
        const std::string remaining = entry["VIDODERAVEV_TIME_REMAINING_US"];
        EXPECT_EQ(remaining.find_first_not_of("0123456789"), std::string::npos) << remaining;
        if (entry["MESSAGE"].compare(0, 15, "Total Runtime: ") == 0)
            entry["MESSAGE"] = "Total Runtime";
        seen.push_back(entry["PRIORITY"] + "|" + entry["VIDODERAVEV_LEVEL"] + "|" + entry["VIDODERAVEV_LOGGER"] + "|" +
                       entry["VIDODERAVEV_TASK_ID"] + "|" + entry["VIDODERAVEV_PROGRESS"] + "|" + entry["MESSAGE"]);
    }
    const std::vector<std::string> expected = {
        "5|INFO|Simulation|||Startup",
        "4|WARNING|Simulation|task-7||first line",
        "4|WARNING|Simulation|task-7||second line",
        "3|ERROR|Simulation|||bad \xff\xfe bytes",
        "7|DEBUG|Simulation|||" + std::string(100 * 1024, 'z'),
        "6||Simulation||0.42|Simulation: 42 %",
        "6||Writing||0.42|Writing: 42 %",
        "5|INFO|Writing|||Total Runtime",
        "6||Writing||-1|Writing: end of progress",
    };
    EXPECT_EQ(seen, expected);
}
