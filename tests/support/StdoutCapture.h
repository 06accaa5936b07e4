#ifndef VIDODERAVEV_TESTS_STDOUTCAPTURE_H
#define VIDODERAVEV_TESTS_STDOUTCAPTURE_H

#include <string>

namespace Test {

// Redirects descriptor 1 to a temporary file until Finish, which returns
// every byte written meanwhile through std::cout, stdio or the descriptor.
// Do not let a test assertion print while the capture is active.
class CStdoutCapture
{
public:
    CStdoutCapture();
    ~CStdoutCapture();
    CStdoutCapture(const CStdoutCapture&) = delete;
    CStdoutCapture& operator=(const CStdoutCapture&) = delete;

    std::string Finish();

private:
    int m_nSavedFd;
    int m_nFileFd;
};

} // namespace Test

#endif
