#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/make_shared.hpp>

#include <vidOderavev/Diagnostics.h>
#include <vidOderavev/Progress/JournalEntry.h>
#include <vidOderavev/Progress/JournalVisualizer.h>
#include <vidOderavev/Progress/Logger.h>

#include "support/PrivateJournald.h"
#include "support/TemporaryDirectory.h"
#include "support/ToolProcess.h"

using namespace Qz::Varnel::Progress;

namespace {

typedef std::map<std::string, std::string> TEntry;

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

// Runs inside the private journald's namespace: the host reporting into it.
std::string ReportIntoJournal(const std::string& identifier)
{
    std::string diagnostics;
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
    return diagnostics;
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
    const std::string unavailable = ::Test::CPrivateJournald::WhyUnavailable();
    if (!unavailable.empty())
        GTEST_SKIP() << unavailable;
    const char* journalctl = ::Test::CPrivateJournald::JournalctlPath();
    ::Test::CTemporaryDirectory directory;
    const std::string identifier = "vidoderavev-test-" + std::to_string(::getpid());
    bool skipped = false;
    const std::string failure = ::Test::CPrivateJournald::Run(
        directory, [&] { return ReportIntoJournal(identifier); }, skipped);
    if (skipped)
        GTEST_SKIP() << failure;
    ASSERT_EQ(failure, "");

    const ToolTest::SProcessResult read =
        ToolTest::RunProcess({journalctl, "--directory=" + directory.Path() + "/run-log/journal", "-o", "export",
                              "--all", "SYSLOG_IDENTIFIER=" + identifier});
    ASSERT_EQ(read.m_nStatus, 0) << read.m_sErrors;
    std::vector<std::string> seen;
    for (TEntry& entry : ParseExport(read.m_sOutput)) {
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
