#include "watch/JournalSource.h"

#include <cerrno>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <systemd/sd-journal.h>

namespace Qz {
namespace Varnel {
namespace Watch {

namespace {

std::string Reason(int negativeError) { return std::strerror(-negativeError); }

// The entry's time as the XML stream writes it.
std::string FormatTime(std::uint64_t microseconds)
{
    const std::time_t seconds = static_cast<std::time_t>(microseconds / 1000000);
    std::tm local = {};
    char text[32] = "";
    if (::localtime_r(&seconds, &local) != nullptr)
        std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

} // namespace

bool ParseLocalTime(const std::string& text, std::uint64_t& microseconds)
{
    std::tm local = {};
    const char* end = ::strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &local);
    if (end == nullptr || *end != '\0')
        return false;
    local.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&local);
    if (seconds < 0)
        return false;
    microseconds = static_cast<std::uint64_t>(seconds) * 1000000;
    return true;
}

CJournalSource::CJournalSource(EEtaMethod etaMethod) : m_eEtaMethod(etaMethod) {}

void CJournalSource::Attach(CLabelRegistry& labels, CStreamObserver& observer)
{
    m_pLabels = &labels;
    m_pObserver = &observer;
}

CJournalSource::~CJournalSource()
{
    // The streams go first: their views may still look at them.
    m_oStreams.clear();
    if (m_pJournal != nullptr)
        sd_journal_close(m_pJournal);
}

bool CJournalSource::Open(const std::string& directory, const std::string& since, std::string& error)
{
    std::uint64_t start = 0;
    if (!since.empty() && !ParseLocalTime(since, start)) {
        error = "--since: \"" + since + "\" is no time like \"2026-12-06 10:00:00\"";
        return false;
    }
    const int opened = directory.empty() ? sd_journal_open(&m_pJournal, SD_JOURNAL_LOCAL_ONLY)
                                         : sd_journal_open_directory(&m_pJournal, directory.c_str(), 0);
    if (opened < 0) {
        m_pJournal = nullptr;
        error = "cannot open the journal" + (directory.empty() ? std::string() : " in " + directory) + ": " +
                Reason(opened);
        return false;
    }
    m_sSource = directory.empty() ? "journal" : "journal:" + directory;
    // Messages are never cut, however long.
    sd_journal_set_data_threshold(m_pJournal, 0);
    int positioned;
    if (since.empty()) {
        // On the last entry, so that the next one read is the first new one.
        positioned = sd_journal_seek_tail(m_pJournal);
        if (positioned >= 0)
            positioned = sd_journal_previous(m_pJournal);
    } else
        positioned = sd_journal_seek_realtime_usec(m_pJournal, start);
    // Asking for the descriptor now starts watching for changes before the
    // first read, so nothing written in between is missed.
    if (positioned >= 0)
        positioned = sd_journal_get_fd(m_pJournal);
    if (positioned < 0) {
        error = "cannot read the journal: " + Reason(positioned);
        return false;
    }
    return true;
}

int CJournalSource::GetDescriptor() const { return sd_journal_get_fd(m_pJournal); }

double CJournalSource::GetWaitLimit(double now) const
{
    std::uint64_t due = 0;
    if (sd_journal_get_timeout(m_pJournal, &due) < 0 || due == UINT64_MAX)
        return -1.0;
    // Both on the monotonic clock.
    return std::max(0.0, static_cast<double>(due) / 1e6 - now);
}

void CJournalSource::ReadNew(double now)
{
    sd_journal_process(m_pJournal);
    int next;
    while ((next = sd_journal_next(m_pJournal)) > 0)
        _Take(now);
    if (next < 0)
        m_pObserver->OnNotice("cannot read the journal: " + Reason(next));
}

std::string CJournalSource::_Field(const char* name) const
{
    const void* data = nullptr;
    std::size_t size = 0;
    if (sd_journal_get_data(m_pJournal, name, &data, &size) < 0)
        return std::string();
    const std::size_t prefix = std::strlen(name) + 1; // "NAME="
    return size > prefix ? std::string(static_cast<const char*>(data) + prefix, size - prefix) : std::string();
}

void CJournalSource::_Take(double now)
{
    // Every entry of the library names its logger's root text, even empty.
    const void* data = nullptr;
    std::size_t size = 0;
    if (sd_journal_get_data(m_pJournal, "VIDODERAVEV_LOGGER", &data, &size) < 0)
        return;
    const std::string progress = _Field("VIDODERAVEV_PROGRESS");
    const double fraction = progress.empty() ? 0.0 : std::strtod(progress.c_str(), nullptr);
    if (std::isnan(fraction))
        return;
    const std::string host = _Field("_HOSTNAME");
    const std::string pid = _Field("_PID");
    std::unique_ptr<CStream>& stream = m_oStreams[host + '\0' + pid];
    if (!stream)
        stream.reset(new CStream(m_sSource, "", *m_pLabels, *m_pObserver, now, m_eEtaMethod));
    if (progress.empty()) {
        SLogRecord record;
        std::uint64_t time = 0;
        if (sd_journal_get_realtime_usec(m_pJournal, &time) >= 0)
            record.m_sTime = FormatTime(time);
        record.m_sType = _Field("VIDODERAVEV_LEVEL");
        record.m_sHostName = host;
        record.m_sPid = pid;
        record.m_sTaskId = _Field("VIDODERAVEV_TASK_ID");
        record.m_sText = _Field("MESSAGE");
        stream->TakeLog(record, now);
        return;
    }
    SProgressRecord record;
    record.m_dPercentage = fraction < 0.0 ? -1.0 : std::fmin(fraction, 1.0) * 100.0;
    char text[32];
    std::snprintf(text, sizeof(text), "%.6g", record.m_dPercentage);
    record.m_sPercentage = text;
    record.m_bHasText = true;
    record.m_sText = _Field("VIDODERAVEV_LOGGER");
    record.m_sHostName = host;
    record.m_sPid = pid;
    stream->TakeProgress(record, now);
    if (record.IsEpilogue()) {
        ++m_nEnded;
        m_oStreams.erase(host + '\0' + pid);
    }
}

} // namespace Watch
} // namespace Varnel
} // namespace Qz
