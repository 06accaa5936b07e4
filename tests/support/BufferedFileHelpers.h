#ifndef VIDODERAVEV_TESTS_BUFFEREDFILEHELPERS_H
#define VIDODERAVEV_TESTS_BUFFEREDFILEHELPERS_H

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace Test {

// Cuts at every "\r\n"; the text after the last one (a torn line) is
// returned as a last element only when it is not empty.
std::vector<std::string> SplitCrLfLines(const std::string& content);

// Polls every 10 ms until the condition holds or the deadline passes.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds deadline);

// Sends standard error (descriptor 2) into a file for its lifetime, so that a
// test can read what the library reported while it is still running.
class CStderrRedirect
{
public:
    CStderrRedirect();
    ~CStderrRedirect();
    CStderrRedirect(const CStderrRedirect&) = delete;
    CStderrRedirect& operator=(const CStderrRedirect&) = delete;

    std::string Text() const;

private:
    std::string m_sPath;
    int m_nSaved;
};

} // namespace Test

#endif
