// The watcher's web dashboard: the hub's rule for browsers that fall behind, and the page itself in a
// headless Chromium while demos stream into the watcher.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <boost/beast/core/detail/base64.hpp>
#include <gtest/gtest.h>

#include "support/TemporaryDirectory.h"
#include "support/ToolProcess.h"
#include "watch/WebHub.h"

using Qz::Varnel::Watch::CWebHub;
using Test::CTemporaryDirectory;
using Test::ReadFileOrEmpty;

namespace {

const std::string g_sChromium = "/usr/bin/chromium";

std::size_t Count(const std::string& text, const std::string& what)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

// Headless Chromium driven over the DevTools protocol on a pipe: commands go to its descriptor 3, answers
// come from its descriptor 4, each a JSON text ended by a NUL byte. Run as root it cannot use its sandbox.
class CBrowser
{
public:
    explicit CBrowser(const CTemporaryDirectory& directory)
    {
        for (const char* pipe : {"commands", "answers"})
            ::mkfifo((directory / pipe).c_str(), 0600);
        m_pProcess.reset(new ToolTest::CChildProcess(
            {"/bin/sh", "-c", "c=$1 a=$2; shift 2; exec \"$0\" \"$@\" 3<\"$c\" 4>\"$a\"", g_sChromium,
             directory / "commands", directory / "answers", "--headless", "--no-sandbox", "--disable-gpu",
             "--remote-debugging-pipe", "--window-size=1200,800", "--user-data-dir=" + directory / "profile",
             "about:blank"},
            "", directory / "chromium.out", directory / "chromium.err"));
        m_nCommands = ::open((directory / "commands").c_str(), O_WRONLY);
        m_nAnswers = ::open((directory / "answers").c_str(), O_RDONLY);
    }

    ~CBrowser()
    {
        ::close(m_nCommands);
        ::close(m_nAnswers);
    }

    // Sends one command and returns its answer; empty after 30 s without one.
    std::string Call(const std::string& method, const std::string& params, const std::string& session = "")
    {
        const std::string id = "\"id\":" + std::to_string(++m_nLastId) + ",";
        const std::string command = "{" + id + (session.empty() ? "" : "\"sessionId\":\"" + session + "\",") +
                                    "\"method\":\"" + method + "\",\"params\":" + params + "}";
        if (::write(m_nCommands, command.c_str(), command.size() + 1) != static_cast<ssize_t>(command.size() + 1))
            return "";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            const std::size_t end = m_sReceived.find('\0');
            const std::string message = m_sReceived.substr(0, end);
            if (end != std::string::npos) {
                m_sReceived.erase(0, end + 1);
                if (message.compare(0, id.size() + 1, "{" + id) == 0)
                    return message;
                continue; // an event
            }
            pollfd ready = {m_nAnswers, POLLIN, 0};
            char buffer[65536];
            const ssize_t count = ::poll(&ready, 1, 1000) > 0 ? ::read(m_nAnswers, buffer, sizeof(buffer)) : 0;
            if (count < 0 || (count == 0 && ready.revents))
                return "";
            m_sReceived.append(buffer, static_cast<std::size_t>(count));
        }
        return "";
    }

    // Opens a page in a tab of its own; returns the session that talks to it.
    std::string Open(const std::string& url)
    {
        const std::string target = Field(Call("Target.createTarget", "{\"url\":\"" + url + "\"}"), "targetId");
        return Field(Call("Target.attachToTarget", "{\"targetId\":\"" + target + "\",\"flatten\":true}"), "sessionId");
    }

    // The value of a script expression, as the JSON answer carries it.
    std::string Evaluate(const std::string& session, const std::string& expression)
    {
        return Call("Runtime.evaluate", "{\"expression\":\"" + expression + "\",\"returnByValue\":true}", session);
    }

    bool WaitUntil(const std::string& session, const std::string& expression, double seconds = 30.0)
    {
        return ::Test::WaitFor(seconds, [&] {
            if (Evaluate(session, expression).find("\"value\":true") != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            return false;
        });
    }

    static std::string Field(const std::string& answer, const std::string& name)
    {
        const std::size_t at = answer.find("\"" + name + "\":\"");
        if (at == std::string::npos)
            return "";
        const std::size_t begin = at + name.size() + 4;
        return answer.substr(begin, answer.find('"', begin) - begin);
    }

private:
    std::unique_ptr<ToolTest::CChildProcess> m_pProcess;
    int m_nCommands = -1;
    int m_nAnswers = -1;
    int m_nLastId = 0;
    std::string m_sReceived;
};

std::string DecodeBase64(const std::string& text)
{
    std::string bytes(boost::beast::detail::base64::decoded_size(text.size()), '\0');
    bytes.resize(boost::beast::detail::base64::decode(&bytes[0], text.data(), text.size()).first);
    return bytes;
}

// Every bar at 100 % and ended as the stream did.
const char g_sAllFinished[] = "document.querySelectorAll('.bar').length === 3 && "
                              "[...document.querySelectorAll('.bar')].every(b => b.querySelector('.percent')"
                              ".textContent === '100%' && b.classList.contains('finished'))";
const char g_sShownLiterally[] = "[...document.querySelectorAll('td.text')].some(td => td.textContent === "
                                 "'<script>alert(1)</script>') && !document.querySelector('#messages script')";
const char g_sWarningShown[] = "[...document.querySelectorAll('tr.level-WARNING')].some(tr => !tr.hidden)";
const char g_sOnlyErrorsShown[] = "document.querySelectorAll('tr.level-WARNING').length > 0 && "
                                  "[...document.querySelectorAll('tr.level-WARNING')].every(tr => tr.hidden) && "
                                  "[...document.querySelectorAll('tr.level-ERROR')].some(tr => !tr.hidden)";

} // namespace

// A browser that reads nothing is dropped, and costs nothing more; the one that reads gets every record;
// a reconnect resumes from the ring when it can and is given the whole state when it cannot.
TEST(WebHubTest, DropsTheClientThatFallsBehindAndResumesReconnects)
{
    Qz::Varnel::Watch::SWebHubLimits limits;
    limits.m_nMaxQueuedRecords = 100;
    CWebHub hub(limits);
    const unsigned long long stalled = hub.Subscribe(""), reader = hub.Subscribe("");
    std::string received;
    for (int n = 1; n <= 1000; ++n) {
        hub.PublishMessage("{\"n\":" + std::to_string(n) + "}");
        if (n % 50 == 0) {
            ASSERT_TRUE(hub.Take(reader, received));
        }
    }
    std::string none;
    EXPECT_FALSE(hub.Take(stalled, none));
    EXPECT_EQ(Count(received, "data: {\"n\":"), 1000u);
    EXPECT_NE(received.find("id: 1000\ndata: {\"n\":1000}\n\n"), std::string::npos);

    std::string resumed, state;
    hub.Take(hub.Subscribe("998"), resumed);
    EXPECT_EQ(resumed, "id: 999\ndata: {\"n\":999}\n\nid: 1000\ndata: {\"n\":1000}\n\n");
    hub.Take(hub.Subscribe("5"), state);
    EXPECT_EQ(state.find("data: {\"type\":\"reset\"}\n\n"), 0u);
    EXPECT_EQ(Count(state, "data: {\"n\":"), 500u);
}

TEST(WebDashboardTest, ShowsTheStreamsLiveInABrowser)
{
    if (::access(g_sChromium.c_str(), X_OK) != 0)
        GTEST_SKIP() << "no " << g_sChromium << " to open the dashboard in (apt-get install chromium)";
    CTemporaryDirectory directory;
    ToolTest::CChildProcess watcher(
        {VIDODERAVEV_WATCH_PATH, "--listen", "127.0.0.1:0", "--http", "127.0.0.1:0", "--plain"}, "",
        directory / "watch.out", directory / "watch.err");
    const auto portAfter = [&](const std::string& prefix) {
        return ToolTest::PortAfter(directory / "watch.err", prefix);
    };
    ASSERT_TRUE(::Test::WaitFor(10.0, [&] { return portAfter("dashboard at http://127.0.0.1:") > 0; }));
    const int listenPort = portAfter("listening on 127.0.0.1:");
    const std::string page = "http://127.0.0.1:" + std::to_string(portAfter("dashboard at http://127.0.0.1:")) + "/";

    CBrowser browser(directory);
    const std::string live = browser.Open(page);
    ASSERT_FALSE(live.empty()) << "Chromium did not answer over the DevTools pipe";
    ASSERT_TRUE(browser.WaitUntil(live, "document.getElementById('connection').textContent === 'live'"));

    // Two demos,
    std::vector<std::unique_ptr<ToolTest::CChildProcess>> demos;
    for (const char* duration : {"3", "4"})
        demos.emplace_back(new ToolTest::CChildProcess(
            {VIDODERAVEV_DEMO_PATH, "--net", "127.0.0.1:" + std::to_string(listenPort), "--duration", duration}, "",
            directory / (std::string("demo") + duration + ".out"), directory / "demo.err"));
    const std::string id = "<HOSTNAME>crafted</HOSTNAME>\n<PID>1</PID>\n";
    // and a stream whose message is markup, sent by bash over TCP.
    ToolTest::RunProcess({"/bin/bash", "-c", "cat > /dev/tcp/127.0.0.1/" + std::to_string(listenPort)},
                         "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n<LOG_STREAM>\n"
                         "<LOG>\n<TIME>2026-12-06 10:00:00</TIME>\n<TYPE>ERROR</TYPE>\n" +
                             id +
                             "<TID>7</TID>\n<TEXT>&lt;script&gt;alert(1)&lt;/script&gt;</TEXT>\n</LOG>\n\n"
                             "<PROGRESS>\n<TEXT>Crafted</TEXT>\n<PERCENTAGE>100</PERCENTAGE>\n" +
                             id +
                             "</PROGRESS>\n\n<PROGRESS>\n<PERCENTAGE>-1</PERCENTAGE>\n</PROGRESS>\n</LOG_STREAM>\n\n");
    for (const auto& demo : demos)
        EXPECT_EQ(demo->Wait(60.0), 0);

    EXPECT_TRUE(browser.WaitUntil(live, g_sAllFinished));
    EXPECT_TRUE(browser.WaitUntil(live, g_sWarningShown));
    EXPECT_TRUE(browser.WaitUntil(live, g_sShownLiterally)) << "markup not shown as text";
    const std::string png =
        DecodeBase64(CBrowser::Field(browser.Call("Page.captureScreenshot", "{\"format\":\"png\"}", live), "data"));
    EXPECT_EQ(png.compare(0, 4, "\x89PNG"), 0);
    const std::string artefact = std::string(VIDODERAVEV_TEST_ARTEFACT_DIR) + "/dashboard.png";
    ::Test::WriteTextFile(artefact, png);
    std::cout << "[ artefact ] screenshot of the dashboard: " << artefact << std::endl;

    // A page opened late is given the state and the latest messages; its filter comes from the address.
    const std::string late = browser.Open(page + "?level=ERROR");
    EXPECT_TRUE(browser.WaitUntil(late, g_sAllFinished));
    EXPECT_TRUE(browser.WaitUntil(late, g_sOnlyErrorsShown));

    watcher.Signal(SIGTERM);
    EXPECT_EQ(watcher.Wait(30.0), 0);
}
