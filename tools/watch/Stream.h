#ifndef VIDODERAVEV_TOOLS_WATCH_STREAM_H
#define VIDODERAVEV_TOOLS_WATCH_STREAM_H

#include <deque>
#include <map>
#include <memory>
#include <string>

#include <boost/noncopyable.hpp>

#include "watch/Eta.h"
#include "watch/Records.h"
#include "watch/SaveFile.h"
#include "watch/XmlStreamParser.h"

namespace Qz {
namespace Varnel {
namespace Watch {

class CStream;

// How long a running stream goes without a progress change before it is shown
// as stalled instead of with a time remaining that keeps growing.
const double g_dStalledAfter = 10.0;

enum EStreamState
{
    StreamRunning,
    StreamFinished,  // the document was closed
    StreamTruncated, // the input ended before the document was closed
    StreamMalformed, // the input was dropped at its first error
    StreamTimedOut   // the connection sent nothing for too long and was closed
};

// What the collector shows of its streams; implemented by the plain and the
// terminal view.
class CStreamObserver
{
public:
    virtual ~CStreamObserver() = default;
    virtual void OnStreamStarted(const CStream& stream) = 0;
    virtual void OnLog(const CStream& stream, const SLogRecord& record) = 0;
    virtual void OnProgress(const CStream& stream, const SProgressRecord& record) = 0;
    virtual void OnStreamEnded(const CStream& stream) = 0;
    // Trouble of the collector itself, such as a save file that cannot be written.
    virtual void OnNotice(const std::string& text) = 0;
};

// Hands out the names under which streams are shown: the same host and
// process seen twice get "#2", "#3" and so on. Of the names whose streams
// have all ended only the most recently released are remembered, so that a
// long-running collector does not keep every name it ever saw.
class CLabelRegistry
{
public:
    std::string Claim(const std::string& label);
    // The stream that claimed the label is gone.
    void Release(const std::string& label);
    std::size_t GetSize() const { return m_oEntries.size(); }

private:
    struct SEntry
    {
        int m_nUses = 0;
        int m_nLive = 0;
    };

    std::map<std::string, SEntry> m_oEntries;
    std::deque<std::string> m_oReleased; // oldest first
};

// One input, from standard input, one TCP connection or one process in the
// journal: its received bytes,
// its parser, its save file and what it has told so far.
class CStream : private CRecordSink, private boost::noncopyable
{
public:
    // source names the input until the stream identifies itself ("stdin",
    // "127.0.0.1:40112"); saveDirectory is empty when nothing is saved.
    CStream(const std::string& source, const std::string& saveDirectory, CLabelRegistry& labels,
            CStreamObserver& observer, double now, EEtaMethod etaMethod = EtaMoving);
    ~CStream() override;

    // Takes the next bytes of the input. Returns false once the stream is
    // malformed, and the caller then drops the input.
    bool Receive(const char* data, std::size_t size, double now);
    // The input has ended (end of file or connection closed).
    void EndOfInput(double now);
    // The connection is closed because it sent nothing for idleSeconds.
    void TimeOut(double now, double idleSeconds);
    // Records that come already parsed, from the journal; the closing
    // progress record (-1) finishes the stream.
    void TakeLog(const SLogRecord& record, double now);
    void TakeProgress(const SProgressRecord& record, double now);

    EStreamState GetState() const { return m_eState; }
    const std::string& GetLabel() const { return m_sLabel; }
    const std::string& GetSource() const { return m_sSource; }
    // At most g_nMaxKeptCells (Text.h) of the latest root text.
    const std::string& GetRootText() const { return m_sRootText; }
    // Last percentage received, 0 to 100; stays at its last value at the end.
    double GetPercentage() const { return m_dPercentage; }
    const std::string& GetPercentageText() const { return m_sPercentageText; }
    bool GetEta(double now, double& seconds) const;
    // Running, and no progress change for g_dStalledAfter seconds or more.
    bool IsStalled(double now) const;
    // ERROR and FATAL messages so far.
    int GetErrorCount() const { return m_nErrors; }
    // WARNING messages so far.
    int GetWarningCount() const { return m_nWarnings; }
    // Ended without its closing record: truncated, timed out or killed.
    bool IsLost() const { return m_eState == StreamTruncated || m_eState == StreamTimedOut; }
    // As the stream's records carry them; empty until the first record.
    const std::string& GetHostName() const { return m_sHostName; }
    const std::string& GetPid() const { return m_sPid; }
    unsigned long long GetBytes() const { return m_nBytes; }
    // When bytes last arrived, or when the stream began.
    double GetLastInput() const { return m_dLastInput; }
    // Why and where the stream failed or stopped early.
    const std::string& GetError() const { return m_sError; }
    const SStreamPosition& GetEndPosition() const { return m_oEndPosition; }
    // Where the bytes are saved; empty when nowhere.
    const std::string& GetSavePath() const;
    // Saving stopped at a refused write; the file lacks the rest.
    bool IsSaveIncomplete() const { return m_pSaveFile && m_pSaveFile->IsIncomplete(); }

private:
    void OnLog(const SLogRecord& record) override;
    void OnProgress(const SProgressRecord& record) override;
    void OnEnd() override;
    void _Identify(const std::string& hostName, const std::string& pid);
    void _SaveBytes(const char* data, std::size_t size);

    std::string m_sSource;
    std::string m_sLabel;
    std::string m_sClaimedLabel;
    std::string m_sHostName;
    std::string m_sPid;
    bool m_bIdentified = false;
    CLabelRegistry& m_oLabels;
    CStreamObserver& m_oObserver;
    CXmlStreamParser m_oParser;
    std::unique_ptr<CSaveFile> m_pSaveFile;
    EStreamState m_eState = StreamRunning;
    std::string m_sRootText;
    double m_dPercentage = 0.0;
    std::string m_sPercentageText;
    CEtaEstimator m_oEta;
    double m_dNow;
    double m_dLastInput;
    unsigned long long m_nBytes = 0;
    int m_nErrors = 0;
    int m_nWarnings = 0;
    std::string m_sError;
    SStreamPosition m_oEndPosition;
};

} // namespace Watch
} // namespace Varnel
} // namespace Qz

#endif
