// vidoderavev-watch: a collector and live viewer for XML log streams.
#include <cstdio>
#include <iostream>
#include <memory>

#include <libxml/parser.h>
#include <sys/resource.h>
#include <unistd.h>

#include "watch/Collector.h"
#include "watch/FanOutView.h"
#include "watch/JsonRecord.h"
#if VIDODERAVEV_WATCH_JOURNAL
#include "watch/JournalSource.h"
#endif
#include "watch/Listener.h"
#include "watch/Options.h"
#include "watch/PlainView.h"
#include "watch/SaveFile.h"
#include "watch/SignalPipe.h"
#include "watch/TerminalView.h"
#include "watch/WebHub.h"
#include "watch/WebPublisher.h"
#include "watch/WebServer.h"

using namespace Qz::Varnel::Watch;

namespace {

// Every stream holds a descriptor: take all that the system allows.
void RaiseDescriptorLimit()
{
    rlimit limit = {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace

int main(int argc, char** argv)
{
    SWatchOptions options;
    if (!ParseWatchOptions(argc, argv, options, std::cout, std::cerr))
        return 2;
    if (options.m_bHelp)
        return 0;

    if (options.m_sListen.empty() && !options.m_bJournal && ::isatty(STDIN_FILENO)) {
        std::cerr << "vidoderavev-watch: standard input is a terminal; pipe a stream in "
                     "(vidoderavev-demo --xml | vidoderavev-watch) or use --listen HOST:PORT\n";
        return 2;
    }
    if (!options.m_sSaveDirectory.empty()) {
        std::string error;
        if (!MakeSaveDirectory(options.m_sSaveDirectory, error)) {
            std::cerr << "vidoderavev-watch: --save: " << error << "\n";
            return 3;
        }
    }
    RaiseDescriptorLimit();
    xmlInitParser();
    CSignalPipe signals;
    CListener listener;
    if (!options.m_sListen.empty()) {
        std::string error;
        if (!listener.Open(options.m_sListenHost, options.m_sListenPort, error)) {
            std::cerr << "vidoderavev-watch: " << error << "\n";
            return 3;
        }
        // Said on the error stream, so that scripts can learn a chosen port
        // without disturbing the records on standard output.
        std::cerr << "vidoderavev-watch: listening on " << listener.GetAddress() << std::endl;
    }

#if VIDODERAVEV_WATCH_JOURNAL
    // Opened before the view takes the screen, so that a refusal stays visible.
    std::unique_ptr<CJournalSource> journal;
    if (options.m_bJournal) {
        journal.reset(new CJournalSource(options.m_eEta));
        std::string error;
        if (!journal->Open(options.m_sJournalDirectory, options.m_sSince, error)) {
            std::cerr << "vidoderavev-watch: " << error << "\n";
            return 3;
        }
    }
#endif
    std::string title = options.m_sListen.empty() ? "standard input" : listener.GetAddress();
    if (options.m_bJournal)
        title = options.m_sJournalDirectory.empty() ? "journal" : "journal " + options.m_sJournalDirectory;
    // The dashboard is one more view, served from a thread of its own.
    CWebHub hub;
    std::unique_ptr<CWebServer> server;
    if (!options.m_sHttp.empty()) {
        server.reset(new CWebServer(hub));
        std::string error;
        if (!server->Open(options.m_sHttpHost, options.m_sHttpPort, error)) {
            std::cerr << "vidoderavev-watch: --http: " << error << "\n";
            return 3;
        }
        std::cerr << "vidoderavev-watch: dashboard at http://" << server->GetAddress() << "/" << std::endl;
        server->Start();
    }

    std::unique_ptr<CView> view;
    if (options.m_bJson)
        view.reset(new CLineView(stdout, stderr, options.m_oFilter, {&FormatJsonLog, &FormatJsonProgress, &FormatJsonEnd}));
    else if (!options.m_bPlain && ::isatty(STDOUT_FILENO))
        view.reset(new CTerminalView(STDOUT_FILENO, title, options.m_oFilter));
    else
        view.reset(new CPlainView(stdout, stderr, options.m_oFilter));

    std::unique_ptr<CWebPublisher> publisher;
    std::unique_ptr<CFanOutView> fanOut;
    if (server) {
        publisher.reset(new CWebPublisher(hub, options.m_oFilter));
        fanOut.reset(new CFanOutView(*view, *publisher));
    }

    int status = 0;
    {
        CCollector collector(fanOut ? static_cast<CView&>(*fanOut) : *view, signals, options.m_sSaveDirectory,
                             options.m_eEta);
#if VIDODERAVEV_WATCH_JOURNAL
        if (journal)
            status = collector.RunJournal(*journal, options.m_nExitAfter);
        else
#endif
            status = options.m_sListen.empty()
                         ? collector.RunSingle(STDIN_FILENO, "stdin")
                         : collector.RunListener(listener, options.m_nExitAfter, options.m_dIdleTimeout);
    }
    fanOut.reset();
    publisher.reset();
    view.reset();
    server.reset();
    xmlCleanupParser();
    return status;
}
