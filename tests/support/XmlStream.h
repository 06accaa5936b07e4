#ifndef VIDODERAVEV_TESTS_XMLSTREAM_H
#define VIDODERAVEV_TESTS_XMLSTREAM_H

// Parses a captured XML log stream with libxml2, and makes texts to send
// through it. Header-only, so that only the test programs that include it
// need to link libxml2.

#include <random>
#include <string>
#include <utility>
#include <vector>

#include <libxml/parser.h>
#include <libxml/tree.h>

namespace Test {

struct SXmlRecord
{
    std::string m_sName; // LOG or PROGRESS
    std::vector<std::pair<std::string, std::string>> m_oFields;

    std::string Field(const std::string& name, const std::string& otherwise = std::string()) const
    {
        for (const auto& field : m_oFields)
            if (field.first == name)
                return field.second;
        return otherwise;
    }
};

struct SXmlStream
{
    bool m_bWellFormed = false;
    std::string m_sError;
    std::string m_sRoot;
    std::vector<SXmlRecord> m_oRecords;
};

inline SXmlStream ParseXmlStream(const std::string& bytes)
{
    SXmlStream result;
    xmlParserCtxtPtr context = xmlNewParserCtxt();
    xmlDocPtr document = xmlCtxtReadMemory(context, bytes.data(), static_cast<int>(bytes.size()), "stream.xml", nullptr,
                                           XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    result.m_bWellFormed = document && context->wellFormed;
    if (context->lastError.message)
        result.m_sError = context->lastError.message;
    xmlNodePtr root = document ? xmlDocGetRootElement(document) : nullptr;
    if (root)
        result.m_sRoot = reinterpret_cast<const char*>(root->name);
    for (xmlNodePtr record = root ? root->children : nullptr; record; record = record->next) {
        if (record->type != XML_ELEMENT_NODE)
            continue;
        result.m_oRecords.push_back({reinterpret_cast<const char*>(record->name), {}});
        for (xmlNodePtr field = record->children; field; field = field->next) {
            if (field->type != XML_ELEMENT_NODE)
                continue;
            xmlChar* content = xmlNodeGetContent(field);
            result.m_oRecords.back().m_oFields.emplace_back(reinterpret_cast<const char*>(field->name),
                                                            content ? reinterpret_cast<const char*>(content) : "");
            xmlFree(content);
        }
    }
    xmlFreeDoc(document);
    xmlFreeParserCtxt(context);
    return result;
}

// Any bytes when xmlSafe is false, biased towards those that matter to XML;
// otherwise well-formed UTF-8 of characters that XML 1.0 admits, markup
// characters and carriage returns included.
inline std::string RandomText(std::mt19937& random, bool xmlSafe, std::size_t maxLength)
{
    static const char s_acInteresting[] = "<>&\"'];#\x01\x08\t\n\x0B\x0C\r\x1F\x7F\x80\xBF\xC0\xC2\xE0\xED\xEF"
                                          "\xF0\xF4\xF5\xFE\xFF]]>ab";
    static const unsigned char s_acLead[] = {0, 0xC0, 0xE0, 0xF0};
    // Ranges of code points, the first of them the interesting ASCII bytes.
    static const std::pair<uint32_t, uint32_t> s_aRanges[] = {{0, 0},          {0x20, 0x7F},     {0x80, 0x7FF},
                                                              {0x800, 0xD7FF}, {0xE000, 0xFFFD}, {0x10000, 0x10FFFF}};
    std::string text;
    for (std::size_t n = std::uniform_int_distribution<std::size_t>(0, maxLength)(random); n > 0; --n) {
        const int kind = std::uniform_int_distribution<int>(0, 5)(random);
        // The interesting bytes include NUL, which the literal cannot hold.
        const std::size_t pick = random() % sizeof s_acInteresting;
        uint32_t code = static_cast<unsigned char>(s_acInteresting[pick]);
        if (!xmlSafe) {
            text.push_back(static_cast<char>(kind == 0 ? code : random() % 256));
            continue;
        }
        if (kind == 0)
            code = static_cast<unsigned char>("<>&\"' ]]>\t\r\nab;#"[random() % 16]);
        else
            code = std::uniform_int_distribution<uint32_t>(s_aRanges[kind].first, s_aRanges[kind].second)(random);
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
