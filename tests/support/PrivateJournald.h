#ifndef VIDODERAVEV_TESTS_PRIVATEJOURNALD_H
#define VIDODERAVEV_TESTS_PRIVATEJOURNALD_H

#include <functional>
#include <string>

#include "support/TemporaryDirectory.h"

namespace Test {

// A systemd-journald of a test's own, so that tests never write into the machine's journal: in a child
// process with a mount namespace of its own, a tmpfs over /run and directory/run-log and directory/var-log
// over /run/log and /var/log hide it; the journald there keeps its files in directory/run-log/journal.
class CPrivateJournald
{
public:
    // Why no private journald can be started here (not root, systemd not installed); empty when it can.
    static std::string WhyUnavailable();
    static const char* JournalctlPath();

    // Runs work inside the namespace with the journald running, then has journalctl --sync every entry
    // into the files. work returns "" on success, otherwise what went wrong. Returns the same (or why
    // the journald failed); skipped is set when the namespace could not be made at all.
    static std::string Run(const CTemporaryDirectory& directory, const std::function<std::string()>& work,
                           bool& skipped, double timeoutSeconds = 60.0);
};

} // namespace Test

#endif
