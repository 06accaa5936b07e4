#include "demo/StandardOutput.h"

#include <cerrno>
#include <iostream>
#include <system_error>

#include <unistd.h>

#include "demo/Interrupt.h"

namespace Qz {
namespace Varnel {
namespace Demo {

namespace {

// Unflushed text beyond this is written at once, so that a stream that is
// never flushed cannot grow without bound.
const std::size_t g_nMaxPending = 64 * 1024;

} // namespace

CWatchedStandardOutput::CWatchedStandardOutput() : m_pPrevious(std::cout.rdbuf(&m_oBuffer)) {}

CWatchedStandardOutput::~CWatchedStandardOutput()
{
    std::cout.flush();
    std::cout.rdbuf(m_pPrevious);
}

CWatchedStandardOutput::CBuffer::int_type CWatchedStandardOutput::CBuffer::overflow(int_type character)
{
    if (!traits_type::eq_int_type(character, traits_type::eof())) {
        const char text = traits_type::to_char_type(character);
        std::lock_guard<std::mutex> lock(m_oMutex);
        _Append(&text, 1);
    }
    // A failure has been dealt with here; the stream itself stays good, so
    // that no writer ever touches its state.
    return traits_type::not_eof(character);
}

std::streamsize CWatchedStandardOutput::CBuffer::xsputn(const char* data, std::streamsize size)
{
    std::lock_guard<std::mutex> lock(m_oMutex);
    _Append(data, static_cast<std::size_t>(size));
    return size;
}

int CWatchedStandardOutput::CBuffer::sync()
{
    std::lock_guard<std::mutex> lock(m_oMutex);
    _Write();
    return 0;
}

void CWatchedStandardOutput::CBuffer::_Append(const char* data, std::size_t size)
{
    if (m_bFailed)
        return;
    m_sPending.append(data, size);
    if (m_sPending.size() >= g_nMaxPending)
        _Write();
}

void CWatchedStandardOutput::CBuffer::_Write()
{
    std::size_t done = 0;
    while (!m_bFailed && done < m_sPending.size()) {
        const ssize_t written = ::write(STDOUT_FILENO, m_sPending.data() + done, m_sPending.size() - done);
        const int error = written < 0 ? errno : 0;
        if (written > 0)
            done += static_cast<std::size_t>(written);
        // A signal that arrives while a reader is slow interrupts the write.
        if (written > 0 || error == EINTR)
            continue;
        m_bFailed = true;
        if (error == EPIPE)
            RequestQuietStop("standard output was closed");
        else
            RequestStop("standard output failed: " +
                        (error != 0 ? std::system_category().message(error) : std::string("nothing was written")));
    }
    m_sPending.clear();
}

} // namespace Demo
} // namespace Varnel
} // namespace Qz
