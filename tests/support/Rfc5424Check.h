#ifndef VIDODERAVEV_TESTS_RFC5424CHECK_H
#define VIDODERAVEV_TESTS_RFC5424CHECK_H

// A small RFC 5424 reader for the syslog tests: checks a message against the
// grammar (header fields, structured data, UTF-8) and hands back its parts,
// with parameter values unescaped.

#include <cstddef>
#include <map>
#include <regex>
#include <string>

namespace Test {

struct SSyslogMessage
{
    int m_nPri = -1;
    std::string m_sTimestamp, m_sHostName, m_sAppName, m_sProcId, m_sMsgId, m_sSdId;
    std::map<std::string, std::string> m_oParams;
    std::string m_sMsg;
};

// Whether bytes [i, end) of text are well-formed UTF-8.
inline bool IsValidUtf8(const std::string& text, std::size_t i = 0, std::size_t end = std::string::npos)
{
    if (end == std::string::npos)
        end = text.size();
    while (i < end) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        std::size_t n;
        unsigned char low = 0x80, high = 0xBF;
        if (c < 0x80)
            n = 0;
        else if (c >= 0xC2 && c <= 0xDF)
            n = 1;
        else if (c >= 0xE0 && c <= 0xEF) {
            n = 2;
            low = c == 0xE0 ? 0xA0 : 0x80;
            high = c == 0xED ? 0x9F : 0xBF;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3;
            low = c == 0xF0 ? 0x90 : 0x80;
            high = c == 0xF4 ? 0x8F : 0xBF;
        } else
            return false;
        for (std::size_t k = 1; k <= n; ++k) {
            if (i + k >= end)
                return false;
            const unsigned char d = static_cast<unsigned char>(text[i + k]);
            if (d < low || d > high)
                return false;
            low = 0x80;
            high = 0xBF;
        }
        i += n + 1;
    }
    return true;
}

// Reads one token of printable US-ASCII up to a blank, at most maxLength long.
inline bool ReadToken(const std::string& text, std::size_t& i, std::size_t maxLength, std::string& token)
{
    const std::size_t start = i;
    while (i < text.size() && text[i] > 32 && text[i] < 127)
        ++i;
    token = text.substr(start, i - start);
    if (token.empty() || token.size() > maxLength || i >= text.size() || text[i] != ' ')
        return false;
    ++i;
    return true;
}

// Parses message; on a violation returns false and says where in why.
inline bool ParseRfc5424(const std::string& message, SSyslogMessage& out, std::string& why)
{
    static const std::regex s_oHead("<([0-9]{1,3})>1 ");
    static const std::regex s_oTime("-|[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}(\\.[0-9]{1,6})?"
                                    "(Z|[+-][0-9]{2}:[0-9]{2})");
    std::smatch match;
    const std::size_t space = message.find(' ', 1);
    const std::string head = message.substr(0, space == std::string::npos ? 0 : space + 1);
    if (!std::regex_match(head, match, s_oHead))
        return why = "PRI or VERSION", false;
    out.m_nPri = std::stoi(match[1]);
    if (out.m_nPri > 191)
        return why = "PRI out of range", false;
    std::size_t i = head.size();
    if (!ReadToken(message, i, 64, out.m_sTimestamp) || !std::regex_match(out.m_sTimestamp, s_oTime))
        return why = "TIMESTAMP", false;
    if (!ReadToken(message, i, 255, out.m_sHostName) || !ReadToken(message, i, 48, out.m_sAppName) ||
        !ReadToken(message, i, 128, out.m_sProcId) || !ReadToken(message, i, 32, out.m_sMsgId))
        return why = "header field", false;
    if (i < message.size() && message[i] == '-') {
        ++i;
    } else {
        // One element (the output writes one): [SD-ID *(SP NAME="VALUE")]
        if (i >= message.size() || message[i] != '[')
            return why = "structured data", false;
        ++i;
        const auto isNameChar = [](char c) { return c > 32 && c < 127 && c != '=' && c != ']' && c != '"'; };
        const std::size_t idStart = i;
        while (i < message.size() && isNameChar(message[i]))
            ++i;
        out.m_sSdId = message.substr(idStart, i - idStart);
        if (out.m_sSdId.empty() || out.m_sSdId.size() > 32)
            return why = "SD-ID", false;
        while (i < message.size() && message[i] == ' ') {
            ++i;
            const std::size_t nameStart = i;
            while (i < message.size() && isNameChar(message[i]))
                ++i;
            const std::string name = message.substr(nameStart, i - nameStart);
            if (name.empty() || name.size() > 32 || message.compare(i, 2, "=\"") != 0)
                return why = "PARAM-NAME", false;
            i += 2;
            std::string value;
            for (;;) {
                if (i >= message.size())
                    return why = "unterminated PARAM-VALUE", false;
                const char c = message[i++];
                if (c == '"')
                    break;
                if (c == ']')
                    return why = "unescaped ] in PARAM-VALUE", false;
                if (c == '\\' && i < message.size() &&
                    (message[i] == '"' || message[i] == '\\' || message[i] == ']')) {
                    value.push_back(message[i++]);
                    continue;
                }
                if (c == '\\')
                    return why = "lone backslash in PARAM-VALUE", false;
                value.push_back(c);
            }
            if (!IsValidUtf8(value))
                return why = "PARAM-VALUE not UTF-8", false;
            if (!out.m_oParams.emplace(name, value).second)
                return why = "parameter twice", false;
        }
        if (i >= message.size() || message[i] != ']')
            return why = "SD-ELEMENT end", false;
        ++i;
    }
    if (i == message.size())
        return true;
    if (message[i] != ' ')
        return why = "blank before MSG", false;
    out.m_sMsg = message.substr(i + 1);
    if (!IsValidUtf8(out.m_sMsg))
        return why = "MSG not UTF-8", false;
    return true;
}

} // namespace Test

#endif
