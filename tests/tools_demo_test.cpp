// vidoderavev-demo as a user runs it: its options, and what each output leaves in files and streams.
#include <gtest/gtest.h>

#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/TemporaryDirectory.h"
#include "support/ToolProcess.h"

using Test::CTemporaryDirectory;
using Test::ReadFile;
using ToolTest::SplitLines;

namespace {

const std::string g_sDemo = VIDODERAVEV_DEMO_PATH;
const std::string g_sWatch = VIDODERAVEV_WATCH_PATH;

ToolTest::SProcessResult Demo(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), g_sDemo);
    return ToolTest::RunProcess(arguments, "", 60.0);
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The log file of a complete run at the default level.
void ExpectCompleteLog(const std::string& log)
{
    const std::vector<std::string> lines = SplitLines(log);
    ASSERT_GT(lines.size(), 20u);
    for (const std::string& line : lines)
        ASSERT_EQ('\r', line.back()) << line;
    EXPECT_EQ(" INFO: Startup\r", lines.front().substr(19));
    EXPECT_EQ(0u, lines.back().substr(19).find(" INFO: Total Runtime: 00:00:0")) << lines.back();
    // A message of several lines arrives as one log line each.
    for (const char* part : {" FATAL: ", " ERROR: ", " WARNING: ", " INFO: ", " LOG: ", " DEBUG: ", " TRACE: ",
                             " LOG: Settings:\r\n", " LOG:   threads: 2\r\n", " INFO: Worker 2 finished\r\n"})
        EXPECT_TRUE(Contains(log, part)) << part;
}

// After a stop: the last note (its beginning) before the run-time note in the simple log (when it
// survived) and in the buffered log "queued", and the XML stream in "out" complete up to its end.
void ExpectClosedOutputs(const CTemporaryDirectory& directory, const std::string& simpleLog,
                         const std::string& lastNote)
{
    for (const std::string& log : {simpleLog, directory / "queued.log"}) {
        if (!::Test::FileExists(log))
            continue;
        const std::vector<std::string> lines = SplitLines(ReadFile(log));
        ASSERT_GE(lines.size(), 3u) << log;
        EXPECT_TRUE(Contains(lines[lines.size() - 2], " WARNING: " + lastNote)) << lines[lines.size() - 2];
        EXPECT_TRUE(Contains(lines.back(), " INFO: Total Runtime: ")) << lines.back();
    }
    const std::string stream = ReadFile(directory / "out");
    ASSERT_GT(stream.size(), 26u);
    EXPECT_TRUE(Contains(stream, "<TEXT>" + lastNote)) << lastNote;
    EXPECT_EQ("</PROGRESS>\n</LOG_STREAM>\n", stream.substr(stream.size() - 26));
    EXPECT_EQ(0, ToolTest::RunProcess({g_sWatch}, stream).m_nStatus);
}

} // namespace

TEST(DemoOptions, BadOptionsAndHelp)
{
    // Each refused command line, its words separated by spaces.
    for (const char* line :
         {"--bogus", "--duration 0", "--duration soon", "--threads 0", "--threads 65", "--level LOUD",
          "--verbosity-offset x", "--buffered /tmp", "--buffered /nonexistent-dir stem", "--dated", "--net localhost",
          "--net localhost:0", "--net localhost:http", "--journal one two", "--log /nonexistent-dir/run", "--log",
          "--log /tmp/a --log /tmp/b", "positional"}) {
        const std::vector<std::string> arguments = SplitLines(line, " ");
        const ToolTest::SProcessResult result = Demo(arguments);
        EXPECT_EQ(2, result.m_nStatus) << arguments[0];
        EXPECT_EQ(0u, result.m_sErrors.find("vidoderavev-demo: ")) << result.m_sErrors;
        EXPECT_TRUE(Contains(result.m_sErrors, "--help")) << result.m_sErrors;
        EXPECT_EQ("", result.m_sOutput);
    }
    const ToolTest::SProcessResult help = Demo({"--help"});
    EXPECT_EQ(0, help.m_nStatus);
    for (const char* option :
         {"--xml", "--console", "--log FILE", "--dated-log FILE", "--buffered DIR STEM", "--dated", "--net HOST:PORT",
          "--duration SECONDS", "--threads N", "--verbosity-offset N", "--level LEVEL", "--trace-layers"})
        EXPECT_TRUE(Contains(help.m_sOutput, option)) << option;
}

// Every file output at once, with the XML stream on standard output.
TEST(DemoOutputs, LogFilesAndTheXmlStream)
{
    CTemporaryDirectory directory;
    const ToolTest::SProcessResult result =
        Demo({"--xml", "--log", directory / "run.txt", "--dated-log", directory / "daily", "--buffered",
              directory.Path(), "buf", "--duration", "1", "--threads", "2"});
    ASSERT_EQ(0, result.m_nStatus) << result.m_sErrors;
    const std::vector<std::string> files = directory.Entries();
    ASSERT_EQ(6u, files.size());
    const std::string simple = ReadFile(directory / "run.log"), buffered = ReadFile(directory / "buf.log");
    ExpectCompleteLog(simple);
    ExpectCompleteLog(buffered);
    // The task identifier: after the level, first, or left out.
    EXPECT_TRUE(Contains(simple, " DEBUG: [item-0000] "));
    EXPECT_TRUE(Contains(buffered, "\n[item-0000] 20"));
    // The date in the log file name is the one of the time stamps inside.
    const std::string daily = ReadFile(directory / files[3]);
    EXPECT_EQ("daily" + daily.substr(0, 10) + ".log", files[3]);
    ExpectCompleteLog(daily);
    EXPECT_FALSE(Contains(daily, "[item-"));
    for (const char* progress : {"run.progress", "daily.progress", "buf.progress"}) {
        const std::string content = ReadFile(directory / progress);
        EXPECT_EQ(0u, content.find("Demo run: ")) << content;
    }
    EXPECT_EQ("\n\n", ReadFile(directory / "run.progress").substr(ReadFile(directory / "run.progress").size() - 2));

    const std::string& stream = result.m_sOutput;
    EXPECT_EQ("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n<LOG_STREAM>\n", stream.substr(0, 70));
    const std::string epilogue = "<PROGRESS>\n<PERCENTAGE>-1</PERCENTAGE>\n</PROGRESS>\n</LOG_STREAM>\n";
    ASSERT_GT(stream.size(), epilogue.size());
    EXPECT_EQ(epilogue, stream.substr(stream.size() - epilogue.size()));
    // One log record per log line, and the watcher reads the whole stream.
    std::size_t records = 0;
    for (std::size_t at = stream.find("<LOG>\n"); at != std::string::npos; at = stream.find("<LOG>\n", at + 1))
        ++records;
    EXPECT_EQ(SplitLines(simple).size(), records);
    const ToolTest::SProcessResult watched = ToolTest::RunProcess({g_sWatch}, stream);
    EXPECT_EQ(0, watched.m_nStatus);
    EXPECT_EQ("stdin FINISHED", SplitLines(watched.m_sOutput).back());
    EXPECT_TRUE(Contains(watched.m_sOutput, "stdin PROGRESS 100% Demo run: writing\n") ||
                Contains(watched.m_sOutput, "stdin PROGRESS 100% Demo run: done\n"))
        << watched.m_sOutput;
    EXPECT_TRUE(Contains(watched.m_sOutput, " DEBUG: [item-0000] "));
}

TEST(DemoOutputs, LevelVerbosityOffsetLayerTraceAndConsole)
{
    CTemporaryDirectory directory;
    const ToolTest::SProcessResult traced =
        Demo({"--log", directory / "warn", "--buffered", directory.Path(), "run", "--dated", "--level", "warning",
              "--trace-layers", "--duration", "1", "--threads", "1"});
    ASSERT_EQ(0, traced.m_nStatus);
    const std::string warnings = ReadFile(directory / "warn.log");
    EXPECT_TRUE(Contains(warnings, " FATAL: ") && Contains(warnings, " WARNING: "));
    EXPECT_FALSE(Contains(warnings, " INFO: "));
    EXPECT_TRUE(
        Contains(traced.m_sErrors, "    Pushing layer \"Loading input\" with parent quota: 15, and max value: 8"));
    EXPECT_TRUE(Contains(traced.m_sErrors, "        Poping layer \"Reading chunk 8 of 8\"\n"));
    const std::string day = ReadFile(directory / directory.Entries().at(0)).substr(0, 10);
    EXPECT_EQ((std::vector<std::string>{"run" + day + ".log", "run" + day + ".progress", "warn.log", "warn.progress"}),
              directory.Entries());

    // Offset 1 turns the run's INFO into LOG, filtered at INFO; the outputs' notes are not the logger's.
    const ToolTest::SProcessResult console =
        Demo({"--console", "--level", "INFO", "--verbosity-offset", "1", "--duration", "1"});
    ASSERT_EQ(0, console.m_nStatus) << console.m_sErrors;
    const std::vector<std::string> lines = SplitLines(console.m_sOutput);
    ASSERT_GT(lines.size(), 20u);
    EXPECT_EQ(" INFO: Startup", lines.front().substr(19));
    EXPECT_EQ(0u, lines.back().substr(19).find(" INFO: Total Runtime: "));
    for (const char* part :
         {"\nProgress: Demo run: loading\n", "\nProgress: Demo run: transforming\n", "%\n", " WARNING: "})
        EXPECT_TRUE(Contains(console.m_sOutput, part)) << part;
    EXPECT_FALSE(Contains(console.m_sOutput, "Worker 1 started"));
    // Without any output option the demo writes console lines.
    const ToolTest::SProcessResult fallback = Demo({"--duration", "1", "--level", "ERROR"});
    EXPECT_EQ(0, fallback.m_nStatus);
    EXPECT_TRUE(Contains(fallback.m_sOutput, " FATAL: FATAL messages look like this"));
    EXPECT_FALSE(Contains(fallback.m_sOutput, " WARNING: "));
}

// A signal finishes the current step; a log file that goes away stops the run, on the main thread
// (loading) as on the workers (transforming). Either way every other output is closed properly.
TEST(DemoOutputs, SignalsAndAFailingLogFileStopTheRunAndCloseEveryOutput)
{
    const std::pair<int, const char*> stops[] = {
        {SIGINT, "chunk 1:"}, {SIGTERM, "chunk 1:"}, {SIGHUP, "chunk 1:"}, {0, "chunk 1:"}, {0, "Worker 1 started"}};
    for (const auto& stop : stops) {
        SCOPED_TRACE(std::to_string(stop.first) + stop.second);
        CTemporaryDirectory directory;
        const std::string logs = directory / "logs";
        ASSERT_EQ(0, ::mkdir(logs.c_str(), 0755));
        ToolTest::CChildProcess demo({g_sDemo, "--log", logs + "/run", "--xml", "--buffered", directory.Path(),
                                      "queued", "--duration", stop.first != 0 ? "30" : "4"},
                                     "", directory / "out", directory / "err");
        ASSERT_TRUE(
            ToolTest::WaitFor(20.0, [&] { return Contains(::Test::ReadFileOrEmpty(logs + "/run.log"), stop.second); }));
        if (stop.first != 0) {
            demo.Signal(stop.first);
            EXPECT_EQ(130, demo.Wait(10.0));
            EXPECT_FALSE(Contains(ReadFile(logs + "/run.log"), "Summary:"));
            ExpectClosedOutputs(directory, logs + "/run.log", "Interrupted: stopped after the current step");
            continue;
        }
        for (const char* file : {"/run.log", "/run.progress"})
            ASSERT_EQ(0, ::unlink((logs + file).c_str()));
        ASSERT_EQ(0, ::rmdir(logs.c_str()));
        EXPECT_EQ(1, demo.Wait(20.0));
        EXPECT_EQ("vidoderavev-demo: the log file output failed: Failed to open the file \"" + logs +
                      "/run.log\" (No such file or directory)\n",
                  ReadFile(directory / "err"));
        ExpectClosedOutputs(directory, logs + "/run.log", "Stopped: the log file output failed: ");
    }
}

// A full disk is reported, a vanished reader ends the run quietly; either way it stops at once with status 1.
TEST(DemoOutputs, AFailingStandardOutputStopsTheRun)
{
    CTemporaryDirectory directory;
    ToolTest::CChildProcess full({g_sDemo, "--xml", "--duration", "30"}, "", "/dev/full", directory / "err");
    EXPECT_EQ(1, full.Wait(20.0));
    EXPECT_EQ("vidoderavev-demo: standard output failed: No space left on device\n", ReadFile(directory / "err"));

    const std::string pipe = directory / "pipe";
    ASSERT_EQ(0, ::mkfifo(pipe.c_str(), 0600));
    // Not inherited: the demo itself must not keep the pipe open for reading.
    const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    ToolTest::CChildProcess piped({g_sDemo, "--xml", "--log", directory / "run", "--duration", "30"}, "", pipe,
                                  directory / "err");
    char head[64];
    EXPECT_TRUE(ToolTest::WaitFor(20.0, [&] { return ::read(reader, head, sizeof head) > 0; }));
    ::close(reader);
    EXPECT_EQ(1, piped.Wait(20.0));
    EXPECT_EQ("", ReadFile(directory / "err"));
    const std::vector<std::string> lines = SplitLines(ReadFile(directory / "run.log"));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_TRUE(Contains(lines[lines.size() - 2], " WARNING: Stopped: standard output was closed\r"));
}
