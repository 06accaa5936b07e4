#include "watch/WebHub.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <utility>
#include <vector>

namespace Qz {
namespace Varnel {
namespace Watch {

namespace {

// Tells the page to forget what it shows because the whole state follows. It
// carries no id, so that the browser's last event id stays a real one.
const char g_sResetEvent[] = "data: {\"type\":\"reset\"}\n\n";

bool ParseSequence(const std::string& text, unsigned long long& sequence)
{
    if (text.empty() || text.size() > 20 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    sequence = std::strtoull(text.c_str(), nullptr, 10);
    return errno == 0;
}

} // namespace

CWebHub::CWebHub(const SWebHubLimits& limits) : m_oLimits(limits) {}

void CWebHub::SetWake(std::function<void()> wake)
{
    std::lock_guard<std::mutex> lock(m_oMutex);
    m_oWake = std::move(wake);
}

CWebHub::PEvent CWebHub::_MakeEvent(const std::string& json)
{
    std::string event = "id: " + std::to_string(++m_nSequence) + "\ndata: ";
    event.reserve(event.size() + json.size() + 2);
    event += json;
    event += "\n\n";
    return std::make_shared<const std::string>(std::move(event));
}

bool CWebHub::_Publish(const PEvent& event)
{
    bool wake = false;
    for (auto& entry : m_oClients) {
        SClient& client = entry.second;
        if (client.m_bDropped)
            continue;
        if (client.m_oQueue.size() >= m_oLimits.m_nMaxQueuedRecords ||
            client.m_nQueuedBytes + event->size() > m_oLimits.m_nMaxQueuedBytes) {
            // Its browser reads too slowly: what it misses would only grow.
            client.m_bDropped = true;
            client.m_oQueue.clear();
            client.m_sFirst.clear();
            wake = true;
            continue;
        }
        client.m_oQueue.push_back(event);
        client.m_nQueuedBytes += event->size();
        if (client.m_bWaiting) {
            client.m_bWaiting = false;
            wake = true;
        }
    }
    return wake;
}

void CWebHub::PublishMessage(const std::string& json)
{
    std::function<void()> wake;
    {
        std::lock_guard<std::mutex> lock(m_oMutex);
        const PEvent event = _MakeEvent(json);
        m_oMessages.push_back(SMessage{m_nSequence, event});
        while (m_oMessages.size() > m_oLimits.m_nKeptMessages) {
            m_nForgottenUpTo = m_oMessages.front().m_nSequence;
            m_oMessages.pop_front();
        }
        if (_Publish(event))
            wake = m_oWake;
    }
    if (wake)
        wake();
}

void CWebHub::PublishRecord(const std::string& json)
{
    std::function<void()> wake;
    {
        std::lock_guard<std::mutex> lock(m_oMutex);
        if (_Publish(_MakeEvent(json)))
            wake = m_oWake;
    }
    if (wake)
        wake();
}

void CWebHub::PublishStream(unsigned long long stream, const std::string& json, bool ended)
{
    std::function<void()> wake;
    {
        std::lock_guard<std::mutex> lock(m_oMutex);
        const PEvent event = _MakeEvent(json);
        SStreamState& state = m_oStreams[stream];
        if (ended && !state.m_bEnded)
            m_oEndedStreams.push_back(stream);
        state = SStreamState{m_nSequence, event, ended};
        _ForgetEndedStreams();
        if (_Publish(event))
            wake = m_oWake;
    }
    if (wake)
        wake();
}

void CWebHub::_ForgetEndedStreams()
{
    while (m_oEndedStreams.size() > m_oLimits.m_nKeptEndedStreams) {
        m_oStreams.erase(m_oEndedStreams.front());
        m_oEndedStreams.pop_front();
    }
}

std::string CWebHub::_Replay(unsigned long long after, bool reset) const
{
    // In the order published, so that the last id the browser sees is the
    // newest one it has.
    std::vector<std::pair<unsigned long long, const std::string*>> events;
    for (const auto& entry : m_oStreams)
        if (entry.second.m_nSequence > after)
            events.emplace_back(entry.second.m_nSequence, entry.second.m_pEvent.get());
    for (const SMessage& message : m_oMessages)
        if (message.m_nSequence > after)
            events.emplace_back(message.m_nSequence, message.m_pEvent.get());
    std::sort(events.begin(), events.end());
    std::string text = reset ? g_sResetEvent : "";
    for (const auto& event : events)
        text += *event.second;
    return text;
}

unsigned long long CWebHub::Subscribe(const std::string& lastEventId)
{
    std::lock_guard<std::mutex> lock(m_oMutex);
    unsigned long long last = 0;
    // A browser that saw no message the ring has lost (and none of another
    // watcher's run) misses only what the ring and the states still hold.
    const bool resume = ParseSequence(lastEventId, last) && last >= m_nForgottenUpTo && last <= m_nSequence;
    const unsigned long long id = m_nNextClient++;
    m_oClients[id].m_sFirst = _Replay(resume ? last : 0, !resume);
    return id;
}

bool CWebHub::Take(unsigned long long id, std::string& out)
{
    std::lock_guard<std::mutex> lock(m_oMutex);
    const auto found = m_oClients.find(id);
    if (found == m_oClients.end() || found->second.m_bDropped)
        return false;
    SClient& client = found->second;
    const std::size_t before = out.size();
    out += client.m_sFirst;
    client.m_sFirst.clear();
    for (const PEvent& event : client.m_oQueue)
        out += *event;
    client.m_bWaiting = out.size() == before;
    client.m_oQueue.clear();
    client.m_nQueuedBytes = 0;
    return true;
}

bool CWebHub::IsDropped(unsigned long long id) const
{
    std::lock_guard<std::mutex> lock(m_oMutex);
    const auto found = m_oClients.find(id);
    return found == m_oClients.end() || found->second.m_bDropped;
}

void CWebHub::Unsubscribe(unsigned long long id)
{
    std::lock_guard<std::mutex> lock(m_oMutex);
    m_oClients.erase(id);
}

std::size_t CWebHub::GetClientCount() const
{
    std::lock_guard<std::mutex> lock(m_oMutex);
    return m_oClients.size();
}

} // namespace Watch
} // namespace Varnel
} // namespace Qz
