#include "watch/WebPublisher.h"

#include <cstdio>

#include "common/Level.h"
#include "watch/JsonStandIn.h"
#include "watch/PlainView.h"
#include "watch/WebHub.h"

namespace Qz {
namespace Varnel {
namespace Watch {

namespace {

// How often the ETA and "stalled" of running streams are brought up to date.
const double g_dRefreshInterval = 1.0;
const double g_dStalledAfter = 10.0;

const char* StateName(const CStream& stream)
{
    switch (stream.GetState()) {
    case StreamRunning:
        return "running";
    case StreamFinished:
        return "finished";
    case StreamMalformed:
        return "malformed";
    case StreamTruncated:
    case StreamTimedOut:
        break;
    }
    return "lost";
}

void AppendField(std::string& line, const char* key, const std::string& value)
{
    line += ",\"";
    line += key;
    line += "\":";
    AppendJsonString(line, value);
}

} // namespace

CWebPublisher::CWebPublisher(CWebHub& hub, int level) : m_oHub(hub), m_nLevel(level) {}

void CWebPublisher::OnStreamStarted(const CStream& stream)
{
    SEntry& entry = m_oStreams[&stream];
    entry.m_nId = m_nNextId++;
    const double now = MonotonicNow();
    entry.m_dLastChange = now;
    _PublishState(stream, entry, now);
}

void CWebPublisher::OnLog(const CStream& stream, const SLogRecord& record)
{
    const auto found = m_oStreams.find(&stream);
    if (found == m_oStreams.end())
        return;
    SEntry& entry = found->second;
    entry.m_sHost = record.m_sHostName;
    entry.m_sPid = record.m_sPid;
    const int level = Tools::LevelOfType(record.m_sType);
    if (level > m_nLevel)
        return;
    m_oHub.PublishMessage(FormatJsonLog(stream, record));
    if (level == 1 || level == 2)
        ++entry.m_nErrors;
    else if (level == 3)
        ++entry.m_nWarnings;
    else
        return;
    _PublishState(stream, entry, MonotonicNow());
}

void CWebPublisher::OnProgress(const CStream& stream, const SProgressRecord& record)
{
    const auto found = m_oStreams.find(&stream);
    if (found == m_oStreams.end() || record.IsEpilogue())
        return;
    const double now = MonotonicNow();
    found->second.m_sHost = record.m_sHostName;
    found->second.m_sPid = record.m_sPid;
    found->second.m_dLastChange = now;
    m_oHub.PublishRecord(FormatJsonProgress(stream, now));
    _PublishState(stream, found->second, now);
}

void CWebPublisher::OnStreamEnded(const CStream& stream)
{
    const auto found = m_oStreams.find(&stream);
    if (found == m_oStreams.end())
        return;
    m_oHub.PublishRecord(FormatJsonEnd(stream));
    _PublishState(stream, found->second, MonotonicNow());
    m_oStreams.erase(found);
}

void CWebPublisher::Tick(double now)
{
    if (now < m_dNextRefresh)
        return;
    m_dNextRefresh = now + g_dRefreshInterval;
    for (auto& stream : m_oStreams)
        _PublishState(*stream.first, stream.second, now);
}

double CWebPublisher::NextDeadline(double now) const
{
    if (m_oStreams.empty())
        return -1.0;
    return m_dNextRefresh > now ? m_dNextRefresh - now : 0.0;
}

void CWebPublisher::_PublishState(const CStream& stream, SEntry& entry, double now)
{
    std::string state = _FormatState(stream, entry, now);
    // The once-a-second refresh sends only what changed.
    if (state == entry.m_sLastState)
        return;
    m_oHub.PublishStream(entry.m_nId, state, stream.GetState() != StreamRunning);
    entry.m_sLastState = std::move(state);
}

std::string CWebPublisher::_FormatState(const CStream& stream, const SEntry& entry, double now) const
{
    std::string line = "{\"type\":\"stream\",\"id\":" + std::to_string(entry.m_nId);
    AppendField(line, "source", stream.GetSource());
    AppendField(line, "stream", stream.GetLabel());
    AppendField(line, "host", entry.m_sHost);
    AppendField(line, "pid", entry.m_sPid);
    AppendField(line, "text", stream.GetRootText());
    char percent[32];
    std::snprintf(percent, sizeof(percent), "%.2f", stream.GetPercentage());
    line += ",\"percent\":";
    line += percent;
    double eta = 0.0;
    const bool running = stream.GetState() == StreamRunning;
    const bool stalled = running && now - entry.m_dLastChange >= g_dStalledAfter;
    line += ",\"eta\":";
    line += !stalled && stream.GetEta(now, eta) ? std::to_string(static_cast<long long>(eta + 0.5)) : "null";
    line += stalled ? ",\"stalled\":true" : ",\"stalled\":false";
    line += ",\"state\":\"";
    line += StateName(stream);
    line += "\",\"errors\":" + std::to_string(entry.m_nErrors) + ",\"warnings\":" + std::to_string(entry.m_nWarnings);
    return line + "}";
}

} // namespace Watch
} // namespace Varnel
} // namespace Qz
