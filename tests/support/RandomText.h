#ifndef VIDODERAVEV_TESTS_RANDOMTEXT_H
#define VIDODERAVEV_TESTS_RANDOMTEXT_H

#include <cstdint>
#include <random>
#include <string>

namespace Test {

// Any bytes, biased towards those that matter to XML: markup characters,
// control bytes, UTF-8 lead and continuation bytes.
inline std::string RandomBytes(std::mt19937& random, std::size_t maxLength)
{
    static const unsigned char s_acInteresting[] = {'<',  '>',  '&',  '"',  '\'', ']',  ';',  '#',  0x00, 0x01,
                                                    0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x1F, 0x7F, 0x80, 0xBF,
                                                    0xC0, 0xC2, 0xE0, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFE, 0xFF};
    std::uniform_int_distribution<std::size_t> length(0, maxLength);
    std::uniform_int_distribution<int> choice(0, 3);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<std::size_t> pick(0, sizeof s_acInteresting - 1);
    std::string text;
    const std::size_t n = length(random);
    for (std::size_t i = 0; i < n; ++i)
        text.push_back(static_cast<char>(choice(random) == 0 ? s_acInteresting[pick(random)] : byte(random)));
    return text;
}

inline void AppendUtf8(std::string& text, uint32_t codePoint)
{
    if (codePoint < 0x80) {
        text.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        text.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        text.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        text.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        text.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        text.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        text.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        text.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        text.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        text.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

// Well-formed UTF-8 made only of characters that XML 1.0 admits, markup
// characters and carriage returns included.
inline std::string RandomXmlText(std::mt19937& random, std::size_t maxLength)
{
    static const char s_acAscii[] = "<>&\"' ]]>\t\r\nab;#";
    std::uniform_int_distribution<std::size_t> length(0, maxLength);
    std::uniform_int_distribution<int> kind(0, 5);
    std::uniform_int_distribution<std::size_t> ascii(0, sizeof s_acAscii - 2);
    std::string text;
    const std::size_t n = length(random);
    for (std::size_t i = 0; i < n; ++i) {
        uint32_t codePoint;
        switch (kind(random)) {
        case 0:
            codePoint = static_cast<unsigned char>(s_acAscii[ascii(random)]);
            break;
        case 1:
            codePoint = std::uniform_int_distribution<uint32_t>(0x20, 0x7F)(random);
            break;
        case 2:
            codePoint = std::uniform_int_distribution<uint32_t>(0x80, 0x7FF)(random);
            break;
        case 3:
            codePoint = std::uniform_int_distribution<uint32_t>(0x800, 0xD7FF)(random);
            break;
        case 4:
            codePoint = std::uniform_int_distribution<uint32_t>(0xE000, 0xFFFD)(random);
            break;
        default:
            codePoint = std::uniform_int_distribution<uint32_t>(0x10000, 0x10FFFF)(random);
            break;
        }
        AppendUtf8(text, codePoint);
    }
    return text;
}

// What an XML reader gives back for a text: line ends normalised to "\n".
inline std::string NormaliseLineEnds(const std::string& text)
{
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            result.push_back('\n');
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            result.push_back(text[i]);
        }
    }
    return result;
}

} // namespace Test

#endif
