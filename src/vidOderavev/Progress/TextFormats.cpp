#include <vidOderavev/Progress/TextFormats.h>

#include <cstdint>

#include <unistd.h>

#include <boost/format.hpp>

#include <vidOderavev/Companion/ValueString.h>
#include <vidOderavev/Libraries/Fileio/FileHandle.h>
#include <vidOderavev/Libraries/Fileio/FileioUnix.h>
#include <vidOderavev/Progress/Visualizer.h>

namespace Qz {
namespace Varnel {
namespace Progress {
namespace Detail {

std::string BuildSimpleLogLine(const std::string& text, _EVerbosityLevel level, const std::string& timeStamp,
                               const std::string& taskId)
{
    std::string line;
    line.reserve(timeStamp.size() + text.size() + taskId.size() + 16);
    line += timeStamp;
    line += ' ';
    line += GetLevelName(level);
    if (taskId.empty()) {
        line += ": ";
    } else {
        line += ": [";
        line += taskId;
        line += "] ";
    }
    line += text;
    line += "\r\n";
    return line;
}

std::string BuildDateLogLine(const std::string& text, _EVerbosityLevel level, const std::string& timeStamp)
{
    return BuildSimpleLogLine(text, level, timeStamp, std::string());
}

void AppendBufferedLogLine(std::string& line, const std::string& text, _EVerbosityLevel level,
                           const std::string& timeStamp, const std::string& taskId)
{
    if (!taskId.empty()) {
        line += '[';
        line += taskId;
        line += "] ";
    }
    line += timeStamp;
    line += ' ';
    line += GetLevelName(level);
    line += ": ";
    line += text;
    line += "\r\n";
}

std::string BuildProgressLine(const std::string& percentText, const boost::posix_time::time_duration& remaining)
{
    if (remaining.is_special())
        return (boost::format("%1% %%\n") % percentText).str();
    // Whole units by truncating division; 64 bits, so that no duration wraps.
    const int64_t t = remaining.total_microseconds();
    const int64_t s = t / 1000000;
    const int64_t m = t / 60000000;
    const int64_t h = t / 3600000000LL;
    if (s > 3600)
        return (boost::format("%1% %% [ETA: %2%h %3%m %4%s]\n") % percentText % h % (m % 60) % (s % 60)).str();
    if (s > 60)
        return (boost::format("%1% %% [ETA: %2%m %3%s]\n") % percentText % m % (s % 60)).str();
    if (s <= 0)
        return (boost::format("%1% %%\n") % percentText).str();
    return (boost::format("%1% %% [ETA: %2%s]\n") % percentText % s).str();
}

std::string BuildProgressFileLine(const std::string& layerText, const std::string& percentText,
                                  const boost::posix_time::time_duration& remaining)
{
    return layerText + ": " + BuildProgressLine(percentText, remaining);
}

std::string BuildProgressPercentText(double fraction) { return Strings::MakePercentString(fraction, 4); }

void RewriteProgressFile(int handle, const std::string& content)
{
    Fileio::SeekFile(handle, 0, Fileio::SeekBegin);
    Fileio::WriteFile(handle, content.data(), content.size());
    Fileio::TruncateFile(handle);
}

void AppendToLogFile(const std::string& fileName, Fileio::_EOpenFlags flags, const std::string& line)
{
    Fileio::CFileHandle file(
        Fileio::OpenFile(fileName, Fileio::AccessWriteOnly, flags, Fileio::PermissionsReadWriteAll));
    int64_t end = -1;
    try {
        Fileio::SeekFile(file.Get(), 0, Fileio::SeekEnd);
        end = Fileio::GetFilePosition(file.Get());
        Fileio::WriteFile(file.Get(), line.data(), line.size());
    } catch (...) {
        // A disk that fills up takes part of a line: that part is cut off
        // again, so that the next line does not continue it. Where the file
        // cannot be cut (a device), nothing more can be done.
        if (end >= 0 && ::ftruncate(file.Get(), end) != 0) {
        }
        throw;
    }
    file.Close();
}

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz
