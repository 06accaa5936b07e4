#include "watch/JsonRecord.h"

#include <cmath>
#include <cstdio>

#include <vidOderavev/Progress/XmlEscape.h>

namespace Qz {
namespace Varnel {
namespace Watch {

namespace {

void AppendKey(std::string& out, const char* key)
{
    out += ",\"";
    out += key;
    out += "\":";
}

void AppendField(std::string& out, const char* key, const std::string& value)
{
    AppendKey(out, key);
    AppendJsonString(out, value);
}

std::string Begin(const char* type, const CStream& stream)
{
    std::string out = "{\"type\":\"";
    out += type;
    out += '"';
    AppendField(out, "source", stream.GetSource());
    AppendField(out, "stream", stream.GetLabel());
    AppendField(out, "host", stream.GetHostName());
    AppendField(out, "pid", stream.GetPid());
    return out;
}

// At most two decimals, without trailing zeros, whatever the locale.
std::string FormatPercent(double percentage)
{
    if (!(percentage > 0.0))
        return "0";
    const long long hundredths = std::llround(std::fmin(percentage, 100.0) * 100.0);
    std::string text = std::to_string(hundredths / 100);
    const long long fraction = hundredths % 100;
    if (fraction != 0) {
        text += '.';
        text += static_cast<char>('0' + fraction / 10);
        if (fraction % 10 != 0)
            text += static_cast<char>('0' + fraction % 10);
    }
    return text;
}

} // namespace

void AppendJsonString(std::string& out, const std::string& text)
{
    std::string repaired;
    Progress::Detail::AppendUtf8Repaired(repaired, text);
    out += '"';
    for (const char byte : repaired) {
        const unsigned char c = static_cast<unsigned char>(byte);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += byte;
        } else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04X", c);
            out += escaped;
        } else
            out += byte;
    }
    out += '"';
}

std::string FormatJsonLog(const CStream& stream, const SLogRecord& record)
{
    std::string out = Begin("log", stream);
    AppendField(out, "time", record.m_sTime);
    AppendField(out, "level", record.m_sType);
    AppendField(out, "task", record.m_sTaskId);
    AppendField(out, "text", record.m_sText);
    return out + "}";
}

std::string FormatJsonProgress(const CStream& stream, double now)
{
    std::string out = Begin("progress", stream);
    AppendKey(out, "percent");
    out += FormatPercent(stream.GetPercentage());
    AppendField(out, "text", stream.GetRootText());
    AppendKey(out, "eta");
    double eta = 0.0;
    // A rate of almost nothing extrapolates to no sensible number at all.
    if (stream.GetEta(now, eta) && eta < 1e12)
        out += std::to_string(std::llround(eta));
    else
        out += "null";
    AppendKey(out, "stalled");
    out += stream.IsStalled(now) ? "true" : "false";
    return out + "}";
}

std::string FormatJsonEnd(const CStream& stream)
{
    std::string out = Begin("end", stream);
    const EStreamState state = stream.GetState();
    AppendField(out, "state", state == StreamMalformed ? "malformed" : stream.IsLost() ? "lost" : "finished");
    if (state == StreamMalformed)
        AppendField(out, "error", stream.GetError());
    return out + "}";
}

} // namespace Watch
} // namespace Varnel
} // namespace Qz
