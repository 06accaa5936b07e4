#ifndef VIDODERAVEV_TESTS_FILEOUTPUTCHECKS_H
#define VIDODERAVEV_TESTS_FILEOUTPUTCHECKS_H

// Checks that every file output with a log and a progress file must pass;
// TOutput is constructed from the name given for its log.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <functional>
#include <string>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

#include <boost/make_shared.hpp>

#include <vidOderavev/Progress/Logger.h>

#include "support/FileTestSupport.h"
#include "support/TemporaryDirectory.h"

namespace Test {
namespace FileSupport {

// With the log file (logFile, the name the output derives from logName) a
// link to /dev/full, every message raises ENOSPC and leaves no descriptor
// open.
template <class TOutput> void ExpectFailingWritesCloseTheLog(const std::string& logName, const std::string& logFile)
{
    ASSERT_EQ(::symlink("/dev/full", logFile.c_str()), 0);
    auto visualizer = boost::make_shared<TOutput>(logName);
    const int before = CountOpenDescriptors();
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(DescribeFileioError([&] {
                      visualizer->ShowMessage("x", Qz::Varnel::Progress::VerbosityInfo, "2026-12-05 03:49:11", "");
                  }),
                  "Failed to write to a file|" + std::to_string(ENOSPC));
    EXPECT_EQ(CountOpenDescriptors(), before);
}

// A write that stops part way through a line (here at the file size limit, as
// on a disk that fills up) raises, and leaves no part of the line behind for
// the next line to be glued to. Runs in a child process, whose limit is its own.
template <class TOutput> void ExpectAFailedWriteLeavesNoTornLine(const std::string& logName, const std::string& logFile)
{
    const SChildResult child = RunInChild(
        [&] {
            auto visualizer = boost::make_shared<TOutput>(logName);
            auto send = [&](const std::string& text) {
                return DescribeFileioError([&] {
                    visualizer->ShowMessage(text, Qz::Varnel::Progress::VerbosityInfo, "2026-12-05 03:49:11", "");
                });
            };
            std::string report = send("whole");
            ::signal(SIGXFSZ, SIG_IGN);
            rlimit limit;
            ::getrlimit(RLIMIT_FSIZE, &limit);
            const rlim_t unlimited = limit.rlim_cur;
            limit.rlim_cur = Test::ReadFile(logFile).size() + 10;
            ::setrlimit(RLIMIT_FSIZE, &limit);
            report += "\n" + send("cut");
            limit.rlim_cur = unlimited;
            ::setrlimit(RLIMIT_FSIZE, &limit);
            report += "\n" + send("next");
            return report + "\n" + Test::ReadFile(logFile);
        },
        "");
    EXPECT_EQ(child.m_sReport, "no exception\nFailed to write enough data to a file|0\nno exception\n"
                               "2026-12-05 03:49:11 INFO: whole\r\n2026-12-05 03:49:11 INFO: next\r\n");
}

// A progress file is a snapshot: a change that the 0.2 s throttle dropped
// just before Clear() is in the file once the output is gone.
template <class TOutput>
void ExpectClearWritesTheDroppedProgress(const std::function<boost::shared_ptr<TOutput>()>& make,
                                         const std::string& progressFile)
{
    auto logger = boost::make_shared<Qz::Varnel::Progress::CLogger>("Run", 1.0, 100.0);
    {
        boost::shared_ptr<TOutput> visualizer = make();
        visualizer->AddLogger(logger);
        // Past the throttle's window that construction opened.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        logger->SetProgress(50.0);
        logger->SetProgress(100.0); // dropped by the throttle
        visualizer->Clear();
    }
    EXPECT_EQ(Test::ReadFile(progressFile), "Run: 100 %\n\n");
}

// Destruction closes the progress file, and survives a close that fails
// because the file was closed behind the output's back. TExposed is a TOutput
// that gives its progress file's descriptor through ProgressFile().
template <class TOutput, class TExposed>
void ExpectDestructionClosesTheProgressFile(const std::string& logName, const std::string& otherLogName)
{
    const int before = CountOpenDescriptors();
    {
        TOutput visualizer(logName);
    }
    EXPECT_EQ(CountOpenDescriptors(), before);

    auto visualizer = boost::make_shared<TExposed>(otherLogName);
    ASSERT_NE(visualizer->ProgressFile(), -1);
    // The destructor's close fails with EBADF.
    ASSERT_EQ(::close(visualizer->ProgressFile()), 0);
    EXPECT_NO_THROW(visualizer.reset());
    EXPECT_EQ(CountOpenDescriptors(), before);
}

} // namespace FileSupport
} // namespace Test

#endif
