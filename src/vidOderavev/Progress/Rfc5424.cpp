#include <vidOderavev/Progress/Rfc5424.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <vidOderavev/Companion/ValueString.h>
#include <vidOderavev/Progress/Visualizer.h>
#include <vidOderavev/Progress/XmlEscape.h>

namespace Qz {
namespace Varnel {
namespace Progress {
namespace Detail {

namespace {

const char g_acTruncationMark[] = "[...]";

std::string HostName()
{
    char buffer[256];
    if (gethostname(buffer, sizeof buffer) != 0)
        return std::string();
    buffer[sizeof buffer - 1] = '\0';
    return buffer;
}

void AppendParam(std::string& out, const char* name, const std::string& value, std::size_t capValues)
{
    out.push_back(' ');
    out.append(name);
    out.append("=\"");
    AppendSdValue(out, value, capValues);
    out.push_back('"');
}

} // namespace

int SyslogSeverity(int32_t level)
{
    if (level <= 1)
        return 2;
    if (level >= 6)
        return 7;
    return level + 1;
}

std::string SyslogToken(const std::string& text, std::size_t maxLength, const char* excluded)
{
    std::string token;
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 33 || u > 126 || std::strchr(excluded, c) != nullptr)
            continue;
        if (token.size() == maxLength)
            break;
        token.push_back(c);
    }
    return token.empty() ? std::string("-") : token;
}

namespace {

char* PutDigits(char* at, long value, int digits)
{
    for (int i = digits - 1; i >= 0; --i) {
        at[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return at + digits;
}

// The date, the time of day and the offset of one second, "YYYY-MM-DDTHH:MM:SS"
// and "+HH:MM", made again when the second or the time zone (as the last
// tzset left it) differs: the conversion and formatting cost more than the
// rest of a message.
struct SRfc3339Second
{
    bool Matches(time_t seconds) const
    {
        return m_bValid && seconds == m_nSecond && tzname[0] == m_pZone0 && tzname[1] == m_pZone1 &&
               timezone == m_nTimezone && daylight == m_nDaylight;
    }
    bool Make(time_t seconds)
    {
        std::tm local;
        m_bValid = false;
        if (localtime_r(&seconds, &local) == nullptr)
            return false;
        long offset = local.tm_gmtoff / 60;
        const char sign = offset < 0 ? '-' : '+';
        if (offset < 0)
            offset = -offset;
        const long year = local.tm_year + 1900L;
        if (year < 0 || year > 9999 || offset / 60 > 99) {
            // Beyond the fixed widths: formatted as printf would.
            const int length = std::snprintf(m_acDateTime, sizeof m_acDateTime, "%04d-%02d-%02dT%02d:%02d:%02d",
                                             local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                                             local.tm_min, local.tm_sec);
            m_nDateTimeLength = length > 0 ? std::min<std::size_t>(length, sizeof m_acDateTime - 1) : 0;
            const int offsetLength =
                std::snprintf(m_acOffset, sizeof m_acOffset, "%c%02ld:%02ld", sign, offset / 60, offset % 60);
            m_nOffsetLength = offsetLength > 0 ? std::min<std::size_t>(offsetLength, sizeof m_acOffset - 1) : 0;
        } else {
            char* at = PutDigits(m_acDateTime, year, 4);
            *at++ = '-';
            at = PutDigits(at, local.tm_mon + 1, 2);
            *at++ = '-';
            at = PutDigits(at, local.tm_mday, 2);
            *at++ = 'T';
            at = PutDigits(at, local.tm_hour, 2);
            *at++ = ':';
            at = PutDigits(at, local.tm_min, 2);
            *at++ = ':';
            at = PutDigits(at, local.tm_sec, 2);
            m_nDateTimeLength = static_cast<std::size_t>(at - m_acDateTime);
            at = m_acOffset;
            *at++ = sign;
            at = PutDigits(at, offset / 60, 2);
            *at++ = ':';
            at = PutDigits(at, offset % 60, 2);
            m_nOffsetLength = static_cast<std::size_t>(at - m_acOffset);
        }
        m_nSecond = seconds;
        m_pZone0 = tzname[0];
        m_pZone1 = tzname[1];
        m_nTimezone = timezone;
        m_nDaylight = daylight;
        m_bValid = true;
        return true;
    }

    bool m_bValid = false;
    time_t m_nSecond = 0;
    const char* m_pZone0 = nullptr;
    const char* m_pZone1 = nullptr;
    long m_nTimezone = 0;
    int m_nDaylight = 0;
    char m_acDateTime[64];
    std::size_t m_nDateTimeLength = 0;
    char m_acOffset[48];
    std::size_t m_nOffsetLength = 0;
};

} // namespace

void AppendRfc3339(std::string& out, const timeval& time)
{
    thread_local SRfc3339Second second;
    const time_t seconds = time.tv_sec;
    if (!second.Matches(seconds) && !second.Make(seconds)) {
        out.push_back('-'); // the nil value: no time known
        return;
    }
    out.append(second.m_acDateTime, second.m_nDateTimeLength);
    const long micro = static_cast<long>(time.tv_usec);
    if (micro >= 0 && micro < 1000000) {
        char fraction[7] = {'.'};
        PutDigits(fraction + 1, micro, 6);
        out.append(fraction, sizeof fraction);
    } else {
        char fraction[32];
        const int length = std::snprintf(fraction, sizeof fraction, ".%06ld", micro);
        out.append(fraction, length > 0 ? static_cast<std::size_t>(length) : 0);
    }
    out.append(second.m_acOffset, second.m_nOffsetLength);
}

std::size_t Utf8CutPoint(const std::string& text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text.size();
    std::size_t cut = maxBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return cut;
}

void AppendSdValue(std::string& out, const std::string& text, std::size_t maxBytes)
{
    // Plain ASCII needs no repair: escaped straight from the text, without a
    // copy, as most task identifiers and logger texts are.
    const bool ascii = std::find_if(text.begin(), text.end(), [](char c) {
                           return static_cast<unsigned char>(c) >= 0x80;
                       }) == text.end();
    std::string repaired;
    if (!ascii)
        AppendUtf8Repaired(repaired, text);
    const std::string& valid = ascii ? text : repaired;
    const std::size_t end = maxBytes == 0 ? valid.size() : Utf8CutPoint(valid, maxBytes);
    for (std::size_t i = 0; i < end; ++i) {
        const char c = valid[i];
        if (c == '"' || c == '\\' || c == ']')
            out.push_back('\\');
        out.push_back(c);
    }
}

CRfc5424Format::CRfc5424Format(int facility, const std::string& sdId, const std::string& appName)
    : m_nFacility(facility >= 0 && facility <= 23 ? facility : 1),
      // SD-NAME: printable US-ASCII without '=', blank, ']' and '"'.
      m_sSdId(SyslogToken(sdId, 32, "= ]\""))
{
    if (m_sSdId == "-")
        m_sSdId = "vidOderavev@32473";
    const std::string app = appName.empty() ? std::string(program_invocation_short_name) : appName;
    m_sHostAppProc = " " + SyslogToken(HostName(), 255) + " " + SyslogToken(app, 48) + " " +
                     std::to_string(static_cast<long>(getpid())) + " ";
}

void CRfc5424Format::_AppendPrefix(std::string& out, const SSyslogEntry& entry, std::size_t capValues) const
{
    const int severity = entry.m_bProgress ? 6 : SyslogSeverity(entry.m_nLevel);
    out.push_back('<');
    out.append(std::to_string(m_nFacility * 8 + severity));
    out.append(">1 ");
    AppendRfc3339(out, entry.m_oTime);
    out.append(m_sHostAppProc);
    out.append(entry.m_bProgress ? "PROGRESS [" : "LOG [");
    out.append(m_sSdId);
    const std::string level = GetLevelName(static_cast<_EVerbosityLevel>(entry.m_nLevel));
    if (!entry.m_bProgress && !level.empty())
        AppendParam(out, "level", level, 0);
    if (!entry.m_sTaskId.empty())
        AppendParam(out, "task", entry.m_sTaskId, capValues);
    if (entry.m_bHasFraction) {
        Strings::SMakeValueStringParameter parameter;
        parameter.m_nPrecision = 4;
        AppendParam(out, "progress", Strings::Detail::SMakeValueStringImpl<double>()(entry.m_dFraction, parameter),
                    0);
    }
    if (!entry.m_sRootText.empty())
        AppendParam(out, "logger", entry.m_sRootText, capValues);
    out.append("] ");
}

void CRfc5424Format::Append(std::string& out, const SSyslogEntry& entry, std::size_t maxSize) const
{
    const std::size_t start = out.size();
    _AppendPrefix(out, entry, 0);
    AppendUtf8Repaired(out, entry.m_sText);
    if (maxSize == 0 || out.size() - start <= maxSize)
        return;
    out.resize(start);
    // The task and root texts of an over-long message get an eighth of the
    // room each (before escaping), so that the line keeps most of it.
    _AppendPrefix(out, entry, std::max<std::size_t>(maxSize / 8, 1));
    std::string text;
    AppendUtf8Repaired(text, entry.m_sText);
    const std::size_t used = out.size() - start + sizeof g_acTruncationMark - 1;
    // A header that alone exceeds the limit still goes out whole: it is valid,
    // and a receiver may cut it itself.
    const std::size_t room = used < maxSize ? maxSize - used : 0;
    out.append(text, 0, Utf8CutPoint(text, room));
    out.append(g_acTruncationMark);
}

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz
