#ifndef VIDODERAVEV_TOOLS_DEMO_STANDARDOUTPUT_H
#define VIDODERAVEV_TOOLS_DEMO_STANDARDOUTPUT_H

#include <mutex>
#include <streambuf>
#include <string>

#include <boost/noncopyable.hpp>

namespace Qz {
namespace Varnel {
namespace Demo {

// Standard output as the XML and console outputs write to it (through
// std::cout), watched by the demo: those outputs never look at the state of
// the stream, so without this a full disk or a reader that went away would go
// unnoticed. The first write that fails stops the run: a closed pipe (EPIPE)
// is how a pipeline such as "| head" ends and stops it quietly, any other
// error is reported. From then on everything written is dropped.
//
// Installed into std::cout for the object's life; what is pending is written
// when std::cout is flushed and at the end.
class CWatchedStandardOutput : private boost::noncopyable
{
public:
    CWatchedStandardOutput();
    ~CWatchedStandardOutput();

private:
    // Writes whole records with as few system calls as the stream's flushes
    // allow. Several outputs may write from different threads, so it keeps
    // no put area of std::streambuf and guards its own buffer.
    class CBuffer : public std::streambuf
    {
    protected:
        int_type overflow(int_type character) override;
        std::streamsize xsputn(const char* data, std::streamsize size) override;
        int sync() override;

    private:
        void _Append(const char* data, std::size_t size);
        void _Write();

        std::mutex m_oMutex;
        std::string m_sPending;
        bool m_bFailed = false;
    };

    CBuffer m_oBuffer;
    std::streambuf* m_pPrevious;
};

} // namespace Demo
} // namespace Varnel
} // namespace Qz

#endif
