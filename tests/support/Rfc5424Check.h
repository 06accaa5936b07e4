#ifndef VIDODERAVEV_TESTS_RFC5424CHECK_H
#define VIDODERAVEV_TESTS_RFC5424CHECK_H

// Checks a syslog message against the RFC 5424 grammar (header fields, one
// structured-data element, UTF-8) and hands back its parts, with parameter
// values unescaped.

#include <map>
#include <regex>
#include <string>

namespace Test {

struct SSyslogMessage
{
    int m_nPri = -1;
    std::string m_sMsgId, m_sSdId, m_sMsg;
    std::map<std::string, std::string> m_oParams;
};

// Well-formed UTF-8: no overlong form, surrogate or code point above U+10FFFF.
inline bool IsValidUtf8(const std::string& text)
{
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i++]);
        const int more = c < 0x80                 ? 0
                         : c >= 0xC2 && c <= 0xDF ? 1
                         : c >= 0xE0 && c <= 0xEF ? 2
                         : c >= 0xF0 && c <= 0xF4 ? 3
                                                  : -1;
        // The second byte's range depends on the first.
        unsigned char low = c == 0xE0   ? 0xA0
                            : c == 0xF0 ? 0x90
                                        : 0x80,
                      high = c == 0xED   ? 0x9F
                             : c == 0xF4 ? 0x8F
                                         : 0xBF;
        if (more < 0 || i + static_cast<std::size_t>(more) > text.size())
            return false;
        for (int k = 0; k < more; ++k, low = 0x80, high = 0xBF) {
            const unsigned char d = static_cast<unsigned char>(text[i++]);
            if (d < low || d > high)
                return false;
        }
    }
    return true;
}

inline bool ParseRfc5424(const std::string& message, SSyslogMessage& out, std::string& why)
{
    // PRI VERSION TIMESTAMP HOSTNAME APP-NAME PROCID MSGID, then "-" or "[SD-ID".
    static const std::regex s_oHead("<([0-9]{1,3})>1 (-|[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}"
                                    "(\\.[0-9]{1,6})?(Z|[+-][0-9]{2}:[0-9]{2})) [!-~]{1,255} [!-~]{1,48} "
                                    "[!-~]{1,128} ([!-~]{1,32}) (-|\\[([!#-<>-\\\\^-~]{1,32}))");
    static const std::regex s_oParamName(" ([!#-<>-\\\\^-~]{1,32})=\"");
    std::smatch head;
    if (!std::regex_search(message, head, s_oHead, std::regex_constants::match_continuous))
        return why = "header", false;
    out.m_nPri = std::stoi(head[1]);
    out.m_sMsgId = head[5];
    out.m_sSdId = head[7];
    std::size_t i = head.length(0);
    for (std::smatch name; head[7].matched;) {
        if (message.compare(i, 1, "]") == 0) {
            ++i;
            break;
        }
        if (!std::regex_search(message.begin() + static_cast<long>(i), message.end(), name, s_oParamName,
                               std::regex_constants::match_continuous))
            return why = "PARAM-NAME", false;
        i += name.length(0);
        std::string value;
        for (; i < message.size() && message[i] != '"'; ++i) {
            if (message[i] == ']' || (message[i] == '\\' && message.find_first_of("\"\\]", i + 1) != i + 1))
                return why = "unescaped ] or \\ in PARAM-VALUE", false;
            value.push_back(message[i] == '\\' ? message[++i] : message[i]);
        }
        if (i++ == message.size() || !IsValidUtf8(value) || !out.m_oParams.emplace(name[1], value).second)
            return why = "PARAM-VALUE", false;
    }
    if (i < message.size() && (message[i] != ' ' || !IsValidUtf8(out.m_sMsg = message.substr(i + 1))))
        return why = "MSG", false;
    return out.m_nPri <= 191 || (why = "PRI", false);
}

} // namespace Test

#endif
