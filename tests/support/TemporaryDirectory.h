#ifndef VIDODERAVEV_TESTS_TEMPORARYDIRECTORY_H
#define VIDODERAVEV_TESTS_TEMPORARYDIRECTORY_H

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
    // Path() + "/" + name
    std::string File(const std::string& name) const { return m_sPath + "/" + name; }
    std::string operator/(const std::string& name) const { return File(name); }
    // The names in the directory, sorted, without "." and "..".
    std::vector<std::string> Entries() const;

private:
    std::string m_sPath;
};

// The names in a directory, sorted, without "." and "..".
std::vector<std::string> EntriesOf(const std::string& directory);

// The whole content of a file; throws std::runtime_error when it cannot be
// opened.
std::string ReadFile(const std::string& path);
// The whole content of a file, or an empty text when it cannot be opened:
// for polling a file that may not be there yet.
std::string ReadFileOrEmpty(const std::string& path);
// Replaces the content of a file; throws std::runtime_error when it cannot be
// written.
void WriteTextFile(const std::string& path, const std::string& content);
// Whether the directory has an entry of that name; a dangling link counts.
bool FileExists(const std::string& path);

} // namespace Test

#endif
