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

void AppendRfc3339(std::string& out, const timeval& time)
{
    std::tm local;
    const time_t seconds = time.tv_sec;
    if (localtime_r(&seconds, &local) == nullptr) {
        out.push_back('-'); // the nil value: no time known
        return;
    }
    long offset = local.tm_gmtoff / 60;
    const char sign = offset < 0 ? '-' : '+';
    if (offset < 0)
        offset = -offset;
    char buffer[48];
    const int length = std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%06ld%c%02ld:%02ld",
                                     local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                                     local.tm_min, local.tm_sec, static_cast<long>(time.tv_usec), sign, offset / 60,
                                     offset % 60);
    out.append(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
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
