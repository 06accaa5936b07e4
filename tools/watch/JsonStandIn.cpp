#include "watch/JsonStandIn.h"

#include <cstdio>

namespace Qz {
namespace Varnel {
namespace Watch {

void AppendJsonString(std::string& out, const std::string& text)
{
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == '"' || c == '\\') {
            char escape[8];
            std::snprintf(escape, sizeof(escape), c == '"' ? "\\\"" : c == '\\' ? "\\\\" : "\\u%04x", c);
            out += escape;
            ++i;
            continue;
        }
        int length = c < 0x80 ? 1 : (c >= 0xC2 && c < 0xE0) ? 2 : (c >= 0xE0 && c < 0xF0) ? 3 : (c >= 0xF0 && c < 0xF5) ? 4 : 0;
        bool valid = length > 0 && i + length <= text.size();
        for (int k = 1; valid && k < length; ++k)
            valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (!valid) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        out.append(text, i, length);
        i += length;
    }
    out += '"';
}

namespace {

std::string Common(const char* type, const CStream& stream)
{
    std::string line = std::string("{\"type\":\"") + type + "\",\"source\":";
    AppendJsonString(line, stream.GetSource());
    line += ",\"stream\":";
    AppendJsonString(line, stream.GetLabel());
    line += ",\"host\":\"\",\"pid\":\"\"";
    return line;
}

} // namespace

std::string FormatJsonLog(const CStream& stream, const SLogRecord& record)
{
    std::string line = Common("log", stream);
    line += ",\"time\":";
    AppendJsonString(line, record.m_sTime);
    line += ",\"level\":";
    AppendJsonString(line, record.m_sType);
    line += ",\"task\":";
    AppendJsonString(line, record.m_sTaskId);
    line += ",\"text\":";
    AppendJsonString(line, record.m_sText);
    return line + "}";
}

std::string FormatJsonProgress(const CStream& stream, double now)
{
    std::string line = Common("progress", stream);
    char percent[32];
    std::snprintf(percent, sizeof(percent), "%.2f", stream.GetPercentage());
    line += ",\"percent\":" + std::string(percent) + ",\"text\":";
    AppendJsonString(line, stream.GetRootText());
    double eta = 0.0;
    line += ",\"eta\":" + (stream.GetEta(now, eta) ? std::to_string(static_cast<long long>(eta)) : "null");
    return line + ",\"stalled\":false}";
}

std::string FormatJsonEnd(const CStream& stream)
{
    const EStreamState state = stream.GetState();
    return Common("end", stream) + ",\"state\":\"" +
           (state == StreamFinished ? "finished" : state == StreamMalformed ? "malformed" : "lost") + "\"}";
}

} // namespace Watch
} // namespace Varnel
} // namespace Qz
