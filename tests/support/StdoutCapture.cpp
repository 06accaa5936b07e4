#include "support/StdoutCapture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <stdexcept>

namespace Test {

namespace {

void FlushAll()
{
    std::cout.flush();
    std::fflush(stdout);
}

} // namespace

CStdoutCapture::CStdoutCapture() : m_nSavedFd(-1), m_nFileFd(-1)
{
    FlushAll();
    char name[] = "/tmp/vidOderavev-stdout-XXXXXX";
    m_nFileFd = mkstemp(name);
    if (m_nFileFd < 0)
        throw std::runtime_error("mkstemp failed");
    unlink(name);
    m_nSavedFd = dup(STDOUT_FILENO);
    if (m_nSavedFd < 0 || dup2(m_nFileFd, STDOUT_FILENO) < 0)
        throw std::runtime_error("cannot redirect standard output");
}

CStdoutCapture::~CStdoutCapture()
{
    if (m_nSavedFd >= 0)
        Finish();
}

std::string CStdoutCapture::Finish()
{
    if (m_nSavedFd < 0)
        return std::string();
    FlushAll();
    dup2(m_nSavedFd, STDOUT_FILENO);
    close(m_nSavedFd);
    m_nSavedFd = -1;
    std::string bytes;
    char buffer[65536];
    lseek(m_nFileFd, 0, SEEK_SET);
    for (;;) {
        const ssize_t got = read(m_nFileFd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    close(m_nFileFd);
    m_nFileFd = -1;
    return bytes;
}

} // namespace Test
