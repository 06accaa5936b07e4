#ifndef VIDODERAVEV_TOOLS_WATCH_SAVEFILE_H
#define VIDODERAVEV_TOOLS_WATCH_SAVEFILE_H

#include <cstddef>
#include <string>

#include <boost/noncopyable.hpp>

namespace Qz {
namespace Varnel {
namespace Watch {

// The file in which one stream's received bytes are kept, unchanged and in
// order. It is created under a provisional name (the stream's source) and
// renamed once the stream has said which host and process it comes from. An
// existing file is never overwritten: a name that is taken gets ".1", ".2" and
// so on before ".xml". A copy that lacks bytes ends in ".xml.incomplete".
class CSaveFile : private boost::noncopyable
{
public:
    // Creates the file at once; on failure GetError() tells why.
    CSaveFile(const std::string& directory, const std::string& stem);
    ~CSaveFile();

    // True while bytes are written to the file.
    bool IsOpen() const { return m_nDescriptor >= 0; }
    // True once writing stopped at a refused write (see MarkIncomplete).
    bool IsIncomplete() const { return m_bIncomplete; }
    // The file's name; empty when none could be created.
    const std::string& GetPath() const { return m_sPath; }
    const std::string& GetError() const { return m_sError; }

    // Writes all bytes; false (with the reason in GetError) when the disk
    // refuses them.
    bool Write(const char* data, std::size_t size);
    // Gives the file its final name; false when no name could be taken.
    bool Rename(const std::string& stem);
    // Closes the file for good after a refused write and adds ".incomplete"
    // to its name (keeping the name when that fails, with the reason in
    // GetError). Appending later bytes would leave a hole that nothing shows.
    bool MarkIncomplete();

private:
    std::string _Candidate(const std::string& stem, int attempt) const;

    std::string m_sDirectory;
    std::string m_sStem;
    std::string m_sPath;
    std::string m_sError;
    int m_nDescriptor = -1;
    bool m_bIncomplete = false;
};

// Turns a host name, process identifier or peer address into a safe part of a
// file name: letters, digits, '.', '-' and '_' are kept, anything else becomes
// '_', and a leading '.' becomes '_' too. Never empty; at most 100 bytes.
std::string MakeFileStem(const std::string& text);

// Makes the directory and any missing parents, as "mkdir -p" does, and checks
// that files can be created in it. False with the reason ("cannot create
// DIR: Permission denied") when not.
bool MakeSaveDirectory(const std::string& directory, std::string& error);

} // namespace Watch
} // namespace Varnel
} // namespace Qz

#endif
