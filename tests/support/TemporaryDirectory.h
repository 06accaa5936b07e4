#ifndef VIDODERAVEV_TESTS_TEMPORARYDIRECTORY_H
#define VIDODERAVEV_TESTS_TEMPORARYDIRECTORY_H

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Test {

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it when the object goes.
class CTemporaryDirectory
{
public:
    CTemporaryDirectory()
    {
        const char* root = std::getenv("TMPDIR");
        m_sPath = std::string(root && *root ? root : "/tmp") + "/vidOderavev-test-XXXXXX";
        if (!::mkdtemp(&m_sPath[0]))
            throw std::runtime_error("mkdtemp failed");
    }
    ~CTemporaryDirectory()
    {
        std::error_code error;
        std::filesystem::remove_all(m_sPath, error);
    }
    CTemporaryDirectory(const CTemporaryDirectory&) = delete;
    CTemporaryDirectory& operator=(const CTemporaryDirectory&) = delete;

    const std::string& Path() const { return m_sPath; }
    std::string File(const std::string& name) const { return m_sPath + "/" + name; }
    std::string operator/(const std::string& name) const { return File(name); }
    // The names in the directory, sorted.
    std::vector<std::string> Entries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_sPath))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string m_sPath;
};

// A file's whole content, or "" when it cannot be opened (it may not be there yet); ReadFile throws instead.
inline std::string ReadFileOrEmpty(const std::string& path)
{
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream buffer;
    buffer << stream.rdbuf();
    return buffer.str();
}

inline std::string ReadFile(const std::string& path)
{
    if (!std::ifstream(path))
        throw std::runtime_error("cannot read " + path);
    return ReadFileOrEmpty(path);
}

inline void WriteTextFile(const std::string& path, const std::string& content)
{
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    if (!(stream << content))
        throw std::runtime_error("cannot write " + path);
}

// Whether the directory has an entry of that name; a dangling link counts.
inline bool FileExists(const std::string& path)
{
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

// Cuts after every separator; a last piece without one is kept when not empty.
inline std::vector<std::string> SplitLines(const std::string& text, const std::string& separator = "\n")
{
    std::vector<std::string> lines;
    std::string::size_type begin = 0;
    for (std::string::size_type end; (end = text.find(separator, begin)) != std::string::npos;
         begin = end + separator.size())
        lines.push_back(text.substr(begin, end - begin));
    if (begin < text.size())
        lines.push_back(text.substr(begin));
    return lines;
}

inline std::vector<std::string> SplitCrLfLines(const std::string& text) { return SplitLines(text, "\r\n"); }

// Polls every 10 ms until the condition holds or the seconds have passed.
inline bool WaitFor(double seconds, const std::function<bool()>& condition)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Sends standard error into a file for its lifetime, so that a test can read it while the code still runs.
class CStderrRedirect
{
public:
    CStderrRedirect() : m_nSaved(::dup(STDERR_FILENO))
    {
        std::cerr.flush();
        const int file = ::open((m_oDirectory / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(file, STDERR_FILENO);
        ::close(file);
    }
    ~CStderrRedirect()
    {
        std::cerr.flush();
        ::dup2(m_nSaved, STDERR_FILENO);
        ::close(m_nSaved);
    }
    CStderrRedirect(const CStderrRedirect&) = delete;
    CStderrRedirect& operator=(const CStderrRedirect&) = delete;
    std::string Text() const { return ReadFileOrEmpty(m_oDirectory / "stderr"); }

private:
    CTemporaryDirectory m_oDirectory;
    int m_nSaved;
};

} // namespace Test

#endif
