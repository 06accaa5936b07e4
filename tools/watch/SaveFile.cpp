#include "watch/SaveFile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Qz {
namespace Varnel {
namespace Watch {

namespace {

// Bounds the search for a free name; a directory with that many copies of
// one stream is a mistake the user has to see.
const int g_nMaxAttempts = 1000;

} // namespace

std::string MakeFileStem(const std::string& text)
{
    std::string stem;
    for (char c : text.substr(0, 100)) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                          c == '-' || c == '_';
        stem += keep ? c : '_';
    }
    if (stem.empty())
        return "stream";
    if (stem[0] == '.')
        stem[0] = '_';
    return stem;
}

CSaveFile::CSaveFile(const std::string& directory, const std::string& stem) : m_sDirectory(directory)
{
    for (int attempt = 0; attempt < g_nMaxAttempts; ++attempt) {
        const std::string candidate = _Candidate(stem, attempt);
        m_nDescriptor = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (m_nDescriptor >= 0) {
            m_sStem = stem;
            m_sPath = candidate;
            return;
        }
        if (errno != EEXIST) {
            m_sError = "cannot create " + candidate + ": " + std::strerror(errno);
            return;
        }
    }
    m_sError = "no free file name for " + _Candidate(stem, 0);
}

CSaveFile::~CSaveFile()
{
    if (m_nDescriptor >= 0)
        ::close(m_nDescriptor);
}

bool CSaveFile::Write(const char* data, std::size_t size)
{
    if (m_nDescriptor < 0)
        return false;
    while (size > 0) {
        const ssize_t written = ::write(m_nDescriptor, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            m_sError = "cannot write " + m_sPath + ": " + std::strerror(errno);
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool CSaveFile::Rename(const std::string& stem)
{
    if (m_sPath.empty())
        return false;
    // link() fails on an existing name where rename() would replace it.
    for (int attempt = 0; attempt < g_nMaxAttempts; ++attempt) {
        const std::string candidate = _Candidate(stem, attempt);
        if (candidate == m_sPath) {
            m_sStem = stem;
            return true;
        }
        if (::link(m_sPath.c_str(), candidate.c_str()) == 0) {
            ::unlink(m_sPath.c_str());
            m_sStem = stem;
            m_sPath = candidate;
            return true;
        }
        if (errno != EEXIST) {
            m_sError = "cannot rename " + m_sPath + " to " + candidate + ": " + std::strerror(errno);
            return false;
        }
    }
    m_sError = "no free file name for " + _Candidate(stem, 0);
    return false;
}

bool CSaveFile::MarkIncomplete()
{
    if (m_nDescriptor >= 0)
        ::close(m_nDescriptor);
    m_nDescriptor = -1;
    if (m_bIncomplete || m_sPath.empty())
        return false;
    m_bIncomplete = true;
    return Rename(m_sStem);
}

std::string CSaveFile::_Candidate(const std::string& stem, int attempt) const
{
    std::string name = m_sDirectory;
    if (!name.empty() && name.back() != '/')
        name += '/';
    name += stem;
    if (attempt > 0)
        name += "." + std::to_string(attempt);
    return name + (m_bIncomplete ? ".xml.incomplete" : ".xml");
}

bool MakeSaveDirectory(const std::string& directory, std::string& error)
{
    // Each missing ancestor in turn; one made meanwhile by someone else is fine.
    for (std::size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
        const std::string part = directory.substr(0, slash);
        struct stat status = {};
        if (::stat(part.c_str(), &status) != 0) {
            if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
                error = "cannot create " + part + ": " + std::strerror(errno);
                return false;
            }
        } else if (!S_ISDIR(status.st_mode)) {
            error = "cannot create " + directory + ": " + part + " is not a directory";
            return false;
        }
        if (slash == std::string::npos)
            break;
    }
    if (::access(directory.c_str(), W_OK | X_OK) != 0) {
        error = "cannot write to " + directory + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace Watch
} // namespace Varnel
} // namespace Qz
