#ifndef VIDODERAVEV_TOOLS_WATCH_RECORDS_H
#define VIDODERAVEV_TOOLS_WATCH_RECORDS_H

#include <string>

namespace Qz {
namespace Varnel {
namespace Watch {

// One message line of the stream, with the element contents already unescaped.
struct SLogRecord
{
    std::string m_sTime;
    std::string m_sType;
    std::string m_sHostName;
    std::string m_sPid;
    std::string m_sTid;
    std::string m_sTaskId;
    std::string m_sText;
};

// One progress record. The root text is only sent when it changed, so
// m_bHasText tells whether m_sText carries a new one.
struct SProgressRecord
{
    bool m_bHasText = false;
    std::string m_sText;
    std::string m_sPercentage;
    double m_dPercentage = 0.0;
    std::string m_sHostName;
    std::string m_sPid;

    // The closing record of every stream carries the percentage -1.
    bool IsEpilogue() const { return m_dPercentage < 0.0; }
};

// Where a stream went wrong: line and column as the XML parser counts them
// (both from 1) and the number of bytes fed until then.
struct SStreamPosition
{
    int m_nLine = 0;
    int m_nColumn = 0;
    unsigned long long m_nBytes = 0;
};

// Receives the records of one stream in the order they complete.
class CRecordSink
{
public:
    virtual ~CRecordSink() = default;
    virtual void OnLog(const SLogRecord& record) = 0;
    virtual void OnProgress(const SProgressRecord& record) = 0;
    // The document's root element was closed.
    virtual void OnEnd() = 0;
};

} // namespace Watch
} // namespace Varnel
} // namespace Qz

#endif
