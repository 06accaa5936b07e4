// vidoderavev-watch reading recorded streams from standard input, in plain
// mode (its standard output is a file here, not a terminal).
#include <string>
#include <vector>

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

} // namespace

TEST(WatchPlain, OneLinePerRecordAndHowAStreamEnds)
{
    // File, status, the lines it gives; with --level warning for the last.
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"stream_complete.xml",
         {"stdin 2026-12-06 10:00:01 INFO: Startup", "stdin PROGRESS 1.25% Demo run",
          "stdin 2026-12-06 10:00:02 WARNING: [7] Disk <almost> full & slow",
          "stdin 2026-12-06 10:00:02 LOG: bad byte \xEF\xBF\xBD here", "stdin PROGRESS 42.857% Demo run",
          "stdin 2026-12-06 10:00:03 DEBUG: detail", "stdin 2026-12-06 10:00:03 INFO: </TEXT> stays text",
          "stdin PROGRESS 100% Done", "stdin 2026-12-06 10:00:04 INFO: Total Runtime: 00:00:03s", "stdin FINISHED"}},
        {"stream_network.xml",
         {"build-host/4242 2026-12-06 10:00:01 INFO: Startup", "build-host/4242 PROGRESS 50% Net run",
          "build-host/4242 2026-12-06 10:00:02 ERROR: [job 9] It failed", "build-host/4242 PROGRESS 100% Net run",
          "build-host/4242 FINISHED"}},
        {"stream_truncated.xml",
         {"", "stdin PROGRESS 10% Cut short",
          "stdin TRUNCATED after 273 bytes at line 16: the input ended before the end of the stream"}},
        {"stream_malformed.xml",
         {"stdin 2026-12-06 10:00:01 INFO: Startup", "stdin MALFORMED at line 12, column 19: Opening and ending tag "
                                                     "mismatch: TEXT line 12 and TEX; input dropped"}},
    };
    for (const auto& c : cases) {
        const ToolTest::SProcessResult result = Watch(ReadFile(g_sData + "/" + c.first));
        EXPECT_EQ(c.first == "stream_malformed.xml" ? 1 : 0, result.m_nStatus) << c.first;
        std::vector<std::string> lines = ToolTest::SplitLines(result.m_sOutput);
        if (c.second[0].empty() && !lines.empty())
            lines[0].clear(); // the first record of the truncated stream is not the point
        EXPECT_EQ(c.second, lines) << c.first;
        EXPECT_EQ("", result.m_sErrors);
    }
    const ToolTest::SProcessResult filtered = Watch(ReadFile(g_sData + "/stream_complete.xml"), {"--level", "warning"});
    EXPECT_EQ((std::vector<std::string>{
                  "stdin PROGRESS 1.25% Demo run", "stdin 2026-12-06 10:00:02 WARNING: [7] Disk <almost> full & slow",
                  "stdin PROGRESS 42.857% Demo run", "stdin PROGRESS 100% Done", "stdin FINISHED"}),
              ToolTest::SplitLines(filtered.m_sOutput));
}

TEST(WatchPlain, ReportsABareAmpersandWithoutWaitingForTheEnd)
{
    // A writer that does not escape: the '&' is reported where it stands and
    // the record after it is never shown.
    const std::string document =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n<LOG_STREAM>\n<LOG>\n<TIME>t</TIME>\n"
        "<TYPE>INFO</TYPE>\n<TEXT>salt & pepper</TEXT>\n</LOG>\n\n<LOG>\n<TIME>t</TIME>\n<TYPE>INFO</TYPE>\n"
        "<TEXT>next; one</TEXT>\n</LOG>\n\n";
    const ToolTest::SProcessResult result = Watch(document);
    EXPECT_EQ(1, result.m_nStatus);
    const std::vector<std::string> lines = ToolTest::SplitLines(result.m_sOutput);
    ASSERT_EQ(1u, lines.size()) << result.m_sOutput;
    EXPECT_EQ(0u, lines[0].find("stdin MALFORMED at line 6, column ")) << lines[0];
}

TEST(WatchPlain, NeutralisesTerminalControlsInTexts)
{
    const std::string document =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n<LOG_STREAM>\n<LOG>\n<TIME>t</TIME>\n"
        "<TYPE>INFO</TYPE>\n<TEXT>\xC2\x9B"
        "2J x&#13;y&#10;z\x7F&#27;</TEXT>\n</LOG>\n\n";
    const ToolTest::SProcessResult result = Watch(document);
    // XML 1.0 has no escape character at all, not even as a reference.
    EXPECT_EQ("stdin MALFORMED at line 6, column 30: xmlParseCharRef: invalid xmlChar value 27; input dropped\n",
              result.m_sOutput);
    const ToolTest::SProcessResult legal = Watch(document.substr(0, document.find("&#27;")) + "</TEXT>\n</LOG>\n\n");
    EXPECT_EQ("stdin t INFO: <U+009B>2J x^My^Jz^?\nstdin TRUNCATED after 150 bytes at line 7: the input ended "
              "before the end of the stream\n",
              legal.m_sOutput);
}

TEST(WatchPlain, SavesTheReceivedBytesUnchanged)
{
    CTemporaryDirectory directory;
    for (const char* name : {"stream_complete.xml", "stream_truncated.xml", "stream_malformed.xml"}) {
        const std::string document = ReadFile(g_sData + "/" + name);
        Watch(document, {"--save", directory.Path()});
        EXPECT_EQ(document, ReadFile(directory.File("stdin.xml"))) << name;
        ::unlink(directory.File("stdin.xml").c_str());
    }
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
    const std::vector<std::vector<std::string>> bad = {
        {"--bogus"},
        {"--level", "LOUD"},
        {"--listen", "127.0.0.1:99999"},
        {"--listen", "::1:80"},
        {"--grep", "(unclosed"},
        {"--eta", "fast"},
        {"--json", "--plain"},
        {"--exit-after", "2"},
        {"--idle-timeout", "-1"},
        {"extra"},
    };
    for (const auto& arguments : bad) {
        const ToolTest::SProcessResult result = Watch("", arguments);
        EXPECT_EQ(2, result.m_nStatus) << arguments[0];
        EXPECT_NE(std::string::npos, result.m_sErrors.find("vidoderavev-watch: ")) << arguments[0];
        EXPECT_EQ("", result.m_sOutput);
    }
    const ToolTest::SProcessResult help = Watch("", {"--help"});
    EXPECT_EQ(0, help.m_nStatus);
    EXPECT_NE(std::string::npos, help.m_sOutput.find("--listen HOST:PORT"));
}

namespace {

// Whether the line is one flat JSON object whose values are strings, numbers,
// true, false or null: what every record of --json is.
bool IsFlatJsonObject(const std::string& line)
{
    std::size_t at = 0;
    const auto string = [&]() {
        if (line[at++] != '"')
            return false;
        for (; at < line.size() && line[at] != '"'; ++at) {
            if (static_cast<unsigned char>(line[at]) < 0x20)
                return false;
            if (line[at] == '\\' && ++at < line.size() &&
                std::string("\"\\/bfnrtu").find(line[at]) == std::string::npos)
                return false;
        }
        return at++ < line.size();
    };
    const auto literal = [&](const std::string& word) {
        return line.compare(at, word.size(), word) == 0 ? (at += word.size(), true) : false;
    };
    if (line.size() < 2 || line[at++] != '{')
        return false;
    do {
        if (!string() || line[at++] != ':')
            return false;
        const std::size_t start = at;
        if (line[at] == '"' ? !string() : !(literal("true") || literal("false") || literal("null"))) {
            at = line.find_first_not_of("-0123456789.eE+", start);
            if (at == start || at == std::string::npos)
                return false;
        }
    } while (line[at] == ',' && ++at);
    return line[at] == '}' && at + 1 == line.size();
}

} // namespace

TEST(WatchPlain, JsonRecordsAndGrep)
{
    const ToolTest::SProcessResult result =
        Watch(ReadFile(g_sData + "/stream_complete.xml"), {"--json", "--grep", "full|^detail$"});
    const std::string head = "\"source\":\"stdin\",\"stream\":\"stdin\",\"host\":\"\",\"pid\":\"\"";
    EXPECT_EQ((std::vector<std::string>{"{\"type\":\"progress\"," + head +
                                            ",\"percent\":1.25,\"text\":\"Demo run\",\"eta\":null,\"stalled\":false}",
                                        "{\"type\":\"log\"," + head +
                                            ",\"time\":\"2026-12-06 10:00:02\",\"level\":\"WARNING\",\"task\":\"7\","
                                            "\"text\":\"Disk <almost> full & slow\"}",
                                        "{\"type\":\"progress\"," + head +
                                            ",\"percent\":42.86,\"text\":\"Demo run\",\"eta\":null,\"stalled\":false}",
                                        "{\"type\":\"log\"," + head +
                                            ",\"time\":\"2026-12-06 10:00:03\",\"level\":\"DEBUG\",\"task\":\"\","
                                            "\"text\":\"detail\"}",
                                        "{\"type\":\"progress\"," + head +
                                            ",\"percent\":100,\"text\":\"Done\",\"eta\":null,\"stalled\":false}",
                                        "{\"type\":\"end\"," + head + ",\"state\":\"finished\"}"}),
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
        EXPECT_TRUE(IsFlatJsonObject(line)) << line;
    EXPECT_NE(std::string::npos, lines[1].find("\"state\":\"lost\"")) << lines[1];
}
