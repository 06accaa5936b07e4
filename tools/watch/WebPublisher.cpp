#include "watch/WebPublisher.h"

#include <cstdio>

#include "watch/JsonRecord.h"
#include "watch/PlainView.h"
#include "watch/WebHub.h"

namespace Qz {
namespace Varnel {
namespace Watch {

namespace {

// How often the ETA and "stalled" of running streams are brought up to date.
const double g_dRefreshInterval = 1.0;

const char* StateName(const CStream& stream)
{
    switch (stream.GetState()) {
    case StreamRunning:
        return "running";
    case StreamFinished:
        return "finished";
    case StreamMalformed:
        return "malformed";
    default:
        break;
    }
    return stream.IsLost() ? "lost" : "ended";
}

void AppendField(std::string& line, const char* key, const std::string& value)
{
    line += ",\"";
    line += key;
    line += "\":";
    AppendJsonString(line, value);
}

} // namespace

CWebPublisher::CWebPublisher(CWebHub& hub, const CMessageFilter& filter) : m_oHub(hub), m_oFilter(filter) {}

void CWebPublisher::OnStreamStarted(const CStream& stream)
{
    SEntry& entry = m_oStreams[&stream];
    entry.m_nId = m_nNextId++;
    _PublishState(stream, entry, MonotonicNow());
}

void CWebPublisher::OnLog(const CStream& stream, const SLogRecord& record)
{
    const auto found = m_oStreams.find(&stream);
    if (found == m_oStreams.end())
        return;
    if (m_oFilter.Accepts(record))
        m_oHub.PublishMessage(FormatJsonLog(stream, record));
    // The counts, and the name once the stream has said who sends it.
    _PublishState(stream, found->second, MonotonicNow());
}

void CWebPublisher::OnProgress(const CStream& stream, const SProgressRecord& record)
{
    const auto found = m_oStreams.find(&stream);
    if (found == m_oStreams.end() || record.IsEpilogue())
        return;
    const double now = MonotonicNow();
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
    AppendField(line, "host", stream.GetHostName());
    AppendField(line, "pid", stream.GetPid());
    AppendField(line, "text", stream.GetRootText());
    char percent[32];
    std::snprintf(percent, sizeof(percent), "%.2f", stream.GetPercentage());
    line += ",\"percent\":";
    line += percent;
    double eta = 0.0;
    const bool stalled = stream.IsStalled(now);
    line += ",\"eta\":";
    line += !stalled && stream.GetEta(now, eta) ? std::to_string(static_cast<long long>(eta + 0.5)) : "null";
    line += stalled ? ",\"stalled\":true" : ",\"stalled\":false";
    line += ",\"state\":\"";
    line += StateName(stream);
    line += "\",\"errors\":" + std::to_string(stream.GetErrorCount()) +
            ",\"warnings\":" + std::to_string(stream.GetWarningCount());
    return line + "}";
}

} // namespace Watch
} // namespace Varnel
} // namespace Qz
