// vidoderavev-watch reading recorded streams from standard input, in plain
// mode (its standard output is a file here, not a terminal).
#include <sstream>
#include <string>
#include <vector>

#include <boost/property_tree/json_parser.hpp>

#include <gtest/gtest.h>

#include "support/TemporaryDirectory.h"
#include "support/ToolProcess.h"

using Test::CTemporaryDirectory;
using Test::ReadFile;

namespace {

const std::string g_sWatch = VIDODERAVEV_WATCH_PATH;
const std::string g_sData = VIDODERAVEV_TEST_DATA_DIR;

ToolTest::SProcessResult Watch(const std::string& document, const std::vector<std::string>& arguments = {})
{
    std::vector<std::string> argv = {g_sWatch};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return ToolTest::RunProcess(argv, document, 30.0);
}

// Runs the watcher on the document and compares its status and lines; an
// empty first expected line is not compared.
void ExpectLines(int status, const std::string& document, std::vector<std::string> expected,
                 const std::vector<std::string>& arguments = {})
{
    const ToolTest::SProcessResult result = Watch(document, arguments);
    EXPECT_EQ(status, result.m_nStatus) << expected.back();
    std::vector<std::string> lines = ToolTest::SplitLines(result.m_sOutput);
    if (expected[0].empty() && !lines.empty())
        lines[0].clear();
    EXPECT_EQ(expected, lines);
    EXPECT_EQ("", result.m_sErrors);
}

// Whether the line is one valid JSON text, by Boost's strict parser (it
// refuses raw control characters and invalid UTF-8 in strings).
bool IsValidJson(const std::string& line)
{
    std::istringstream in(line);
    boost::property_tree::ptree tree;
    try {
        boost::property_tree::read_json(in, tree);
        return true;
    } catch (const boost::property_tree::json_parser_error&) {
        return false;
    }
}

} // namespace

TEST(WatchPlain, OneLinePerRecordAndHowAStreamEnds)
{
    const std::string complete = ReadFile(g_sData + "/stream_complete.xml");
    ExpectLines(0, complete,
                {"stdin 2026-12-06 10:00:01 INFO: Startup", "stdin PROGRESS 1.25% Demo run",
                 "stdin 2026-12-06 10:00:02 WARNING: [7] Disk <almost> full & slow",
                 "stdin 2026-12-06 10:00:02 LOG: bad byte \xEF\xBF\xBD here", "stdin PROGRESS 42.857% Demo run",
                 "stdin 2026-12-06 10:00:03 DEBUG: detail", "stdin 2026-12-06 10:00:03 INFO: </TEXT> stays text",
                 "stdin PROGRESS 100% Done", "stdin 2026-12-06 10:00:04 INFO: Total Runtime: 00:00:03s",
                 "stdin FINISHED"});
    ExpectLines(0, complete,
                {"stdin PROGRESS 1.25% Demo run", "stdin 2026-12-06 10:00:02 WARNING: [7] Disk <almost> full & slow",
                 "stdin PROGRESS 42.857% Demo run", "stdin PROGRESS 100% Done", "stdin FINISHED"},
                {"--level", "warning"});
    ExpectLines(0, ReadFile(g_sData + "/stream_network.xml"),
                {"build-host/4242 2026-12-06 10:00:01 INFO: Startup", "build-host/4242 PROGRESS 50% Net run",
                 "build-host/4242 2026-12-06 10:00:02 ERROR: [job 9] It failed",
                 "build-host/4242 PROGRESS 100% Net run", "build-host/4242 FINISHED"});
    ExpectLines(0, ReadFile(g_sData + "/stream_truncated.xml"),
                {"", "stdin PROGRESS 10% Cut short",
                 "stdin TRUNCATED after 273 bytes at line 16: the input ended before the end of the stream"});
    ExpectLines(1, ReadFile(g_sData + "/stream_malformed.xml"),
                {"stdin 2026-12-06 10:00:01 INFO: Startup",
                 "stdin MALFORMED at line 12, column 19: Opening and ending tag mismatch: TEXT line 12 and TEX; "
                 "input dropped"});
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n<LOG_STREAM>\n<LOG>\n"
                             "<TIME>t</TIME>\n<TYPE>INFO</TYPE>\n<TEXT>";
    // Terminal controls in a text are neutralised.
    ExpectLines(0,
                head + "\xC2\x9B"
                       "2J x&#13;y&#10;z\x7F</TEXT>\n</LOG>\n\n",
                {"stdin t INFO: <U+009B>2J x^My^Jz^?",
                 "stdin TRUNCATED after 150 bytes at line 7: the input ended before the end of the stream"});
}

TEST(WatchPlain, SavesTheReceivedBytesUnchanged)
{
    CTemporaryDirectory directory;
    // What arrived of a malformed stream is kept as well.
    const std::string malformed = ReadFile(g_sData + "/stream_malformed.xml");
    Watch(malformed, {"--save", directory.Path()});
    EXPECT_EQ(malformed, ReadFile(directory.File("stdin.xml")));
    // A stream that names its host and process is saved under that name; an
    // existing file is kept. Missing directories are made.
    const std::string network = ReadFile(g_sData + "/stream_network.xml");
    const std::string nested = directory.File("a/b");
    Watch(network, {"--save", nested});
    Watch(network, {"--save", nested});
    EXPECT_EQ(network, ReadFile(nested + "/build-host-4242.xml"));
    EXPECT_EQ(network, ReadFile(nested + "/build-host-4242.1.xml"));
    // A file where a directory should be is said clearly, before any input.
    ::Test::WriteTextFile(directory.File("file"), "");
    const ToolTest::SProcessResult refused = Watch(network, {"--save", directory.File("file/c")});
    EXPECT_EQ(3, refused.m_nStatus);
    EXPECT_EQ("vidoderavev-watch: --save: cannot create " + directory.File("file/c") + ": " + directory.File("file") +
                  " is not a directory\n",
              refused.m_sErrors);
    EXPECT_EQ("", refused.m_sOutput);
}

TEST(WatchPlain, RefusesBadOptionsWithStatusTwo)
{
    // Each refused command line, its words separated by spaces.
    for (const char* line :
         {"--bogus", "--level LOUD", "--listen 127.0.0.1:99999", "--listen ::1:80", "--grep (unclosed", "--eta fast",
          "--json --plain", "--exit-after 2", "--idle-timeout -1", "extra"}) {
        const std::vector<std::string> arguments = ToolTest::SplitLines(line, " ");
        const ToolTest::SProcessResult result = Watch("", arguments);
        EXPECT_EQ(2, result.m_nStatus) << arguments[0];
        EXPECT_NE(std::string::npos, result.m_sErrors.find("vidoderavev-watch: ")) << arguments[0];
        EXPECT_EQ("", result.m_sOutput);
    }
    const ToolTest::SProcessResult help = Watch("", {"--help"});
    EXPECT_EQ(0, help.m_nStatus);
    EXPECT_NE(std::string::npos, help.m_sOutput.find("--listen HOST:PORT"));
}

TEST(WatchPlain, JsonRecordsAndGrep)
{
    const ToolTest::SProcessResult result =
        Watch(ReadFile(g_sData + "/stream_complete.xml"), {"--json", "--grep", "full|^detail$"});
    const auto record = [](const std::string& type, const std::string& fields) {
        return "{\"type\":\"" + type + "\",\"source\":\"stdin\",\"stream\":\"stdin\",\"host\":\"\",\"pid\":\"\"," +
               fields + "}";
    };
    const auto progress = [&](const std::string& percent, const std::string& text) {
        return record("progress",
                      "\"percent\":" + percent + ",\"text\":\"" + text + "\",\"eta\":null,\"stalled\":false");
    };
    const auto log = [&](const std::string& time, const std::string& level, const std::string& task,
                         const std::string& text) {
        return record("log", "\"time\":\"2026-12-06 " + time + "\",\"level\":\"" + level + "\",\"task\":\"" + task +
                                 "\",\"text\":\"" + text + "\"");
    };
    EXPECT_EQ((std::vector<std::string>{progress("1.25", "Demo run"),
                                        log("10:00:02", "WARNING", "7", "Disk <almost> full & slow"),
                                        progress("42.86", "Demo run"), log("10:00:03", "DEBUG", "", "detail"),
                                        progress("100", "Done"), record("end", "\"state\":\"finished\"")}),
              ToolTest::SplitLines(result.m_sOutput));
    // Every character a stream can carry still gives valid lines; a cut stream
    // is lost.
    const ToolTest::SProcessResult hostile =
        Watch("<?xml version=\"1.0\"?>\n<LOG_STREAM>\n<LOG>\n<TYPE>ERROR</TYPE>\n<TASKID>\"\\</TASKID>\n"
              "<TEXT>&#13;&#9;&#10;\x7F\xF0\x9F\x98\x80 / \xC2\x85</TEXT>\n</LOG>\n",
              {"--json"});
    const std::vector<std::string> lines = ToolTest::SplitLines(hostile.m_sOutput);
    ASSERT_EQ(2u, lines.size()) << hostile.m_sOutput;
    for (const std::string& line : lines)
        EXPECT_TRUE(IsValidJson(line)) << line;
    EXPECT_NE(std::string::npos, lines[1].find("\"state\":\"lost\"")) << lines[1];
}
