#ifndef VIDODERAVEV_PROGRESS_RFC5424_H
#define VIDODERAVEV_PROGRESS_RFC5424_H

#include <sys/time.h>

#include <cstddef>
#include <cstdint>
#include <string>

// The syslog message format of RFC 5424, as the syslog output writes it:
// <PRI>1 TIMESTAMP HOSTNAME APP-NAME PROCID MSGID [SD-ID level=".." task=".."
// progress=".." logger=".."] MSG

namespace Qz {
namespace Varnel {
namespace Progress {
namespace Detail {

// What one syslog message says, taken on the reporting thread and formatted
// wherever the transport wants (the TCP sender formats on its own thread).
struct SSyslogEntry
{
    int32_t m_nLevel = 4;      // the logger's level, 0 to 7
    bool m_bProgress = false;  // MSGID PROGRESS rather than LOG
    bool m_bHasFraction = false;
    double m_dFraction = 0.0;  // overall progress, 0 to 1
    timeval m_oTime{0, 0};
    std::string m_sText;       // the line, any bytes
    std::string m_sTaskId;     // may be empty
    std::string m_sRootText;   // the first logger's root text, may be empty
};

// Syslog severity of a level: FATAL 2 (crit), ERROR 3, WARNING 4, INFO 5,
// LOG 6, DEBUG and TRACE 7; a level above FATAL (0) is crit too.
int SyslogSeverity(int32_t level);

// Keeps the printable US-ASCII bytes (33 to 126) of text, without those in
// excluded, and at most maxLength of them; "-" (the nil value) when nothing is
// left. Header fields and the SD-ID allow nothing else.
std::string SyslogToken(const std::string& text, std::size_t maxLength, const char* excluded = "");

// RFC 3339 local time with microseconds and the offset, e.g.
// 2026-12-05T03:49:11.123456+01:00.
void AppendRfc3339(std::string& out, const timeval& time);

// A parameter value: valid UTF-8 (ill-formed bytes become U+FFFD), with '"',
// '\' and ']' escaped by a backslash. maxBytes (0: no limit) caps the value
// before escaping, at a character boundary.
void AppendSdValue(std::string& out, const std::string& text, std::size_t maxBytes = 0);

// Cuts valid UTF-8 to at most maxBytes without splitting a character.
std::size_t Utf8CutPoint(const std::string& text, std::size_t maxBytes);

class CRfc5424Format
{
public:
    // appName empty: the program's name. Facility 0 to 23 (others: user).
    CRfc5424Format(int facility, const std::string& sdId, const std::string& appName);

    // Appends one message. With maxSize (0: none) a message that would be
    // longer has its parameter values capped and its MSG cut at a character
    // boundary and ended with the mark "[...]".
    void Append(std::string& out, const SSyslogEntry& entry, std::size_t maxSize = 0) const;

    const std::string& GetSdId() const { return m_sSdId; }

private:
    void _AppendPrefix(std::string& out, const SSyslogEntry& entry, std::size_t capValues) const;

    int m_nFacility;
    std::string m_sSdId;
    std::string m_sHostAppProc; // " HOSTNAME APP-NAME PROCID "
};

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz

#endif
