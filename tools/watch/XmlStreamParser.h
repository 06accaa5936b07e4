#ifndef VIDODERAVEV_TOOLS_WATCH_XMLSTREAMPARSER_H
#define VIDODERAVEV_TOOLS_WATCH_XMLSTREAMPARSER_H

#include <cstddef>
#include <string>

#include <boost/noncopyable.hpp>

#include "watch/MarkupScanner.h"
#include "watch/Records.h"

struct _xmlParserCtxt;

namespace Qz {
namespace Varnel {
namespace Watch {

// Parses one XML log stream incrementally with libxml2's push parser and
// hands every record to the sink as soon as its closing tag has arrived, while
// the stream is still open. The first error (not well-formed XML, markup that
// a log stream never has, a root other than LOG_STREAM, an element out of
// place, an over-long name field, a percentage that is not a finite number)
// stops the parser for good; the error is kept with its position.
class CXmlStreamParser : private boost::noncopyable
{
public:
    explicit CXmlStreamParser(CRecordSink& sink);
    ~CXmlStreamParser();

    // Returns false once the stream has failed (now or earlier).
    bool Feed(const char* data, std::size_t size);

    bool HasFailed() const { return m_bFailed; }
    bool IsComplete() const { return m_bComplete; }
    const std::string& GetError() const { return m_sError; }
    const SStreamPosition& GetErrorPosition() const { return m_oErrorPosition; }
    // Where the parser stands now, for reports about streams that stop early.
    SStreamPosition GetPosition() const;

    // libxml2 callbacks; public only so that the C trampolines can reach them.
    void _StartElement(const char* name);
    void _EndElement(const char* name);
    void _Characters(const char* data, int length);
    void _Fail(const std::string& message, int line, int column);
    void _RejectDocumentType();

private:
    enum ERecordKind
    {
        RecordNone,
        RecordLog,
        RecordProgress
    };

    void _Parse(const char* data, std::size_t size);
    // Fails the stream at the byte that the scanner refused.
    void _Refuse(const char* refused);
    void _FinishField(const std::string& name);
    void _FinishRecord();

    CRecordSink& m_oSink;
    _xmlParserCtxt* m_pContext = nullptr;
    unsigned long long m_nBytesFed = 0;
    CMarkupScanner m_oScanner;
    int m_nDepth = 0;
    ERecordKind m_eRecord = RecordNone;
    bool m_bInField = false;
    std::string m_sFieldName;
    std::size_t m_nFieldLimit = 0;
    bool m_bSawPercentage = false;
    std::string m_sFieldText;
    SLogRecord m_oLog;
    SProgressRecord m_oProgress;
    bool m_bFailed = false;
    bool m_bComplete = false;
    std::string m_sError;
    SStreamPosition m_oErrorPosition;
};

} // namespace Watch
} // namespace Varnel
} // namespace Qz

#endif
