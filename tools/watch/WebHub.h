#ifndef VIDODERAVEV_TOOLS_WATCH_WEBHUB_H
#define VIDODERAVEV_TOOLS_WATCH_WEBHUB_H

#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <boost/noncopyable.hpp>

namespace Qz {
namespace Varnel {
namespace Watch {

struct SWebHubLimits
{
    // Records and bytes a client may have waiting before it is dropped.
    std::size_t m_nMaxQueuedRecords = 4000;
    std::size_t m_nMaxQueuedBytes = 2 << 20;
    // Messages a page opened late (or reconnecting) is given first.
    std::size_t m_nKeptMessages = 500;
    // Ended streams whose last state is still shown; running ones are all kept.
    std::size_t m_nKeptEndedStreams = 200;
};

// What the dashboard's pages are told, shared between the collector thread,
// which publishes records as JSON lines, and the web server's thread, which
// sends them as Server-Sent Events. Publishing only appends to bounded queues
// under one mutex, so no browser can hold the collector back: a client whose
// queue overflows is dropped, and when its browser reconnects it is given the
// current state again.
class CWebHub : private boost::noncopyable
{
public:
    explicit CWebHub(const SWebHubLimits& limits = SWebHubLimits());

    // Collector thread. A message record, kept in the ring of recent messages.
    void PublishMessage(const std::string& json);
    // Any other record that is only passed on (progress, end).
    void PublishRecord(const std::string& json);
    // The current state of one stream, replacing its previous one.
    void PublishStream(unsigned long long stream, const std::string& json, bool ended);

    // Called outside the lock whenever a client that waited for records has
    // some, or a client has been dropped; the server then calls Take.
    void SetWake(std::function<void()> wake);

    // Server thread. A new client; lastEventId is what the browser sent in
    // Last-Event-ID (empty for none). Its queue starts with what it missed
    // when that can be told from the ring, otherwise with the whole state.
    unsigned long long Subscribe(const std::string& lastEventId);
    // Appends the client's waiting events, in event-stream form, to out.
    // False when the client has been dropped (or is unknown).
    bool Take(unsigned long long client, std::string& out);
    bool IsDropped(unsigned long long client) const;
    void Unsubscribe(unsigned long long client);
    std::size_t GetClientCount() const;

private:
    using PEvent = std::shared_ptr<const std::string>;
    struct SClient
    {
        std::deque<PEvent> m_oQueue;
        std::size_t m_nQueuedBytes = 0;
        std::string m_sFirst; // the state or the catch-up, outside the limits
        bool m_bWaiting = false; // its last Take found nothing
        bool m_bDropped = false;
    };
    struct SMessage
    {
        unsigned long long m_nSequence;
        PEvent m_pEvent;
    };
    struct SStreamState
    {
        unsigned long long m_nSequence = 0;
        PEvent m_pEvent;
        bool m_bEnded = false;
    };

    // Each returns whether the server must be woken.
    bool _Publish(const PEvent& event);
    PEvent _MakeEvent(const std::string& json);
    void _ForgetEndedStreams();
    std::string _Replay(unsigned long long after, bool reset) const;

    const SWebHubLimits m_oLimits;
    mutable std::mutex m_oMutex;
    std::function<void()> m_oWake;
    unsigned long long m_nSequence = 0;
    unsigned long long m_nForgottenUpTo = 0; // the newest message that left the ring
    std::deque<SMessage> m_oMessages;
    std::map<unsigned long long, SStreamState> m_oStreams;
    std::deque<unsigned long long> m_oEndedStreams; // oldest first
    unsigned long long m_nNextClient = 1;
    std::map<unsigned long long, SClient> m_oClients;
};

} // namespace Watch
} // namespace Varnel
} // namespace Qz

#endif
