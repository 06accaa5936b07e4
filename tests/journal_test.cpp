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
using Detail::CJournalEntry;

namespace {

std::vector<std::string> Fields(CJournalEntry& entry)
{
    std::vector<std::string> fields;
    for (const iovec& field : entry.Iovecs())
        fields.emplace_back(static_cast<const char*>(field.iov_base), field.iov_len);
    return fields;
}

typedef std::vector<std::string> TFields;
typedef std::map<std::string, std::string> TEntry;

// Entries in journalctl's export format: "NAME=value" lines, or the name
// alone followed by a 64-bit little-endian size and the bytes for a value
// that is not plain text; an empty line ends an entry.
std::vector<TEntry> ParseExport(const std::string& text)
{
    std::vector<TEntry> entries(1);
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            break;
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        if (line.empty()) {
            entries.emplace_back();
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos) {
            entries.back()[line.substr(0, equals)] = line.substr(equals + 1);
            continue;
        }
        uint64_t size = 0;
        for (int byte = 7; byte >= 0; --byte)
            size = (size << 8) | static_cast<unsigned char>(text.at(at + byte));
        entries.back()[line] = text.substr(at + 8, size);
        at += 8 + size + 1;
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

TEST(JournalEntry, MessageFieldsPerLevel)
{
    struct SCase
    {
        _EVerbosityLevel m_eLevel;
        const char* m_pPriority;
        const char* m_pName;
    };
    const SCase cases[] = {{VerbosityNone, "2", nullptr},  {VerbosityFatal, "2", "FATAL"},
                           {VerbosityError, "3", "ERROR"}, {VerbosityWarning, "4", "WARNING"},
                           {VerbosityInfo, "5", "INFO"},   {VerbosityLog, "6", "LOG"},
                           {VerbosityDebug, "7", "DEBUG"}, {VerbosityTrace, "7", "TRACE"}};
    CJournalEntry entry;
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.m_eLevel);
        Detail::BuildJournalMessage(entry, "host", "a line", c.m_eLevel, "", "Root");
        TFields expected = {"MESSAGE=a line", std::string("PRIORITY=") + c.m_pPriority, "SYSLOG_IDENTIFIER=host",
                            "VIDODERAVEV_LOGGER=Root"};
        if (c.m_pName)
            expected.push_back(std::string("VIDODERAVEV_LEVEL=") + c.m_pName);
        EXPECT_EQ(Fields(entry), expected);
    }
}

TEST(JournalEntry, ValuesAreKeptWholeAndTaskIdOnlyWhenGiven)
{
    const std::string bytes("x\xff\xfe=\n\0y", 7);
    const std::string big(100 * 1024, 'b');
    CJournalEntry entry;
    Detail::BuildJournalMessage(entry, "host", big, VerbosityWarning, bytes, bytes);
    EXPECT_EQ(Fields(entry),
              TFields({"MESSAGE=" + big, "PRIORITY=4", "SYSLOG_IDENTIFIER=host", "VIDODERAVEV_LOGGER=" + bytes,
                       "VIDODERAVEV_LEVEL=WARNING", "VIDODERAVEV_TASK_ID=" + bytes}));
}

TEST(JournalEntry, ProgressAndEndFields)
{
    CJournalEntry entry;
    Detail::BuildJournalProgress(entry, "host", "Loading", 0.4213376, boost::posix_time::seconds(90));
    EXPECT_EQ(Fields(entry), TFields({"MESSAGE=Loading: 42.134 %", "PRIORITY=6", "SYSLOG_IDENTIFIER=host",
                                      "VIDODERAVEV_LOGGER=Loading", "VIDODERAVEV_PROGRESS=0.421338",
                                      "VIDODERAVEV_TIME_REMAINING_US=90000000"}));
    Detail::BuildJournalProgress(entry, "host", "", 1.0, boost::posix_time::pos_infin);
    EXPECT_EQ(Fields(entry), TFields({"MESSAGE=100 %", "PRIORITY=6", "SYSLOG_IDENTIFIER=host",
                                      "VIDODERAVEV_LOGGER=", "VIDODERAVEV_PROGRESS=1"}));
    Detail::BuildJournalProgressEnd(entry, "host", "Loading");
    EXPECT_EQ(Fields(entry), TFields({"MESSAGE=Loading: end of progress", "PRIORITY=6", "SYSLOG_IDENTIFIER=host",
                                      "VIDODERAVEV_LOGGER=Loading", "VIDODERAVEV_PROGRESS=-1"}));
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
    std::vector<TEntry> entries = ParseExport(read.m_sOutput);
    ASSERT_EQ(entries.size(), 9u) << read.m_sOutput.substr(0, 4000);
    for (TEntry& entry : entries) {
        EXPECT_EQ(entry["_TRANSPORT"], "journal");
        EXPECT_EQ(entry.count("CODE_FILE"), 0u);
        // The time remaining depends on the clock: known and whole, or not there.
        const std::string remaining = entry["VIDODERAVEV_TIME_REMAINING_US"];
        EXPECT_EQ(remaining.find_first_not_of("0123456789"), std::string::npos) << remaining;
        for (auto field = entry.begin(); field != entry.end();)
            field = field->first.compare(0, 12, "VIDODERAVEV_") == 0 || field->first == "MESSAGE" ||
                            field->first == "PRIORITY"
                        ? std::next(field)
                        : entry.erase(field);
        entry.erase("VIDODERAVEV_TIME_REMAINING_US");
    }
    const std::string total = entries[7]["MESSAGE"];
    EXPECT_EQ(total.compare(0, 15, "Total Runtime: "), 0) << total;
    entries[7]["MESSAGE"] = "Total Runtime";

    const auto message = [](const std::string& text, const char* priority, const char* level, const std::string& logger,
                            const char* task) {
        TEntry entry = {
            {"MESSAGE", text}, {"PRIORITY", priority}, {"VIDODERAVEV_LEVEL", level}, {"VIDODERAVEV_LOGGER", logger}};
        if (task)
            entry["VIDODERAVEV_TASK_ID"] = task;
        return entry;
    };
    const auto progress = [](const std::string& text, const std::string& logger, const char* fraction) {
        return TEntry{
            {"MESSAGE", text}, {"PRIORITY", "6"}, {"VIDODERAVEV_LOGGER", logger}, {"VIDODERAVEV_PROGRESS", fraction}};
    };
    const std::vector<TEntry> expected = {
        message("Startup", "5", "INFO", "Simulation", nullptr),
        message("first line", "4", "WARNING", "Simulation", "task-7"),
        message("second line", "4", "WARNING", "Simulation", "task-7"),
        message("bad \xff\xfe bytes", "3", "ERROR", "Simulation", nullptr),
        message(std::string(100 * 1024, 'z'), "7", "DEBUG", "Simulation", nullptr),
        progress("Simulation: 42 %", "Simulation", "0.42"),
        progress("Writing: 42 %", "Writing", "0.42"),
        message("Total Runtime", "5", "INFO", "Writing", nullptr),
        progress("Writing: end of progress", "Writing", "-1"),
    };
    EXPECT_EQ(entries, expected);
}
