#ifndef VIDODERAVEV_LIBRARIES_FILEIO_FILEHANDLE_H
#define VIDODERAVEV_LIBRARIES_FILEIO_FILEHANDLE_H

#include <vidOderavev/Libraries/Fileio/FileioUnix.h>

namespace Qz {
namespace Varnel {
namespace Fileio {

// Owns one descriptor and closes it with CloseFile when it goes, so that no
// error path has to remember to. -1 means no file. Move-only.
class CFileHandle
{
public:
    CFileHandle() noexcept : m_nHandle(-1) {}
    explicit CFileHandle(int handle) noexcept : m_nHandle(handle) {}
    CFileHandle(CFileHandle&& other) noexcept : m_nHandle(other.Release()) {}
    CFileHandle& operator=(CFileHandle&& other) noexcept
    {
        Reset(other.Release());
        return *this;
    }
    CFileHandle(const CFileHandle&) = delete;
    CFileHandle& operator=(const CFileHandle&) = delete;
    ~CFileHandle() { Reset(); }

    int Get() const noexcept { return m_nHandle; }
    bool IsOpen() const noexcept { return m_nHandle != -1; }

    // Gives the descriptor up to the caller, who closes it from then on.
    int Release() noexcept
    {
        const int handle = m_nHandle;
        m_nHandle = -1;
        return handle;
    }

    // Takes the given descriptor after letting go of the one held. Nobody
    // could act on a failure to let go: close gives the descriptor up even
    // when it reports an error, so it is not reported.
    void Reset(int handle = -1) noexcept
    {
        const int previous = m_nHandle;
        m_nHandle = handle;
        if (previous == -1 || previous == handle)
            return;
        try {
            CloseFile(previous);
        } catch (...) {
        }
    }

    // Lets go of the file now and raises CFileioError when that fails; the
    // handle is empty afterwards either way.
    void Close()
    {
        if (m_nHandle != -1)
            CloseFile(Release());
    }

private:
    int m_nHandle;
};

} // namespace Fileio
} // namespace Varnel
} // namespace Qz

#endif
