#include "watch/Stream.h"

#include <cstdio>

#include "watch/Text.h"

namespace Qz {
namespace Varnel {
namespace Watch {

namespace {

// Enough to tell apart the streams that a screen or a log shows together.
const std::size_t g_nMaxReleasedLabels = 1000;

std::string FormatSeconds(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%g", seconds);
    return text;
}

} // namespace

std::string CLabelRegistry::Claim(const std::string& label)
{
    SEntry& entry = m_oEntries[label];
    ++entry.m_nLive;
    const int uses = ++entry.m_nUses;
    return uses == 1 ? label : label + "#" + std::to_string(uses);
}

void CLabelRegistry::Release(const std::string& label)
{
    const auto found = m_oEntries.find(label);
    if (found == m_oEntries.end() || --found->second.m_nLive > 0)
        return;
    m_oReleased.push_back(label);
    while (m_oReleased.size() > g_nMaxReleasedLabels) {
        // A name claimed again since it was released is still in use.
        const auto oldest = m_oEntries.find(m_oReleased.front());
        if (oldest != m_oEntries.end() && oldest->second.m_nLive == 0)
            m_oEntries.erase(oldest);
        m_oReleased.pop_front();
    }
}

CStream::CStream(const std::string& source, const std::string& saveDirectory, CLabelRegistry& labels,
                 CStreamObserver& observer, double now, EEtaMethod etaMethod)
    : m_sSource(source), m_sLabel(source), m_oLabels(labels), m_oObserver(observer), m_oParser(*this),
      m_oEta(now, etaMethod), m_dNow(now), m_dLastInput(now)
{
    if (!saveDirectory.empty()) {
        m_pSaveFile.reset(new CSaveFile(saveDirectory, MakeFileStem(source)));
        if (!m_pSaveFile->IsOpen())
            m_oObserver.OnNotice(m_pSaveFile->GetError());
    }
    m_oObserver.OnStreamStarted(*this);
}

CStream::~CStream()
{
    if (m_bIdentified)
        m_oLabels.Release(m_sClaimedLabel);
}

const std::string& CStream::GetSavePath() const
{
    static const std::string s_sNone;
    return m_pSaveFile ? m_pSaveFile->GetPath() : s_sNone;
}

bool CStream::Receive(const char* data, std::size_t size, double now)
{
    if (m_eState == StreamMalformed)
        return false;
    m_dNow = now;
    m_dLastInput = now;
    m_nBytes += size;
    _SaveBytes(data, size);
    // Bytes after the end of the document (the sender's last line feed) are
    // saved with the rest but not parsed.
    if (m_eState != StreamRunning)
        return true;
    if (!m_oParser.Feed(data, size)) {
        m_eState = StreamMalformed;
        m_sError = m_oParser.GetError();
        m_oEndPosition = m_oParser.GetErrorPosition();
        m_oObserver.OnStreamEnded(*this);
        return false;
    }
    return true;
}

void CStream::EndOfInput(double now)
{
    m_dNow = now;
    if (m_eState != StreamRunning)
        return;
    m_oEndPosition = m_oParser.GetPosition();
    if (m_oParser.IsComplete())
        m_eState = StreamFinished;
    else {
        m_eState = StreamTruncated;
        m_sError = m_nBytes == 0 ? "no data" : "the input ended before the end of the stream";
    }
    m_oObserver.OnStreamEnded(*this);
}

void CStream::TimeOut(double now, double idleSeconds)
{
    m_dNow = now;
    if (m_eState != StreamRunning)
        return;
    m_eState = StreamTimedOut;
    m_oEndPosition = m_oParser.GetPosition();
    m_sError = "nothing received for " + FormatSeconds(idleSeconds) + " s; connection closed";
    m_oObserver.OnStreamEnded(*this);
}

void CStream::TakeLog(const SLogRecord& record, double now)
{
    m_dNow = now;
    m_dLastInput = now;
    if (m_eState == StreamRunning)
        OnLog(record);
}

void CStream::TakeProgress(const SProgressRecord& record, double now)
{
    m_dNow = now;
    m_dLastInput = now;
    if (m_eState != StreamRunning)
        return;
    OnProgress(record);
    if (record.IsEpilogue()) {
        m_eState = StreamFinished;
        m_oObserver.OnStreamEnded(*this);
    }
}

bool CStream::GetEta(double now, double& seconds) const
{
    return m_eState == StreamRunning && m_oEta.GetRemaining(now, seconds);
}

bool CStream::IsStalled(double now) const
{
    return m_eState == StreamRunning && now - m_oEta.GetLastChange() >= g_dStalledAfter;
}

void CStream::OnLog(const SLogRecord& record)
{
    _Identify(record.m_sHostName, record.m_sPid);
    if (record.m_sType == "ERROR" || record.m_sType == "FATAL")
        ++m_nErrors;
    else if (record.m_sType == "WARNING")
        ++m_nWarnings;
    m_oObserver.OnLog(*this, record);
}

void CStream::OnProgress(const SProgressRecord& record)
{
    _Identify(record.m_sHostName, record.m_sPid);
    if (record.m_bHasText)
        m_sRootText = FitToWidth(record.m_sText, g_nMaxKeptCells, false);
    // The closing record's -1 only says that the stream ends; the bar keeps
    // the last real percentage.
    if (!record.IsEpilogue()) {
        m_dPercentage = record.m_dPercentage;
        m_sPercentageText = record.m_sPercentage;
        m_oEta.Update(m_dNow, m_dPercentage);
    }
    m_oObserver.OnProgress(*this, record);
}

void CStream::OnEnd()
{
    // Called from inside Feed; the input may still deliver a final line feed.
    m_eState = StreamFinished;
    m_oEndPosition = m_oParser.GetPosition();
    m_oObserver.OnStreamEnded(*this);
}

void CStream::_Identify(const std::string& hostName, const std::string& pid)
{
    if (m_bIdentified || (hostName.empty() && pid.empty()))
        return;
    m_bIdentified = true;
    m_sHostName = hostName;
    m_sPid = pid;
    m_sClaimedLabel = hostName + "/" + pid;
    m_sLabel = m_oLabels.Claim(m_sClaimedLabel);
    if (m_pSaveFile && !m_pSaveFile->GetPath().empty() &&
        !m_pSaveFile->Rename(MakeFileStem(hostName) + "-" + MakeFileStem(pid)))
        m_oObserver.OnNotice(m_pSaveFile->GetError());
}

void CStream::_SaveBytes(const char* data, std::size_t size)
{
    if (!m_pSaveFile || !m_pSaveFile->IsOpen())
        return;
    if (m_pSaveFile->Write(data, size))
        return;
    // Bytes appended after a refused write would leave a hole in the copy
    // that nothing shows: the copy stops here and says so by its name.
    std::string notice = m_pSaveFile->GetError();
    if (m_pSaveFile->MarkIncomplete())
        notice += "; saving stopped, the copy so far is " + m_pSaveFile->GetPath();
    else
        notice += "; saving stopped (" + m_pSaveFile->GetError() + ")";
    m_oObserver.OnNotice(notice);
}

} // namespace Watch
} // namespace Varnel
} // namespace Qz
