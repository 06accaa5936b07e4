#include <vidOderavev/Progress/JournalEntry.h>

#include <cstring>

#include <vidOderavev/Companion/ValueString.h>
#include <vidOderavev/Progress/Visualizer.h>

namespace Qz {
namespace Varnel {
namespace Progress {
namespace Detail {

void CJournalEntry::Clear()
{
    m_sData.clear();
    m_oRanges.clear();
}

void CJournalEntry::Add(const char* name, const std::string& value) { Add(name, value.data(), value.size()); }

void CJournalEntry::Add(const char* name, const char* value, std::size_t size)
{
    const std::size_t begin = m_sData.size();
    m_sData.append(name).append(1, '=').append(value, size);
    m_oRanges.emplace_back(begin, m_sData.size() - begin);
}

std::string CJournalEntry::Field(std::size_t index) const
{
    return m_sData.substr(m_oRanges[index].first, m_oRanges[index].second);
}

const std::vector<iovec>& CJournalEntry::Iovecs()
{
    // Made last: the buffer may move while fields are added.
    m_oIovecs.resize(m_oRanges.size());
    for (std::size_t index = 0; index < m_oRanges.size(); ++index) {
        m_oIovecs[index].iov_base = &m_sData[m_oRanges[index].first];
        m_oIovecs[index].iov_len = m_oRanges[index].second;
    }
    return m_oIovecs;
}

int JournalPriority(_EVerbosityLevel level)
{
    switch (level) {
    case VerbosityFatal:
        return 2;
    case VerbosityError:
        return 3;
    case VerbosityWarning:
        return 4;
    case VerbosityInfo:
        return 5;
    case VerbosityLog:
        return 6;
    default:
        return level < VerbosityFatal ? 2 : 7;
    }
}

namespace {

void AddCommon(CJournalEntry& entry, int priority, const std::string& identifier, const std::string& loggerText)
{
    const char digit = static_cast<char>('0' + priority);
    entry.Add("PRIORITY", &digit, 1);
    entry.Add("SYSLOG_IDENTIFIER", identifier);
    entry.Add("VIDODERAVEV_LOGGER", loggerText);
}

} // namespace

void BuildJournalMessage(CJournalEntry& entry, const std::string& identifier, const std::string& line,
                         _EVerbosityLevel level, const std::string& taskId, const std::string& loggerText)
{
    entry.Clear();
    entry.Add("MESSAGE", line);
    AddCommon(entry, JournalPriority(level), identifier, loggerText);
    const std::string& levelName = GetLevelName(level);
    if (!levelName.empty())
        entry.Add("VIDODERAVEV_LEVEL", levelName);
    if (!taskId.empty())
        entry.Add("VIDODERAVEV_TASK_ID", taskId);
}

void BuildJournalProgress(CJournalEntry& entry, const std::string& identifier, const std::string& rootText,
                          double fraction, const boost::posix_time::time_duration& remaining)
{
    std::string message = rootText;
    if (!message.empty())
        message.append(": ");
    message.append(Strings::MakePercentString(fraction, 3)).append(" %");
    entry.Clear();
    entry.Add("MESSAGE", message);
    AddCommon(entry, 6, identifier, rootText);
    // Six digits after the point: finer than the percentage in the message.
    Strings::SMakeValueStringParameter parameter;
    parameter.m_nPrecision = 6;
    entry.Add("VIDODERAVEV_PROGRESS", Strings::Detail::SMakeValueStringImpl<double>()(fraction, parameter));
    if (!remaining.is_special())
        entry.Add("VIDODERAVEV_TIME_REMAINING_US", std::to_string(remaining.total_microseconds()));
}

void BuildJournalProgressEnd(CJournalEntry& entry, const std::string& identifier, const std::string& rootText)
{
    entry.Clear();
    entry.Add("MESSAGE", rootText.empty() ? std::string("end of progress") : rootText + ": end of progress");
    AddCommon(entry, 6, identifier, rootText);
    entry.Add("VIDODERAVEV_PROGRESS", "-1");
}

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz
