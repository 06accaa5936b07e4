#include "watch/JsonRecord.h"

#include <cmath>
#include <cstddef>
#include <cstdio>

namespace Qz {
namespace Varnel {
namespace Watch {

namespace {

const char g_acReplacement[] = "\xEF\xBF\xBD";

// Length of the well-formed UTF-8 sequence at text[i] (a byte of 0x80 or
// more), or, negated, the length of its maximal ill-formed part, which is
// replaced as one unit as the library's XML outputs do.
std::ptrdiff_t Utf8Length(const std::string& text, std::size_t i)
{
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    std::size_t trailing;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF)
        trailing = 1;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        trailing = 2;
        if (lead == 0xE0)
            low = 0xA0; // no overlong forms
        else if (lead == 0xED)
            high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trailing = 3;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F; // nothing above U+10FFFF
    } else
        return -1;
    std::size_t length = 1;
    for (; length <= trailing; ++length) {
        if (i + length >= text.size())
            return -static_cast<std::ptrdiff_t>(length);
        const unsigned char next = static_cast<unsigned char>(text[i + length]);
        if (next < low || next > high)
            return -static_cast<std::ptrdiff_t>(length);
        low = 0x80;
        high = 0xBF;
    }
    return static_cast<std::ptrdiff_t>(length);
}

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
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const std::ptrdiff_t length = Utf8Length(text, i);
            if (length > 0)
                out.append(text, i, static_cast<std::size_t>(length));
            else
                out += g_acReplacement;
            i += static_cast<std::size_t>(length > 0 ? length : -length);
            continue;
        }
        ++i;
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04X", c);
            out += escaped;
        } else
            out += static_cast<char>(c);
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
