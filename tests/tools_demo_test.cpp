// vidoderavev-demo as a user runs it: its options, and what each output
// leaves behind in files and streams.
#include <csignal>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/TemporaryDirectory.h"
#include "support/ToolProcess.h"

using Test::CTemporaryDirectory;
using Test::ReadFile;
using Test::ReadFileOrEmpty;

#ifdef VIDODERAVEV_DEMO_PATH

namespace {

const std::string g_sDemo = VIDODERAVEV_DEMO_PATH;
const std::string g_sWatch = VIDODERAVEV_WATCH_PATH;

ToolTest::SProcessResult Demo(const std::vector<std::string>& arguments)
{
    std::vector<std::string> argv = {g_sDemo};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return ToolTest::RunProcess(argv, "", 60.0);
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Checks the log file of a complete run at the default level.
void ExpectCompleteLog(const std::string& log)
{
    const std::vector<std::string> lines = ToolTest::SplitLines(log);
    ASSERT_GT(lines.size(), 20u);
    for (const std::string& line : lines)
        ASSERT_EQ('\r', line.back()) << line;
    EXPECT_EQ(" INFO: Startup\r", lines.front().substr(19));
    EXPECT_EQ(0u, lines.back().substr(19).find(" INFO: Total Runtime: 00:00:0")) << lines.back();
    for (const char* level : {" FATAL: ", " ERROR: ", " WARNING: ", " INFO: ", " LOG: ", " DEBUG: ", " TRACE: "})
        EXPECT_TRUE(Contains(log, level)) << level;
    // A message of several lines arrives as one log line each.
    EXPECT_TRUE(Contains(log, " LOG: Settings:\r\n"));
    EXPECT_TRUE(Contains(log, " LOG:   threads: 2\r\n"));
    EXPECT_TRUE(Contains(log, " INFO: Worker 2 finished\r\n"));
    EXPECT_TRUE(Contains(log, " INFO: Summary:\r\n"));
}

// After a stop: the last note (its beginning) before the run-time note in the
// simple log (when it survived) and in the buffered log "queued", and the XML
// stream in "out" complete up to its end.
void ExpectClosedOutputs(const CTemporaryDirectory& directory, const std::string& lastNote)
{
    for (const char* log : {"run.log", "queued.log"}) {
        if (!Test::FileExists(directory.File(log)))
            continue;
        const std::vector<std::string> lines = ToolTest::SplitLines(ReadFile(directory.File(log)));
        ASSERT_GE(lines.size(), 3u) << log;
        EXPECT_TRUE(Contains(lines[lines.size() - 2], " WARNING: " + lastNote)) << lines[lines.size() - 2];
        EXPECT_TRUE(Contains(lines.back(), " INFO: Total Runtime: ")) << lines.back();
    }
    const std::string stream = ReadFile(directory.File("out"));
    ASSERT_GT(stream.size(), 26u);
    EXPECT_TRUE(Contains(stream, "<TEXT>" + lastNote)) << lastNote;
    EXPECT_EQ("</PROGRESS>\n</LOG_STREAM>\n", stream.substr(stream.size() - 26));
    EXPECT_EQ(0, ToolTest::RunProcess({g_sWatch}, stream).m_nStatus);
}

} // namespace

TEST(DemoOptions, RefusesBadOptionsWithStatusTwo)
{
    const std::vector<std::vector<std::string>> bad = {
        {"--bogus"},
        {"--duration", "0"},
        {"--duration", "soon"},
        {"--threads", "0"},
        {"--threads", "65"},
        {"--level", "LOUD"},
        {"--verbosity-offset", "x"},
        {"--buffered", "/tmp"},
        {"--buffered", "/nonexistent-dir", "stem"},
        {"--dated"},
        {"--net", "localhost"},
        {"--net", "localhost:0"},
        {"--net", "localhost:http"},
        {"--journal", "one", "two"},
        {"--log", "/nonexistent-dir/run"},
        {"--log"},
        {"--log", "/tmp/a", "--log", "/tmp/b"},
        {"positional"},
    };
    for (const auto& arguments : bad) {
        const ToolTest::SProcessResult result = Demo(arguments);
        EXPECT_EQ(2, result.m_nStatus) << arguments[0];
        EXPECT_EQ(0u, result.m_sErrors.find("vidoderavev-demo: ")) << result.m_sErrors;
        EXPECT_TRUE(Contains(result.m_sErrors, "--help")) << result.m_sErrors;
        EXPECT_EQ("", result.m_sOutput);
    }
}

TEST(DemoOptions, HelpExplainsEveryOption)
{
    const ToolTest::SProcessResult result = Demo({"--help"});
    EXPECT_EQ(0, result.m_nStatus);
    for (const char* option :
         {"--xml", "--console", "--log FILE", "--dated-log FILE", "--buffered DIR STEM", "--dated", "--net HOST:PORT",
          "--duration SECONDS", "--threads N", "--verbosity-offset N", "--level LEVEL", "--trace-layers"})
        EXPECT_TRUE(Contains(result.m_sOutput, option)) << option;
}

TEST(DemoOutputs, LogFilesOfASimpleAndADatedRun)
{
    CTemporaryDirectory directory;
    const ToolTest::SProcessResult result = Demo({"--log", directory.File("run.txt"), "--dated-log",
                                                  directory.File("daily"), "--duration", "1", "--threads", "2"});
    ASSERT_EQ(0, result.m_nStatus) << result.m_sErrors;
    EXPECT_EQ("", result.m_sOutput);
    const std::vector<std::string> files = directory.Entries();
    ASSERT_EQ(4u, files.size());
    const std::string simple = ReadFile(directory.File("run.log"));
    ExpectCompleteLog(simple);
    // Worker messages carry the item as task identifier.
    EXPECT_TRUE(Contains(simple, " DEBUG: [item-0000] "));
    // The date in the log file name is the one of the time stamps inside.
    ASSERT_EQ("daily.progress", files[0]);
    const std::string daily = ReadFile(directory.File(files[1]));
    EXPECT_EQ("daily" + daily.substr(0, 10) + ".log", files[1]);
    ExpectCompleteLog(daily);
    // The dated log leaves the task identifier out.
    EXPECT_FALSE(Contains(daily, "[item-"));
    for (const char* progress : {"run.progress", "daily.progress"}) {
        const std::string content = ReadFile(directory.File(progress));
        EXPECT_EQ(0u, content.find("Demo run: ")) << content;
        EXPECT_EQ("\n\n", content.substr(content.size() - 2)) << content;
    }
}

TEST(DemoOutputs, BufferedFilesPlainAndDated)
{
    CTemporaryDirectory directory;
    const ToolTest::SProcessResult plain =
        Demo({"--buffered", directory.Path(), "run", "--duration", "1", "--threads", "2"});
    ASSERT_EQ(0, plain.m_nStatus) << plain.m_sErrors;
    EXPECT_EQ((std::vector<std::string>{"run.log", "run.progress"}), directory.Entries());
    const std::string log = ReadFile(directory.File("run.log"));
    ExpectCompleteLog(log);
    // The buffered log puts the task identifier first.
    EXPECT_TRUE(Contains(log, "\n[item-0000] 20")) << log.substr(0, 300);
    const std::string progress = ReadFile(directory.File("run.progress"));
    EXPECT_EQ(0u, progress.find("Demo run: ")) << progress;

    CTemporaryDirectory datedDirectory;
    ASSERT_EQ(0, Demo({"--buffered", datedDirectory.Path(), "run", "--dated", "--duration", "1"}).m_nStatus);
    const std::vector<std::string> files = datedDirectory.Entries();
    ASSERT_EQ(2u, files.size());
    const std::string dated = ReadFile(datedDirectory.File(files[0]));
    EXPECT_EQ("run" + dated.substr(0, 10) + ".log", files[0]);
    EXPECT_EQ("run" + dated.substr(0, 10) + ".progress", files[1]);
}

TEST(DemoOutputs, LevelAndVerbosityOffsetFilterMessages)
{
    CTemporaryDirectory directory;
    ASSERT_EQ(0, Demo({"--log", directory.File("warn"), "--level", "warning", "--duration", "1"}).m_nStatus);
    const std::string warnings = ReadFile(directory.File("warn.log"));
    EXPECT_TRUE(Contains(warnings, " FATAL: "));
    EXPECT_TRUE(Contains(warnings, " WARNING: "));
    EXPECT_FALSE(Contains(warnings, " INFO: "));
    EXPECT_FALSE(Contains(warnings, "Startup"));

    // With offset 1 the run's INFO messages arrive as LOG and are filtered at
    // INFO; the outputs' own notes are not the logger's and stay.
    ASSERT_EQ(0,
              Demo({"--log", directory.File("quiet"), "--level", "INFO", "--verbosity-offset", "1", "--duration", "1"})
                  .m_nStatus);
    const std::string quiet = ReadFile(directory.File("quiet.log"));
    EXPECT_TRUE(Contains(quiet, " INFO: Startup\r\n"));
    EXPECT_TRUE(Contains(quiet, " INFO: Total Runtime: "));
    EXPECT_FALSE(Contains(quiet, "Worker 1 started"));
    EXPECT_TRUE(Contains(quiet, " WARNING: "));
}

TEST(DemoOutputs, TraceLayersWritesPushAndPopLines)
{
    CTemporaryDirectory directory;
    const ToolTest::SProcessResult result =
        Demo({"--log", directory.File("t"), "--trace-layers", "--duration", "1", "--threads", "1"});
    EXPECT_EQ(0, result.m_nStatus);
    EXPECT_TRUE(
        Contains(result.m_sErrors, "    Pushing layer \"Loading input\" with parent quota: 15, and max value: 8"));
    EXPECT_TRUE(Contains(result.m_sErrors, "        Poping layer \"Reading chunk 8 of 8\"\n"));
}

TEST(DemoOutputs, SigintAndSighupFinishTheStepAndCloseEveryOutput)
{
    for (const int signalNumber : {SIGINT, SIGHUP}) {
        CTemporaryDirectory directory;
        ToolTest::CChildProcess demo({g_sDemo, "--log", directory.File("run"), "--xml", "--buffered", directory.Path(),
                                      "queued", "--duration", "30"},
                                     "", directory.File("out"), directory.File("err"));
        ASSERT_TRUE(ToolTest::WaitFor(
            20.0, [&] { return Contains(ReadFileOrEmpty(directory.File("run.log")), "chunk 1:"); }));
        demo.Signal(signalNumber);
        EXPECT_EQ(130, demo.Wait(10.0)) << signalNumber;
        EXPECT_FALSE(Contains(ReadFile(directory.File("run.log")), "Summary:"));
        ExpectClosedOutputs(directory, "Interrupted: stopped after the current step");
    }
}

// A log file that goes away stops the run, on the main thread (loading) as on
// the workers (transforming); every other output is still closed properly.
TEST(DemoOutputs, AFailingLogFileStopsTheRunAndClosesTheOtherOutputs)
{
    for (const char* failAfter : {"chunk 1:", "Worker 1 started"}) {
        CTemporaryDirectory directory;
        const std::string logs = directory.File("logs");
        ASSERT_EQ(0, ::mkdir(logs.c_str(), 0755));
        ToolTest::CChildProcess demo({g_sDemo, "--log", logs + "/run", "--xml", "--buffered", directory.Path(),
                                      "queued", "--duration", "4"},
                                     "", directory.File("out"), directory.File("err"));
        ASSERT_TRUE(
            ToolTest::WaitFor(20.0, [&] { return Contains(ReadFileOrEmpty(logs + "/run.log"), failAfter); }));
        for (const char* file : {"/run.log", "/run.progress"})
            ASSERT_EQ(0, ::unlink((logs + file).c_str()));
        ASSERT_EQ(0, ::rmdir(logs.c_str()));
        EXPECT_EQ(1, demo.Wait(20.0)) << failAfter;
        const std::string report = "vidoderavev-demo: the log file output failed: Failed to open the file \"" +
                                   logs + "/run.log\" (No such file or directory)\n";
        EXPECT_EQ(report, ReadFile(directory.File("err")));
        ExpectClosedOutputs(directory, "Stopped: the log file output failed: ");
    }
}

// A full disk is reported; a reader that goes away ends the run quietly.
// Either way the run stops at once with status 1, not at its end.
TEST(DemoOutputs, AFailingStandardOutputStopsTheRun)
{
    CTemporaryDirectory directory;
    ToolTest::CChildProcess full({g_sDemo, "--xml", "--duration", "30"}, "", "/dev/full", directory.File("err"));
    EXPECT_EQ(1, full.Wait(20.0));
    EXPECT_EQ("vidoderavev-demo: standard output failed: No space left on device\n",
              ReadFile(directory.File("err")));

    const std::string pipe = directory.File("pipe");
    ASSERT_EQ(0, ::mkfifo(pipe.c_str(), 0600));
    // Not inherited: the demo itself must not keep the pipe open for reading.
    const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    ToolTest::CChildProcess piped({g_sDemo, "--xml", "--log", directory.File("run"), "--duration", "30"}, "", pipe,
                                  directory.File("err"));
    char head[64];
    EXPECT_TRUE(ToolTest::WaitFor(20.0, [&] { return ::read(reader, head, sizeof head) > 0; }));
    ::close(reader);
    EXPECT_EQ(1, piped.Wait(20.0));
    EXPECT_EQ("", ReadFile(directory.File("err")));
    const std::vector<std::string> lines = ToolTest::SplitLines(ReadFile(directory.File("run.log")));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_TRUE(Contains(lines[lines.size() - 2], " WARNING: Stopped: standard output was closed\r"));
}

TEST(DemoOutputs, XmlStreamOnStandardOutputMatchesTheLogRecordForRecord)
{
    CTemporaryDirectory directory;
    const ToolTest::SProcessResult result =
        Demo({"--xml", "--log", directory.File("run"), "--duration", "1", "--threads", "3"});
    ASSERT_EQ(0, result.m_nStatus) << result.m_sErrors;
    const std::string& stream = result.m_sOutput;
    EXPECT_EQ("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n<LOG_STREAM>\n", stream.substr(0, 70));
    const std::string epilogue = "<PROGRESS>\n<PERCENTAGE>-1</PERCENTAGE>\n</PROGRESS>\n</LOG_STREAM>\n";
    ASSERT_GT(stream.size(), epilogue.size());
    EXPECT_EQ(epilogue, stream.substr(stream.size() - epilogue.size()));
    // One log record per log line, and the watcher reads the whole stream.
    const std::size_t logLines = ToolTest::SplitLines(ReadFile(directory.File("run.log"))).size();
    std::size_t records = 0;
    for (std::size_t at = stream.find("<LOG>\n"); at != std::string::npos; at = stream.find("<LOG>\n", at + 1))
        ++records;
    EXPECT_EQ(logLines, records);
    const ToolTest::SProcessResult watched = ToolTest::RunProcess({g_sWatch}, stream);
    EXPECT_EQ(0, watched.m_nStatus);
    const std::vector<std::string> lines = ToolTest::SplitLines(watched.m_sOutput);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("stdin FINISHED", lines.back());
    EXPECT_TRUE(Contains(watched.m_sOutput, "stdin PROGRESS 100% Demo run: writing\n") ||
                Contains(watched.m_sOutput, "stdin PROGRESS 100% Demo run: done\n"))
        << watched.m_sOutput;
    EXPECT_TRUE(Contains(watched.m_sOutput, " DEBUG: [item-0000] "));
}

TEST(DemoOutputs, ConsoleLines)
{
    const ToolTest::SProcessResult result = Demo({"--console", "--duration", "1"});
    ASSERT_EQ(0, result.m_nStatus) << result.m_sErrors;
    const std::vector<std::string> lines = ToolTest::SplitLines(result.m_sOutput);
    ASSERT_GT(lines.size(), 20u);
    EXPECT_EQ(" INFO: Startup", lines.front().substr(19));
    EXPECT_EQ(0u, lines.back().substr(19).find(" INFO: Total Runtime: "));
    EXPECT_TRUE(Contains(result.m_sOutput, "\nProgress: Demo run: loading\n"));
    EXPECT_TRUE(Contains(result.m_sOutput, "\nProgress: Demo run: transforming\n"));
    EXPECT_TRUE(Contains(result.m_sOutput, "%\n"));
    // Without any output option the demo writes console lines.
    const ToolTest::SProcessResult fallback = Demo({"--duration", "1", "--level", "ERROR"});
    EXPECT_EQ(0, fallback.m_nStatus);
    EXPECT_TRUE(Contains(fallback.m_sOutput, " FATAL: FATAL messages look like this"));
    EXPECT_FALSE(Contains(fallback.m_sOutput, " WARNING: "));
}

#else

TEST(DemoOptions, Skipped) { GTEST_SKIP() << "the tools are not built"; }

#endif
