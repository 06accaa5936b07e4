#ifndef VIDODERAVEV_TESTS_TEMPORARYDIRECTORY_H
#define VIDODERAVEV_TESTS_TEMPORARYDIRECTORY_H

#include <functional>
#include <string>
#include <vector>

namespace Test {

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it
// when the object goes.
class CTemporaryDirectory
{
public:
    CTemporaryDirectory();
    ~CTemporaryDirectory();
    CTemporaryDirectory(const CTemporaryDirectory&) = delete;
    CTemporaryDirectory& operator=(const CTemporaryDirectory&) = delete;

    const std::string& Path() const { return m_sPath; }
    std::string File(const std::string& name) const { return m_sPath + "/" + name; }
    std::string operator/(const std::string& name) const { return File(name); }
    std::vector<std::string> Entries() const;

private:
    std::string m_sPath;
};

// The names in a directory, sorted, without "." and "..".
std::vector<std::string> EntriesOf(const std::string& directory);
// The whole content of a file; throws std::runtime_error when it cannot be
// opened. ReadFileOrEmpty gives "" instead, for a file that may not be there yet.
std::string ReadFile(const std::string& path);
std::string ReadFileOrEmpty(const std::string& path);
void WriteTextFile(const std::string& path, const std::string& content);
// Whether the directory has an entry of that name; a dangling link counts.
bool FileExists(const std::string& path);
// Cuts after every separator; a last piece without one is kept when not empty.
std::vector<std::string> SplitLines(const std::string& text, const std::string& separator = "\n");
inline std::vector<std::string> SplitCrLfLines(const std::string& text) { return SplitLines(text, "\r\n"); }
// Polls every 10 ms until the condition holds or the seconds have passed.
bool WaitFor(double seconds, const std::function<bool()>& condition);

// Sends standard error (descriptor 2) into a file for its lifetime, so that a
// test can read what the library reported while it is still running.
class CStderrRedirect
{
public:
    CStderrRedirect();
    ~CStderrRedirect();
    CStderrRedirect(const CStderrRedirect&) = delete;
    CStderrRedirect& operator=(const CStderrRedirect&) = delete;
    std::string Text() const { return ReadFileOrEmpty(m_oDirectory / "stderr"); }

private:
    CTemporaryDirectory m_oDirectory;
    int m_nSaved;
};

} // namespace Test

#endif
