#ifndef VIDODERAVEV_TESTS_XMLSTREAM_H
#define VIDODERAVEV_TESTS_XMLSTREAM_H

// Parses a captured XML log stream with libxml2. Header-only, so that only
// the test programs that include it need to link libxml2.

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

    bool Has(const std::string& name) const
    {
        for (const auto& field : m_oFields)
            if (field.first == name)
                return true;
        return false;
    }
    std::string Field(const std::string& name) const
    {
        for (const auto& field : m_oFields)
            if (field.first == name)
                return field.second;
        return std::string();
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
    if (!context) {
        result.m_sError = "no parser context";
        return result;
    }
    xmlDocPtr document = xmlCtxtReadMemory(context, bytes.data(), static_cast<int>(bytes.size()), "stream.xml", nullptr,
                                           XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    result.m_bWellFormed = document && context->wellFormed;
    if (context->lastError.message)
        result.m_sError = context->lastError.message;
    if (document) {
        xmlNodePtr root = xmlDocGetRootElement(document);
        if (root) {
            result.m_sRoot = reinterpret_cast<const char*>(root->name);
            for (xmlNodePtr record = root->children; record; record = record->next) {
                if (record->type != XML_ELEMENT_NODE)
                    continue;
                SXmlRecord parsed;
                parsed.m_sName = reinterpret_cast<const char*>(record->name);
                for (xmlNodePtr field = record->children; field; field = field->next) {
                    if (field->type != XML_ELEMENT_NODE)
                        continue;
                    xmlChar* content = xmlNodeGetContent(field);
                    parsed.m_oFields.emplace_back(reinterpret_cast<const char*>(field->name),
                                                  content ? reinterpret_cast<const char*>(content) : "");
                    xmlFree(content);
                }
                result.m_oRecords.push_back(parsed);
            }
        }
        xmlFreeDoc(document);
    }
    xmlFreeParserCtxt(context);
    return result;
}

} // namespace Test

#endif
