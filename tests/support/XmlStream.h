#ifndef VIDODERAVEV_TESTS_XMLSTREAM_H
#define VIDODERAVEV_TESTS_XMLSTREAM_H

// Reads a document back with libxml2, as a collector would, and makes texts
// to send through it. Header-only, so that only the test programs that
// include it need to link libxml2.

#include <random>
#include <string>
#include <utility>

#include <libxml/parser.h>
#include <libxml/tree.h>

namespace Test {

// The text content of the root element; false when a conforming reader
// rejects the document.
inline bool ReadXmlText(const std::string& bytes, std::string& text)
{
    xmlDocPtr document = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "stream.xml", nullptr,
                                       XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!document)
        return false;
    xmlChar* content = xmlNodeGetContent(xmlDocGetRootElement(document));
    text = content ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    xmlFreeDoc(document);
    return true;
}

// Any bytes, biased towards those that matter to XML; or, when xmlSafe,
// well-formed UTF-8 of characters that XML 1.0 admits, markup characters
// and carriage returns included.
inline std::string RandomText(std::mt19937& random, bool xmlSafe, std::size_t maxLength)
{
    static const std::pair<uint32_t, uint32_t> s_aRanges[] = {
        {0x20, 0x7F}, {0x80, 0x7FF}, {0x800, 0xD7FF}, {0xE000, 0xFFFD}, {0x10000, 0x10FFFF}};
    // NUL included: the terminator is one of the picks.
    static const char s_acBytes[] = "<>&\"']\x01\x08\t\n\x0B\r\x1F\x7F\x80\xBF\xC0\xC2\xE0\xED\xEF\xF0\xF4\xF5\xFE\xFF";
    static const unsigned char s_acLead[] = {0, 0xC0, 0xE0, 0xF0};
    std::string text;
    for (std::size_t n = random() % (maxLength + 1); n > 0; --n) {
        if (!xmlSafe) {
            text.push_back(static_cast<char>(random() % 2 ? s_acBytes[random() % sizeof s_acBytes] : random()));
            continue;
        }
        const std::size_t kind = random() % 6;
        const uint32_t code =
            kind == 5 ? static_cast<uint32_t>("<>&\"' ]]>\t\r\nab;#"[random() % 16])
                      : std::uniform_int_distribution<uint32_t>(s_aRanges[kind].first, s_aRanges[kind].second)(random);
        const int extra = code < 0x80 ? 0 : code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
        text.push_back(static_cast<char>(s_acLead[extra] | (code >> (6 * extra))));
        for (int i = extra - 1; i >= 0; --i)
            text.push_back(static_cast<char>(0x80 | ((code >> (6 * i)) & 0x3F)));
    }
    return text;
}

// What an XML reader gives back for a text: line ends normalised to "\n".
inline std::string NormaliseLineEnds(std::string text)
{
    for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;)
        text.erase(at, 1);
    for (char& c : text)
        c = c == '\r' ? '\n' : c;
    return text;
}

} // namespace Test

#endif
