#include "watch/XmlStreamParser.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <exception>
#include <iterator>

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>

namespace Qz {
namespace Varnel {
namespace Watch {

namespace {

// Message texts and task identifiers are only shown, never stored in full, so
// a sender that streams an endless text cannot exhaust the collector's
// memory. The saved copy of the stream keeps every byte.
const std::size_t g_nMaxFieldLength = 1 << 20;
// Names, numbers and time stamps are kept for as long as their stream is
// shown; none of them is ever near this long.
const std::size_t g_nMaxNameLength = 256;

bool IsFieldOf(bool log, const char* name)
{
    static const char* const s_apLogFields[] = {"TIME", "TYPE", "HOSTNAME", "PID", "TID", "TASKID", "TEXT"};
    static const char* const s_apProgressFields[] = {"TEXT", "PERCENTAGE", "HOSTNAME", "PID"};
    const auto same = [&](const char* field) { return std::strcmp(field, name) == 0; };
    if (log)
        return std::any_of(std::begin(s_apLogFields), std::end(s_apLogFields), same);
    return std::any_of(std::begin(s_apProgressFields), std::end(s_apProgressFields), same);
}

CXmlStreamParser& Self(void* userData) { return *static_cast<CXmlStreamParser*>(userData); }

// No exception may cross libxml2's C frames: one that escapes a record sink
// fails the stream instead.
template <typename TCall> void Guarded(void* userData, TCall call)
{
    try {
        call();
    } catch (const std::exception& error) {
        Self(userData)._Fail(std::string("internal error: ") + error.what(), 0, 0);
    } catch (...) {
        Self(userData)._Fail("internal error", 0, 0);
    }
}

void OnStartElement(void* userData, const xmlChar* localName, const xmlChar*, const xmlChar*, int, const xmlChar**, int,
                    int, const xmlChar**)
{
    Guarded(userData, [&] { Self(userData)._StartElement(reinterpret_cast<const char*>(localName)); });
}

void OnEndElement(void* userData, const xmlChar* localName, const xmlChar*, const xmlChar*)
{
    Guarded(userData, [&] { Self(userData)._EndElement(reinterpret_cast<const char*>(localName)); });
}

void OnCharacters(void* userData, const xmlChar* data, int length)
{
    Guarded(userData, [&] { Self(userData)._Characters(reinterpret_cast<const char*>(data), length); });
}

void OnInternalSubset(void* userData, const xmlChar*, const xmlChar*, const xmlChar*)
{
    Self(userData)._RejectDocumentType();
}

void OnStructuredError(void* userData, xmlErrorPtr error)
{
    if (error == nullptr || error->level == XML_ERR_WARNING || error->level == XML_ERR_NONE)
        return;
    std::string message = error->message != nullptr ? error->message : "XML error";
    while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
        message.pop_back();
    Self(userData)._Fail(message, error->line, error->int2);
}

bool ParsePercentage(const std::string& text, double& value)
{
    const char* begin = text.c_str();
    while (*begin == ' ' || *begin == '\t' || *begin == '\n' || *begin == '\r')
        ++begin;
    if (*begin == '\0')
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtod(begin, &end);
    if (errno != 0 || end == begin)
        return false;
    while (*end == ' ' || *end == '\t' || *end == '\n' || *end == '\r')
        ++end;
    return *end == '\0' && std::isfinite(value);
}

} // namespace

CXmlStreamParser::CXmlStreamParser(CRecordSink& sink) : m_oSink(sink)
{
    xmlSAXHandler handler;
    std::memset(&handler, 0, sizeof(handler));
    // No tree is built: only the callbacks below see the document.
    handler.initialized = XML_SAX2_MAGIC;
    handler.startElementNs = OnStartElement;
    handler.endElementNs = OnEndElement;
    handler.characters = OnCharacters;
    handler.ignorableWhitespace = OnCharacters;
    handler.cdataBlock = OnCharacters;
    handler.internalSubset = OnInternalSubset;
    handler.serror = OnStructuredError;
    m_pContext = xmlCreatePushParserCtxt(&handler, this, nullptr, 0, nullptr);
    if (m_pContext == nullptr) {
        m_bFailed = true;
        m_sError = "cannot create the XML parser";
        return;
    }
    // Never fetch anything from the network and never expand entities beyond
    // the predefined ones and character references.
    xmlCtxtUseOptions(m_pContext, XML_PARSE_NONET | XML_PARSE_NOCDATA);
}

CXmlStreamParser::~CXmlStreamParser()
{
    if (m_pContext != nullptr)
        xmlFreeParserCtxt(m_pContext);
}

bool CXmlStreamParser::Feed(const char* data, std::size_t size)
{
    // Bytes after the end of the document are not parsed: the sender may end
    // the stream with a blank line, and anything else is none of ours.
    if (m_bFailed || m_bComplete)
        return !m_bFailed;
    while (size > 0 && !m_bFailed && !m_bComplete) {
        const std::size_t chunk = std::min<std::size_t>(size, 1u << 16);
        // The parser only ever sees markup that the scanner let through.
        const std::size_t accepted = m_oScanner.Scan(data, chunk);
        _Parse(data, accepted);
        if (accepted < chunk) {
            _Refuse(data + accepted);
            break;
        }
        data += chunk;
        size -= chunk;
    }
    return !m_bFailed;
}

void CXmlStreamParser::_Parse(const char* data, std::size_t size)
{
    if (size == 0 || m_bFailed || m_bComplete)
        return;
    const int result = xmlParseChunk(m_pContext, data, static_cast<int>(size), 0);
    m_nBytesFed += size;
    if (result != 0 && !m_bFailed && !m_bComplete)
        _Fail("the XML parser stopped (error " + std::to_string(result) + ")", 0, 0);
}

void CXmlStreamParser::_Refuse(const char* refused)
{
    if (m_oScanner.IsReferenceRefused()) {
        // The push parser waits for a ';' after every '&' before it looks at
        // the reference, possibly for the rest of the stream. Given the byte
        // that rules a reference out and told that nothing more comes, it
        // reports the fault in its own words and where it stands.
        _Parse(refused, 1);
        if (!m_bFailed && !m_bComplete)
            xmlParseChunk(m_pContext, nullptr, 0, 1);
        _Fail(m_oScanner.GetError(), 0, 0);
    } else
        _Fail(m_oScanner.GetError(), m_oScanner.GetLine(), m_oScanner.GetColumn());
}

SStreamPosition CXmlStreamParser::GetPosition() const
{
    SStreamPosition position;
    position.m_nBytes = m_nBytesFed;
    if (m_pContext != nullptr) {
        position.m_nLine = xmlSAX2GetLineNumber(m_pContext);
        position.m_nColumn = xmlSAX2GetColumnNumber(m_pContext);
    }
    return position;
}

void CXmlStreamParser::_Fail(const std::string& message, int line, int column)
{
    // Whatever follows the end of the document is not ours to judge.
    if (m_bFailed || m_bComplete)
        return;
    m_bFailed = true;
    m_sError = message;
    m_oErrorPosition = GetPosition();
    if (line > 0) {
        m_oErrorPosition.m_nLine = line;
        m_oErrorPosition.m_nColumn = column;
    }
    if (m_pContext != nullptr)
        xmlStopParser(m_pContext);
}

void CXmlStreamParser::_RejectDocumentType()
{
    // A document type declaration could define entities that expand without
    // bound; the log stream never has one.
    _Fail("document type declarations are not accepted", 0, 0);
}

void CXmlStreamParser::_StartElement(const char* name)
{
    if (m_bFailed)
        return;
    if (m_nDepth == 0) {
        if (std::strcmp(name, "LOG_STREAM") != 0) {
            _Fail(std::string("the root element is ") + name + ", not LOG_STREAM", 0, 0);
            return;
        }
    } else if (m_nDepth == 1) {
        m_bSawPercentage = false;
        if (std::strcmp(name, "LOG") == 0) {
            m_eRecord = RecordLog;
            m_oLog = SLogRecord();
        } else if (std::strcmp(name, "PROGRESS") == 0) {
            m_eRecord = RecordProgress;
            m_oProgress = SProgressRecord();
        } else {
            _Fail(std::string("<") + name + "> where a record should start", 0, 0);
            return;
        }
    } else if (m_nDepth == 2) {
        const bool log = m_eRecord == RecordLog;
        if (!IsFieldOf(log, name)) {
            _Fail(std::string("<") + name + "> is not a field of " + (log ? "<LOG>" : "<PROGRESS>"), 0, 0);
            return;
        }
        m_bInField = true;
        m_sFieldText.clear();
        m_sFieldName = name;
        m_nFieldLimit = m_sFieldName == "TEXT" || m_sFieldName == "TASKID" ? g_nMaxFieldLength : g_nMaxNameLength;
    } else {
        _Fail(std::string("<") + name + "> inside a field", 0, 0);
        return;
    }
    ++m_nDepth;
}

void CXmlStreamParser::_EndElement(const char* name)
{
    if (m_bFailed)
        return;
    --m_nDepth;
    if (m_nDepth == 2) {
        m_bInField = false;
        _FinishField(name);
    } else if (m_nDepth == 1)
        _FinishRecord();
    else if (m_nDepth == 0) {
        m_bComplete = true;
        m_oSink.OnEnd();
    }
}

void CXmlStreamParser::_Characters(const char* data, int length)
{
    if (m_bFailed || !m_bInField || m_nDepth != 3 || length <= 0)
        return;
    if (m_nFieldLimit < g_nMaxFieldLength && m_sFieldText.size() + static_cast<std::size_t>(length) > m_nFieldLimit) {
        _Fail(m_sFieldName + " longer than " + std::to_string(m_nFieldLimit) + " bytes", 0, 0);
        return;
    }
    const std::size_t room = m_nFieldLimit - std::min(m_sFieldText.size(), m_nFieldLimit);
    m_sFieldText.append(data, std::min(room, static_cast<std::size_t>(length)));
}

void CXmlStreamParser::_FinishField(const std::string& name)
{
    if (m_eRecord == RecordLog) {
        if (name == "TIME")
            m_oLog.m_sTime = m_sFieldText;
        else if (name == "TYPE")
            m_oLog.m_sType = m_sFieldText;
        else if (name == "HOSTNAME")
            m_oLog.m_sHostName = m_sFieldText;
        else if (name == "PID")
            m_oLog.m_sPid = m_sFieldText;
        else if (name == "TID")
            m_oLog.m_sTid = m_sFieldText;
        else if (name == "TASKID")
            m_oLog.m_sTaskId = m_sFieldText;
        else if (name == "TEXT")
            m_oLog.m_sText = m_sFieldText;
    } else if (m_eRecord == RecordProgress) {
        if (name == "TEXT") {
            m_oProgress.m_bHasText = true;
            m_oProgress.m_sText = m_sFieldText;
        } else if (name == "PERCENTAGE") {
            m_oProgress.m_sPercentage = m_sFieldText;
            if (!ParsePercentage(m_sFieldText, m_oProgress.m_dPercentage)) {
                _Fail("the percentage \"" + m_sFieldText.substr(0, 40) + "\" is not a number", 0, 0);
                return;
            }
            m_bSawPercentage = true;
        } else if (name == "HOSTNAME")
            m_oProgress.m_sHostName = m_sFieldText;
        else if (name == "PID")
            m_oProgress.m_sPid = m_sFieldText;
    }
    m_sFieldText.clear();
}

void CXmlStreamParser::_FinishRecord()
{
    const ERecordKind kind = m_eRecord;
    m_eRecord = RecordNone;
    if (kind == RecordLog)
        m_oSink.OnLog(m_oLog);
    else if (kind == RecordProgress) {
        if (!m_bSawPercentage) {
            _Fail("a progress record without a percentage", 0, 0);
            return;
        }
        m_oSink.OnProgress(m_oProgress);
    }
}

} // namespace Watch
} // namespace Varnel
} // namespace Qz
