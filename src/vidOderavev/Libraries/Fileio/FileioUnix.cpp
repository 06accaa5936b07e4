#include <vidOderavev/Libraries/Fileio/FileioUnix.h>

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vidOderavev/Diagnostics.h>
#include <vidOderavev/Internationalisation/FormatText.h>
#include <vidOderavev/Internationalisation/Translator.h>

namespace Qz {
namespace Varnel {
namespace Fileio {

using Internationalisation::CTranslator;

namespace {

const char* const g_pSourceFile = "Libraries/Fileio/FileioUnix.h";

[[noreturn]] void Raise(int line, const std::string& description, int errorCode)
{
    throw CFileioError(g_pSourceFile, line, description, errorCode, CTranslator::Translate(""));
}

[[noreturn]] void RaiseErrno(int line, const char* text)
{
    const int errorCode = errno;
    Raise(line, CTranslator::Translate(text), errorCode);
}

int AccessFlags(_EFileAccessMode access)
{
    switch (access) {
    case AccessReadOnly:
        return O_RDONLY;
    case AccessReadWrite:
        return O_RDWR;
    case AccessWriteOnly:
    default:
        return O_WRONLY;
    }
}

mode_t Mode(_EFilePermissions permissions) { return permissions == PermissionsReadWriteOwner ? 0600 : 0666; }

// The dialogue is shown as diagnostics, but the answer always comes from
// standard input.
bool AskAgain(const std::string& problem, const char* retryText)
{
    Varnel::Detail::WriteDiagnostic(problem + "\n");
    Varnel::Detail::WriteDiagnostic(CTranslator::Translate("Retry (y/n) "));
    const int answer = std::getc(stdin);
    if (answer == 'y') {
        std::getc(stdin); // the end of line after the answer
        Varnel::Detail::WriteDiagnostic(CTranslator::Translate(retryText) + "\n");
        return true;
    }
    Varnel::Detail::WriteDiagnostic(CTranslator::Translate("Giving up") + "\n");
    return false;
}

} // namespace

CBasicException::CBasicException(const std::string& file, int line, const std::string& description, int errorCode,
                                 const std::string& supplement)
{
    m_oInfo.push_back(SExceptionInfo{file, line, description, errorCode, supplement});
}

int OpenFile(const std::string& fileName, _EFileAccessMode access, _EOpenFlags flags, _EFilePermissions permissions,
             int)
{
    static const int s_anOpenFlags[] = {0, O_CREAT, O_TRUNC, O_CREAT | O_TRUNC};
    // Close-on-exec keeps the host's log descriptors out of programs it starts.
    const int openFlags = AccessFlags(access) | s_anOpenFlags[flags & 3] | O_CLOEXEC;
    int handle = ::open(fileName.c_str(), openFlags, Mode(permissions));
    while (handle == -1) {
        const int errorCode = errno;
        const boost::shared_ptr<CFailHandler> handler = g_oFailHandler;
        if (errorCode == ENOENT || !handler || !handler->OpenFailure(fileName)) {
            Raise(__LINE__,
                  Internationalisation::FormatTranslated("Failed to open the file \"%1%\"", fileName),
                  errorCode);
        }
        handle = ::open(fileName.c_str(), openFlags, Mode(permissions));
    }
    return handle;
}

void WriteFile(int handle, const void* data, std::size_t length)
{
    const ssize_t wanted = static_cast<ssize_t>(length);
    ssize_t written = ::write(handle, data, length);
    int errorCode = errno;
    while (written < wanted) {
        const boost::shared_ptr<CFailHandler> handler = g_oFailHandler;
        if (!handler || !handler->WriteFailure(handle))
            break;
        if (written > 0 && ::lseek(handle, -static_cast<off_t>(written), SEEK_END) < 0)
            RaiseErrno(__LINE__, "Failed to seek within a file");
        written = ::write(handle, data, length);
        errorCode = errno;
    }
    if (written < 0)
        Raise(__LINE__, CTranslator::Translate("Failed to write to a file"), errorCode);
    if (written < wanted)
        Raise(__LINE__, CTranslator::Translate("Failed to write enough data to a file"), 0);
}

void SeekFile(int handle, long offset, _ESeekMethod method)
{
    if (::lseek(handle, offset, static_cast<int>(method)) < 0)
        RaiseErrno(__LINE__, "Failed to seek within a file");
}

int64_t GetFilePosition(int handle)
{
    const off_t position = ::lseek(handle, 0, SEEK_CUR);
    if (position < 0)
        RaiseErrno(__LINE__, "Failed to request the current file position");
    return position;
}

void TruncateFile(int handle)
{
    const int64_t position = GetFilePosition(handle);
    if (::ftruncate(handle, position) == -1)
        RaiseErrno(__LINE__, "Failed to truncate file to current pos");
}

void CloseFile(int handle)
{
    if (::close(handle) == -1)
        RaiseErrno(__LINE__, "Failed to close a file");
}

bool CStdioFailHandler::OpenFailure(const std::string& fileName)
{
    if (IsUnattendedThread())
        return false;
    return AskAgain(Internationalisation::FormatTranslated("Failed to open the file %1%", fileName), "Retry opening");
}

bool CStdioFailHandler::WriteFailure(int handle)
{
    if (IsUnattendedThread())
        return false;
    return AskAgain(Internationalisation::FormatTranslated("Failed to write data to handle %1%", handle),
                    "Retry writing data");
}

} // namespace Fileio
} // namespace Varnel
} // namespace Qz
