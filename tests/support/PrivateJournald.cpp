#include "support/PrivateJournald.h"

#include <cerrno>
#include <cstring>
#include <initializer_list>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/ToolProcess.h"

namespace Test {

namespace {

const int g_nSkip = 77;

const char* FirstExisting(std::initializer_list<const char*> paths)
{
    for (const char* path : paths)
        if (::access(path, X_OK) == 0)
            return path;
    return nullptr;
}

const char* JournaldPath()
{
    return FirstExisting({"/lib/systemd/systemd-journald", "/usr/lib/systemd/systemd-journald"});
}

// In the child: returns its exit status, with the reason in directory/why.
int RunInNamespace(const CTemporaryDirectory& directory, const std::function<std::string()>& work)
{
    const auto fail = [&directory](const std::string& why, int status) {
        WriteTextFile(directory / "why", why);
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
    const char* journald = JournaldPath();
    char* const journaldArgv[] = {const_cast<char*>(journald), nullptr};
    pid_t daemon = -1;
    const int spawned = posix_spawn(&daemon, journald, &actions, nullptr, journaldArgv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return fail("systemd-journald could not be started", 1);
    const bool ready = WaitFor(10.0, [] { return ::access("/run/systemd/journal/socket", F_OK) == 0; });
    std::string why;
    if (ready) {
        why = work();
        // Every entry sent so far is in the files when this returns.
        ToolTest::RunProcess({CPrivateJournald::JournalctlPath(), "--sync"}, "", 10.0);
    }
    ::kill(daemon, SIGTERM);
    ::waitpid(daemon, nullptr, 0);
    if (!ready)
        return fail("systemd-journald did not open its socket: " + ReadFileOrEmpty(directory / "journald.out"), 1);
    return why.empty() ? 0 : fail(why, 1);
}

} // namespace

std::string CPrivateJournald::WhyUnavailable()
{
    if (::geteuid() != 0)
        return "starting a journald of its own in a private mount namespace needs root";
    if (!JournaldPath() || !JournalctlPath())
        return "systemd-journald or journalctl is not installed (Debian package systemd)";
    return std::string();
}

const char* CPrivateJournald::JournalctlPath() { return FirstExisting({"/usr/bin/journalctl", "/bin/journalctl"}); }

std::string CPrivateJournald::Run(const CTemporaryDirectory& directory, const std::function<std::string()>& work,
                                  bool& skipped, double timeoutSeconds)
{
    skipped = false;
    if (::mkdir((directory / "run-log").c_str(), 0755) != 0 || ::mkdir((directory / "var-log").c_str(), 0755) != 0)
        return std::string("cannot make the journal directories: ") + std::strerror(errno);
    const pid_t child = ::fork();
    if (child < 0)
        return std::string("fork: ") + std::strerror(errno);
    if (child == 0)
        ::_exit(RunInNamespace(directory, work));
    int status = 0;
    if (!WaitFor(timeoutSeconds, [&] { return ::waitpid(child, &status, WNOHANG) == child; })) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        return "the work with the private journald did not finish";
    }
    if (!WIFEXITED(status))
        return "the work with the private journald ended by signal " + std::to_string(WTERMSIG(status));
    skipped = WEXITSTATUS(status) == g_nSkip;
    return WEXITSTATUS(status) == 0 ? std::string() : ReadFileOrEmpty(directory / "why");
}

} // namespace Test
