#ifndef VIDODERAVEV_TESTS_FILETESTSUPPORT_H
#define VIDODERAVEV_TESTS_FILETESTSUPPORT_H

#include <functional>
#include <iterator>
#include <string>

#include <boost/shared_ptr.hpp>

#include <vidOderavev/Companion/FailHandler.h>
#include <vidOderavev/Libraries/Fileio/FileioUnix.h>

#include "support/TemporaryDirectory.h"

namespace Test {
namespace FileSupport {

// Entries of /proc/self/fd, the one this count opens included.
inline int CountOpenDescriptors()
{
    std::filesystem::directory_iterator entries("/proc/self/fd");
    return static_cast<int>(std::distance(begin(entries), end(entries)));
}

// Installs a fail handler for the life of the object and puts back the one that was there before.
class CFailHandlerScope
{
public:
    explicit CFailHandlerScope(const boost::shared_ptr<Qz::Varnel::Fileio::CFailHandler>& handler)
        : m_oPrevious(Qz::Varnel::Fileio::g_oFailHandler)
    {
        Qz::Varnel::Fileio::g_oFailHandler = handler;
    }
    ~CFailHandlerScope() { Qz::Varnel::Fileio::g_oFailHandler = m_oPrevious; }

private:
    boost::shared_ptr<Qz::Varnel::Fileio::CFailHandler> m_oPrevious;
};

// A fail handler that answers from a script and counts the questions; once it is used up it answers no.
class CScriptedFailHandler : public Qz::Varnel::Fileio::CFailHandler
{
public:
    explicit CScriptedFailHandler(const std::string& answers = std::string(),
                                  std::function<void()> onQuestion = std::function<void()>())
        : m_sAnswers(answers), m_oOnQuestion(std::move(onQuestion))
    {
    }
    bool WriteFailure(int) override { return Answer(m_nWriteQuestions); }
    bool OpenFailure(const std::string&) override { return Answer(m_nOpenQuestions); }

    int m_nWriteQuestions = 0, m_nOpenQuestions = 0;

private:
    bool Answer(int& questions)
    {
        ++questions;
        if (m_oOnQuestion)
            m_oOnQuestion();
        const bool yes = !m_sAnswers.empty() && m_sAnswers[0] == 'y';
        m_sAnswers.erase(0, m_sAnswers.empty() ? 0 : 1);
        return yes;
    }

    std::string m_sAnswers;
    std::function<void()> m_oOnQuestion;
};

struct SChildResult
{
    std::string m_sStderr; // every byte the child wrote to standard error
    std::string m_sReport; // what the body returned
};

// Runs body in a forked child whose standard input holds stdinData (then end of input) and whose standard
// error is captured. The child is killed after 20 s so that a hung dialogue cannot hang the test.
SChildResult RunInChild(const std::function<std::string()>& body, const std::string& stdinData);

// "description|error code" of the CFileioError that call raises, or "no exception".
inline std::string DescribeFileioError(const std::function<void()>& call)
{
    try {
        call();
    } catch (const Qz::Varnel::Fileio::CFileioError& error) {
        return error.GetDescription() + "|" + std::to_string(error.GetErrorCode());
    }
    return "no exception";
}

} // namespace FileSupport
} // namespace Test

#endif
