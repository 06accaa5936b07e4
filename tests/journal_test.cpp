#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <unistd.h>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/make_shared.hpp>

#include <vidOderavev/Diagnostics.h>
#include <vidOderavev/Progress/JournalEntry.h>
#include <vidOderavev/Progress/JournalVisualizer.h>
#include <vidOderavev/Progress/Logger.h>

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
