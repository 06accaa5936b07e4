// The file I/O layer with its retry dialogue, and the progress line texts.
#include <gtest/gtest.h>

#include <cerrno>

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <boost/make_shared.hpp>

#include <vidOderavev/Libraries/Fileio/FileioUnix.h>
#include <vidOderavev/Progress/TextFormats.h>

#include "support/FileTestSupport.h"

using namespace Qz::Varnel::Fileio;
using namespace Test::FileSupport;
using Test::CTemporaryDirectory;
using Test::ReadFile;
using Test::WriteTextFile;

namespace {

std::string Quoted(const std::string& name) { return "Failed to open the file \"" + name + "\""; }

int OpenForWriting(const std::string& name, _EOpenFlags flags = OpenCreate)
{
    return OpenFile(name, AccessWriteOnly, flags, PermissionsReadWriteAll);
}

// Runs a write of 20 bytes after "HEAD" in a child whose file size limit is
// 10 bytes, so that the first attempt stops after 6 bytes; the handler lifts
// the limit before it answers.
std::string ShortWrite(const std::string& file, const std::string& answers)
{
    return RunInChild(
               [&] {
                   ::signal(SIGXFSZ, SIG_IGN);
                   WriteTextFile(file, "HEAD");
                   struct rlimit limit;
                   ::getrlimit(RLIMIT_FSIZE, &limit);
                   const rlimit original = limit;
                   limit.rlim_cur = 10;
                   ::setrlimit(RLIMIT_FSIZE, &limit);
                   auto handler = boost::make_shared<CScriptedFailHandler>(
                       answers, [original] { ::setrlimit(RLIMIT_FSIZE, &original); });
                   g_oFailHandler = handler;
                   const int handle = OpenFile(file, AccessWriteOnly, OpenExisting, PermissionsReadWriteAll);
                   SeekFile(handle, 0, SeekEnd);
                   const std::string result =
                       DescribeFileioError([&] { WriteFile(handle, "0123456789abcdefghij", 20); });
                   return result + "|" + std::to_string(handler->m_nWriteQuestions) + "|" +
                          std::to_string(GetFilePosition(handle));
               },
               "")
        .m_sReport;
}

} // namespace

TEST(Fileio, FailuresAndTheirQuestions)
{
    // Whatever the tests ran before, they put the default handler back.
    EXPECT_EQ(static_cast<bool>(g_oFailHandler), static_cast<bool>(::isatty(STDIN_FILENO)));
    CTemporaryDirectory dir;
    auto handler = boost::make_shared<CScriptedFailHandler>("yyn");
    CFailHandlerScope scope(handler);
    const int before = CountOpenDescriptors();
    // A missing directory or file to open raises at once, with the source.
    const std::string name = dir / "missing/run.log";
    try {
        OpenForWriting(name);
        ADD_FAILURE() << "no exception";
    } catch (const CFileioError& error) {
        ASSERT_EQ(error.GetInfo().size(), 1u);
        const SExceptionInfo& info = error.GetInfo()[0];
        EXPECT_EQ(info.m_sFile + "|" + info.m_sDescription + "|" + std::to_string(info.m_nErrorCode) + "|" +
                      info.m_sSupplement + std::to_string(info.m_nLine > 0),
                  "Libraries/Fileio/FileioUnix.h|" + Quoted(name) + "|" + std::to_string(ENOENT) + "|1");
    }
    EXPECT_EQ(handler->m_nOpenQuestions, 0);
    // A refused open (a directory) asks until the handler declines.
    EXPECT_EQ(DescribeFileioError([&] { OpenForWriting(dir.Path()); }),
              Quoted(dir.Path()) + "|" + std::to_string(EISDIR));
    EXPECT_EQ(handler->m_nOpenQuestions, 3);
    EXPECT_EQ(CountOpenDescriptors(), before);
    // Creating keeps existing content.
    WriteTextFile(dir / "old", "content");
    CloseFile(OpenForWriting(dir / "old"));
    EXPECT_EQ(ReadFile(dir / "old"), "content");
    // A failed write asks until the handler declines.
    auto writer = boost::make_shared<CScriptedFailHandler>("yn");
    g_oFailHandler = writer;
    const int full = OpenForWriting("/dev/full", OpenExisting);
    EXPECT_EQ(DescribeFileioError([&] { WriteFile(full, "abc", 3); }),
              "Failed to write to a file|" + std::to_string(ENOSPC));
    EXPECT_EQ(writer->m_nWriteQuestions, 2);
    CloseFile(full); // the descriptor stayed open: closing is the caller's business
    // A short write, declined and retried.
    EXPECT_EQ(ShortWrite(dir / "f", "n"), "Failed to write enough data to a file|0|1|10");
    EXPECT_EQ(ReadFile(dir / "f"), "HEAD012345");
    EXPECT_EQ(ShortWrite(dir / "f", "y"), "no exception|1|24");
    EXPECT_EQ(ReadFile(dir / "f"), "HEAD0123456789abcdefghij");

    const int handle = OpenForWriting(dir / "g");
    WriteFile(handle, "", 0); // zero bytes need no handler
    EXPECT_EQ(DescribeFileioError([&] { SeekFile(handle, -2, SeekBegin); }),
              "Failed to seek within a file|" + std::to_string(EINVAL));
    CloseFile(handle);
    int pipeHandles[2];
    ASSERT_EQ(::pipe(pipeHandles), 0);
    const std::string unseekable = "Failed to request the current file position|" + std::to_string(ESPIPE);
    EXPECT_EQ(DescribeFileioError([&] { GetFilePosition(pipeHandles[1]); }), unseekable);
    EXPECT_EQ(DescribeFileioError([&] { TruncateFile(pipeHandles[1]); }), unseekable);
    ::close(pipeHandles[0]);
    ::close(pipeHandles[1]);
    const int reading = OpenFile(dir / "g", AccessReadOnly, OpenExisting, PermissionsReadWriteAll);
    const std::string truncated = DescribeFileioError([&] { TruncateFile(reading); });
    EXPECT_EQ(truncated.substr(0, truncated.find('|')), "Failed to truncate file to current pos");
    EXPECT_NE(truncated.substr(truncated.find('|') + 1), "0");
    CloseFile(reading);
    EXPECT_EQ(DescribeFileioError([&] { CloseFile(-1); }), "Failed to close a file|" + std::to_string(EBADF));
}

TEST(Fileio, ConsoleDialogue)
{
    CTemporaryDirectory dir;
    const std::string prompt = "Failed to open the file " + dir.Path() + "\nRetry (y/n) ";
    const std::string error = Quoted(dir.Path()) + "|" + std::to_string(EISDIR);
    // Input, what standard error shows, and the error with what was left
    // unread. "yes": y retries, e is discarded, s answers the second prompt.
    // The last case has no handler: a refused open raises at once and silently.
    const std::vector<std::vector<std::string>> cases = {
        {"n\n", prompt + "Giving up\n", error + "|10"},
        {"y\nn\n", prompt + "Retry opening\n" + prompt + "Giving up\n", error + "|10"},
        {"yes\n", prompt + "Retry opening\n" + prompt + "Giving up\n", error + "|10"},
        {"", prompt + "Giving up\n", error},
        {"y\n", "", error + "|121|10"},
    };
    for (const auto& c : cases) {
        const SChildResult child = RunInChild(
            [&] {
                g_oFailHandler.reset(&c == &cases.back() ? nullptr : new CStdioFailHandler);
                std::string result = DescribeFileioError([&] { OpenForWriting(dir.Path()); });
                for (int ch; (ch = std::getc(stdin)) != EOF;)
                    result += "|" + std::to_string(ch);
                return result;
            },
            c[0]);
        EXPECT_EQ(child.m_sStderr, c[1]) << c[0];
        EXPECT_EQ(child.m_sReport, c[2]) << c[0];
    }
    // A write failure names the descriptor.
    const SChildResult written = RunInChild(
        [&] {
            g_oFailHandler.reset(new CStdioFailHandler);
            const int handle = OpenForWriting("/dev/full", OpenExisting);
            return std::to_string(handle) + "|" + DescribeFileioError([&] { WriteFile(handle, "abc", 3); });
        },
        "y\nn\n");
    const std::string handle = written.m_sReport.substr(0, written.m_sReport.find('|'));
    const std::string writePrompt = "Failed to write data to handle " + handle + "\nRetry (y/n) ";
    EXPECT_EQ(written.m_sStderr, writePrompt + "Retry writing data\n" + writePrompt + "Giving up\n");
    EXPECT_EQ(written.m_sReport, handle + "|Failed to write to a file|" + std::to_string(ENOSPC));
}

TEST(ProgressLines, EtaBoundariesAndPercentTexts)
{
    using Qz::Varnel::Progress::Detail::BuildProgressLine;
    const std::pair<int64_t, const char*> cases[] = {
        {999000, ""}, {1000000, " [ETA: 1s]"}, {60500000, " [ETA: 60s]"}, {61000000, " [ETA: 1m 1s]"},
        {3600900000LL, " [ETA: 60m 0s]"}, {3601000000LL, " [ETA: 1h 0m 1s]"}, {3725900000LL, " [ETA: 1h 2m 5s]"},
        {0, ""}, {-5000000, ""}, {360000000000000LL, " [ETA: 100000h 0m 0s]"}, // beyond 32-bit seconds
    };
    for (const auto& c : cases)
        EXPECT_EQ(BuildProgressLine("42.5", boost::posix_time::microseconds(c.first)),
                  std::string("42.5 %") + c.second + "\n")
            << c.first;
    for (auto special :
         {boost::posix_time::pos_infin, boost::posix_time::neg_infin, boost::posix_time::not_a_date_time})
        EXPECT_EQ(BuildProgressLine("0", boost::posix_time::time_duration(special)), "0 %\n");
    EXPECT_EQ(Qz::Varnel::Progress::Detail::BuildProgressFileLine("Copying", "12.3457", boost::posix_time::seconds(61)),
              "Copying: 12.3457 % [ETA: 1m 1s]\n");
    for (const auto& percent : {std::make_pair(0.1234567, "12.3457"), std::make_pair(1.0, "100"), std::make_pair(0.011, "1.1")})
        EXPECT_EQ(Qz::Varnel::Progress::Detail::BuildProgressPercentText(percent.first), percent.second);
}
