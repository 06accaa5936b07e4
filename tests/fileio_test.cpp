#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/make_shared.hpp>

#include <vidOderavev/Libraries/Fileio/FileioUnix.h>

#include "support/FileTestSupport.h"
#include "support/TemporaryDirectory.h"

using namespace Qz::Varnel::Fileio;
using namespace Test::FileSupport;
using Test::CTemporaryDirectory;
using Test::FileExists;
using Test::ReadFile;
using Test::WriteTextFile;

namespace {

std::string Quoted(const std::string& name) { return "Failed to open the file \"" + name + "\""; }

int OpenForWriting(const std::string& name, _EOpenFlags flags = OpenCreate)
{
    return OpenFile(name, AccessWriteOnly, flags, PermissionsReadWriteAll);
}

boost::shared_ptr<CScriptedFailHandler> Scripted(const std::string& answers = std::string(),
                                                 std::function<void()> onQuestion = std::function<void()>())
{
    return boost::make_shared<CScriptedFailHandler>(answers, onQuestion);
}

} // namespace

TEST(FileioDefaults, HandlerOnlyWhenStandardInputIsATerminal)
{
    // Whatever the tests ran before, they put the default back.
    if (::isatty(STDIN_FILENO)) {
        ASSERT_TRUE(g_oFailHandler);
        EXPECT_TRUE(dynamic_cast<CStdioFailHandler*>(g_oFailHandler.get()));
    } else {
        EXPECT_FALSE(g_oFailHandler);
    }
}

TEST(FileioOpen, MissingDirectoryRaisesAtOnceWithTheNameQuoted)
{
    CTemporaryDirectory dir;
    auto handler = Scripted("yyyy");
    CFailHandlerScope scope(handler);
    const std::string name = dir / "missing/run.log";
    try {
        OpenForWriting(name);
        FAIL() << "no exception";
    } catch (const CFileioError& error) {
        ASSERT_EQ(error.GetInfo().size(), 1u);
        const SExceptionInfo& info = error.GetInfo()[0];
        EXPECT_EQ(info.m_sFile, "Libraries/Fileio/FileioUnix.h");
        EXPECT_GT(info.m_nLine, 0);
        EXPECT_EQ(info.m_sDescription, Quoted(name));
        EXPECT_EQ(info.m_nErrorCode, ENOENT);
        EXPECT_EQ(info.m_sSupplement, "");
    }
    EXPECT_EQ(handler->m_nOpenQuestions, 0);
}

TEST(FileioOpen, OpenExistingOnAMissingFileIsNotRetried)
{
    CTemporaryDirectory dir;
    auto handler = Scripted("yyyy");
    CFailHandlerScope scope(handler);
    EXPECT_EQ(DescribeFileioError([&] { OpenForWriting(dir / "gone", OpenExisting); }),
              Quoted(dir / "gone") + "|" + std::to_string(ENOENT));
    EXPECT_FALSE(FileExists(dir / "gone"));
    EXPECT_EQ(handler->m_nOpenQuestions, 0);
}

TEST(FileioOpen, CreateKeepsExistingContentAndMaskedMode)
{
    CTemporaryDirectory dir;
    WriteTextFile(dir / "old", "content");
    CloseFile(OpenForWriting(dir / "old"));
    EXPECT_EQ(ReadFile(dir / "old"), "content");

    const mode_t previous = ::umask(022);
    CloseFile(OpenForWriting(dir / "new"));
    ::umask(previous);
    struct stat info;
    ASSERT_EQ(::stat((dir / "new").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST(FileioOpen, RefusedOpenAsksUntilTheHandlerDeclines)
{
    // Opening a directory for writing fails with EISDIR, for root as well.
    CTemporaryDirectory dir;
    auto handler = Scripted("yyn");
    CFailHandlerScope scope(handler);
    const int before = CountOpenDescriptors();
    EXPECT_EQ(DescribeFileioError([&] { OpenForWriting(dir.Path()); }),
              Quoted(dir.Path()) + "|" + std::to_string(EISDIR));
    EXPECT_EQ(handler->m_nOpenQuestions, 3);
    EXPECT_EQ(handler->m_sLastFileName, dir.Path());
    EXPECT_EQ(CountOpenDescriptors(), before);
}

TEST(FileioOpen, RetryAfterTheCauseWentAwaySucceeds)
{
    CTemporaryDirectory dir;
    const std::string name = dir / "busy";
    ASSERT_EQ(::mkdir(name.c_str(), 0777), 0);
    auto handler = Scripted("y", [&] { ::rmdir(name.c_str()); });
    CFailHandlerScope scope(handler);
    const int handle = OpenForWriting(name);
    EXPECT_GE(handle, 0);
    CloseFile(handle);
    EXPECT_EQ(handler->m_nOpenQuestions, 1);
}

TEST(FileioOpen, WithoutHandlerARefusedOpenRaisesAtOnceAndSilently)
{
    CTemporaryDirectory dir;
    const SChildResult child = RunInChild(
        [&] {
            g_oFailHandler.reset();
            return DescribeFileioError([&] { OpenForWriting(dir.Path()); });
        },
        "y\ny\n");
    EXPECT_EQ(child.m_sReport, Quoted(dir.Path()) + "|" + std::to_string(EISDIR));
    EXPECT_EQ(child.m_sStderr, "");
}

TEST(FileioWrite, DevFullRaisesWithENOSPC)
{
    auto handler = Scripted("yn");
    CFailHandlerScope scope(handler);
    const int handle = OpenForWriting("/dev/full", OpenExisting);
    EXPECT_EQ(DescribeFileioError([&] { WriteFile(handle, "abc", 3); }),
              "Failed to write to a file|" + std::to_string(ENOSPC));
    EXPECT_EQ(handler->m_nWriteQuestions, 2);
    EXPECT_EQ(handler->m_nLastHandle, handle);
    // The descriptor stays open: closing is the caller's business.
    CloseFile(handle);
}

TEST(FileioWrite, WithoutHandlerAFailedWriteRaisesAtOnce)
{
    CFailHandlerScope scope{boost::shared_ptr<CFailHandler>()};
    const int handle = OpenForWriting("/dev/full", OpenExisting);
    EXPECT_EQ(DescribeFileioError([&] { WriteFile(handle, "abc", 3); }),
              "Failed to write to a file|" + std::to_string(ENOSPC));
    CloseFile(handle);
}

TEST(FileioWrite, ZeroBytesNeedNoHandler)
{
    CTemporaryDirectory dir;
    auto handler = Scripted();
    CFailHandlerScope scope(handler);
    const int handle = OpenForWriting(dir / "f");
    WriteFile(handle, "", 0);
    CloseFile(handle);
    EXPECT_EQ(handler->m_nWriteQuestions, 0);
    EXPECT_EQ(ReadFile(dir / "f"), "");
}

namespace {

// Runs a write of 20 bytes after "HEAD" in a child whose file size limit is
// 10 bytes, so that the first attempt stops after 6 bytes.
SChildResult ShortWrite(const std::string& file, const std::string& answers)
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
            // The handler lifts the limit before it answers.
            auto handler =
                boost::make_shared<CScriptedFailHandler>(answers, [original] { ::setrlimit(RLIMIT_FSIZE, &original); });
            g_oFailHandler = handler;
            const int handle = OpenFile(file, AccessWriteOnly, OpenExisting, PermissionsReadWriteAll);
            SeekFile(handle, 0, SeekEnd);
            const std::string result = DescribeFileioError([&] { WriteFile(handle, "0123456789abcdefghij", 20); });
            const int64_t position = GetFilePosition(handle);
            CloseFile(handle);
            return result + "|" + std::to_string(handler->m_nWriteQuestions) + "|" + std::to_string(position);
        },
        "");
}

} // namespace

TEST(FileioWrite, ShortWriteDeclinedRaisesNotEnoughDataWithCodeZero)
{
    CTemporaryDirectory dir;
    const SChildResult child = ShortWrite(dir / "f", "n");
    EXPECT_EQ(child.m_sReport, "Failed to write enough data to a file|0|1|10");
    EXPECT_EQ(ReadFile(dir / "f"), "HEAD012345");
}

TEST(FileioWrite, ShortWriteRetriedOverwritesThePartialBytesWithTheWholeBuffer)
{
    CTemporaryDirectory dir;
    const SChildResult child = ShortWrite(dir / "f", "y");
    EXPECT_EQ(child.m_sReport, "no exception|1|24");
    EXPECT_EQ(ReadFile(dir / "f"), "HEAD0123456789abcdefghij");
}

TEST(FileioWrite, ShortWriteWithoutHandlerRaisesAtOnce)
{
    CTemporaryDirectory dir;
    const std::string file = dir / "f";
    const SChildResult child = RunInChild(
        [&] {
            ::signal(SIGXFSZ, SIG_IGN);
            g_oFailHandler.reset();
            struct rlimit limit;
            ::getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = 5;
            ::setrlimit(RLIMIT_FSIZE, &limit);
            const int handle = OpenForWriting(file);
            return DescribeFileioError([&] { WriteFile(handle, "0123456789", 10); });
        },
        "");
    EXPECT_EQ(child.m_sReport, "Failed to write enough data to a file|0");
    EXPECT_EQ(child.m_sStderr, "");
    EXPECT_EQ(ReadFile(file), "01234");
}

TEST(FileioSeek, PositionTruncateAndTheirFailures)
{
    CTemporaryDirectory dir;
    const int handle = OpenForWriting(dir / "f");
    WriteFile(handle, "0123456789", 10);
    EXPECT_EQ(GetFilePosition(handle), 10);
    SeekFile(handle, -6, SeekCurrent);
    EXPECT_EQ(GetFilePosition(handle), 4);
    TruncateFile(handle);
    SeekFile(handle, 0, SeekEnd);
    EXPECT_EQ(GetFilePosition(handle), 4);
    SeekFile(handle, 1, SeekBegin);
    EXPECT_EQ(GetFilePosition(handle), 1);
    EXPECT_EQ(DescribeFileioError([&] { SeekFile(handle, -2, SeekBegin); }),
              "Failed to seek within a file|" + std::to_string(EINVAL));
    CloseFile(handle);
    EXPECT_EQ(ReadFile(dir / "f"), "0123");

    int pipeHandles[2];
    ASSERT_EQ(::pipe(pipeHandles), 0);
    EXPECT_EQ(DescribeFileioError([&] { GetFilePosition(pipeHandles[1]); }),
              "Failed to request the current file position|" + std::to_string(ESPIPE));
    EXPECT_EQ(DescribeFileioError([&] { TruncateFile(pipeHandles[1]); }),
              "Failed to request the current file position|" + std::to_string(ESPIPE));
    ::close(pipeHandles[0]);
    ::close(pipeHandles[1]);

    const int reading = OpenFile(dir / "f", AccessReadOnly, OpenExisting, PermissionsReadWriteAll);
    const std::string truncated = DescribeFileioError([&] { TruncateFile(reading); });
    EXPECT_EQ(truncated.substr(0, truncated.find('|')), "Failed to truncate file to current pos");
    EXPECT_NE(truncated.substr(truncated.find('|') + 1), "0");
    CloseFile(reading);

    EXPECT_EQ(DescribeFileioError([&] { CloseFile(-1); }), "Failed to close a file|" + std::to_string(EBADF));
}

// The console dialogue, in a child with scripted standard input.

namespace {

SChildResult OpenDialogue(const std::string& name, const std::string& input)
{
    return RunInChild(
        [&] {
            g_oFailHandler.reset(new CStdioFailHandler);
            std::string result = DescribeFileioError([&] { OpenForWriting(name); });
            // What the dialogue left unread.
            for (int c; (c = std::getc(stdin)) != EOF;)
                result += "|" + std::to_string(c);
            return result;
        },
        input);
}

std::string Prompt(const std::string& name) { return "Failed to open the file " + name + "\nRetry (y/n) "; }

} // namespace

TEST(FileioDialogue, NoGivesUp)
{
    CTemporaryDirectory dir;
    const SChildResult child = OpenDialogue(dir.Path(), "n\n");
    EXPECT_EQ(child.m_sStderr, Prompt(dir.Path()) + "Giving up\n");
    EXPECT_EQ(child.m_sReport, Quoted(dir.Path()) + "|" + std::to_string(EISDIR) + "|10");
}

TEST(FileioDialogue, YesRetriesThenNoGivesUp)
{
    CTemporaryDirectory dir;
    const SChildResult child = OpenDialogue(dir.Path(), "y\nn\n");
    EXPECT_EQ(child.m_sStderr, Prompt(dir.Path()) + "Retry opening\n" + Prompt(dir.Path()) + "Giving up\n");
    EXPECT_EQ(child.m_sReport, Quoted(dir.Path()) + "|" + std::to_string(EISDIR) + "|10");
}

TEST(FileioDialogue, AWordBeginningWithYLeavesItsRestForTheNextPrompt)
{
    // "yes": y retries, e is discarded, s answers the second prompt with no.
    CTemporaryDirectory dir;
    const SChildResult child = OpenDialogue(dir.Path(), "yes\n");
    EXPECT_EQ(child.m_sStderr, Prompt(dir.Path()) + "Retry opening\n" + Prompt(dir.Path()) + "Giving up\n");
    EXPECT_EQ(child.m_sReport, Quoted(dir.Path()) + "|" + std::to_string(EISDIR) + "|10");
}

TEST(FileioDialogue, EmptyInputUpperCaseAndEmptyLineGiveUp)
{
    CTemporaryDirectory dir;
    const std::string expected = Prompt(dir.Path()) + "Giving up\n";
    const std::string error = Quoted(dir.Path()) + "|" + std::to_string(EISDIR);
    SChildResult child = OpenDialogue(dir.Path(), "");
    EXPECT_EQ(child.m_sStderr, expected);
    EXPECT_EQ(child.m_sReport, error);
    child = OpenDialogue(dir.Path(), "Y\n");
    EXPECT_EQ(child.m_sStderr, expected);
    EXPECT_EQ(child.m_sReport, error + "|10");
    child = OpenDialogue(dir.Path(), "\n");
    EXPECT_EQ(child.m_sStderr, expected);
    EXPECT_EQ(child.m_sReport, error);
}

TEST(FileioDialogue, AnsweredRetrySucceedsOnceTheCauseIsGone)
{
    CTemporaryDirectory dir;
    const std::string name = dir / "busy";
    ASSERT_EQ(::mkdir(name.c_str(), 0777), 0);
    const SChildResult child = RunInChild(
        [&] {
            g_oFailHandler.reset(new CStdioFailHandler);
            const int handle = OpenForWriting(name);
            WriteFile(handle, "ok", 2);
            CloseFile(handle);
            return std::string("opened");
        },
        "",
        [&](const std::string& seen) {
            if (seen.find("Retry (y/n) ") == std::string::npos)
                return std::string();
            ::rmdir(name.c_str());
            return std::string("y\n");
        });
    EXPECT_EQ(child.m_sStderr, Prompt(name) + "Retry opening\n");
    EXPECT_EQ(child.m_sReport, "opened");
    EXPECT_EQ(ReadFile(name), "ok");
}

TEST(FileioDialogue, WriteFailureNamesTheDescriptor)
{
    const SChildResult child = RunInChild(
        [&] {
            g_oFailHandler.reset(new CStdioFailHandler);
            const int handle = OpenForWriting("/dev/full", OpenExisting);
            return std::to_string(handle) + "|" + DescribeFileioError([&] { WriteFile(handle, "abc", 3); });
        },
        "y\nn\n");
    const std::string handle = child.m_sReport.substr(0, child.m_sReport.find('|'));
    const std::string prompt = "Failed to write data to handle " + handle + "\nRetry (y/n) ";
    EXPECT_EQ(child.m_sStderr, prompt + "Retry writing data\n" + prompt + "Giving up\n");
    EXPECT_EQ(child.m_sReport, handle + "|Failed to write to a file|" + std::to_string(ENOSPC));
}
