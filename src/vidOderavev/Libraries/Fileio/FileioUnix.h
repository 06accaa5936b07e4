#ifndef VIDODERAVEV_LIBRARIES_FILEIO_FILEIOUNIX_H
#define VIDODERAVEV_LIBRARIES_FILEIO_FILEIOUNIX_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <vidOderavev/Companion/FailHandler.h>
#include <vidOderavev/Export.h>

namespace Qz {
namespace Varnel {
namespace Fileio {

enum _EFileAccessMode
{
    AccessReadOnly,
    AccessWriteOnly,
    AccessReadWrite
};

// Indexes the table of open flags added to the access flags.
enum _EOpenFlags
{
    OpenExisting = 0,
    OpenCreate = 1,
    OpenTruncate = 2,
    OpenCreateTruncate = 3
};

enum _EFilePermissions
{
    PermissionsReadWriteAll,  // 0666, less the umask
    PermissionsReadWriteOwner // 0600
};

// Handed to lseek as its whence.
enum _ESeekMethod
{
    SeekBegin = 0,
    SeekCurrent = 1,
    SeekEnd = 2
};

struct VIDODERAVEV_API SExceptionInfo
{
    std::string m_sFile;
    int m_nLine;
    std::string m_sDescription;
    int m_nErrorCode;
    std::string m_sSupplement;
};

// The exception shared with the companion libraries: a list of records, the
// first one made by the raising site.
class VIDODERAVEV_API CBasicException
{
public:
    CBasicException(const std::string& file, int line, const std::string& description, int errorCode,
                    const std::string& supplement);

    const std::vector<SExceptionInfo>& GetInfo() const { return m_oInfo; }
    const std::string& GetDescription() const { return m_oInfo.front().m_sDescription; }
    int GetErrorCode() const { return m_oInfo.front().m_nErrorCode; }

protected:
    std::vector<SExceptionInfo> m_oInfo;
};

class VIDODERAVEV_API CFileioError : public CBasicException
{
public:
    using CBasicException::CBasicException;
};

// Opens a file; a failure other than ENOENT is offered to g_oFailHandler,
// which may ask for another attempt. Raises CFileioError when it gives up.
VIDODERAVEV_API int OpenFile(const std::string& fileName, _EFileAccessMode access, _EOpenFlags flags,
                             _EFilePermissions permissions, int options = 0);
// Writes the whole buffer with one call; a short or failed write is offered
// to g_oFailHandler and then repeated whole, over the bytes it left behind.
VIDODERAVEV_API void WriteFile(int handle, const void* data, std::size_t length);
VIDODERAVEV_API void SeekFile(int handle, long offset, _ESeekMethod method);
VIDODERAVEV_API int64_t GetFilePosition(int handle);
// Cuts the file at the current position.
VIDODERAVEV_API void TruncateFile(int handle);
VIDODERAVEV_API void CloseFile(int handle);

// Asks on standard error whether to try again and reads the answer from
// standard input: a first character y means yes, anything else no. On an
// unattended thread (CUnattendedThreadScope) it says no at once, silently.
class VIDODERAVEV_API CStdioFailHandler : public CFailHandler
{
public:
    virtual bool WriteFailure(int handle);
    virtual bool OpenFailure(const std::string& fileName);
};

} // namespace Fileio
} // namespace Varnel
} // namespace Qz

#endif
