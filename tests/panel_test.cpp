// The panel over plain HTTP against the simulated device: what each path
// does, and that every request the safety rules refuse reaches nothing of
// the device. The server runs in-process on a free loopback port; the
// token test runs the qx480 program itself on every address.
#include "panel.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>

#include "panel_http.h"
#include "panel_server.h"
#include "qx480_tool.h"
#include "qx480ddg.h"
#include "simulated_device.h"

extern char** environ;

namespace {

using nlohmann::json;
using paneltest::HostHeader;
using paneltest::HttpResponse;
using paneltest::JsonPost;
using paneltest::Send;
using paneltest::SendRaw;
using qx480::tool::Panel;
using qx480::tool::PanelAccess;
using qx480::tool::PanelServer;

constexpr std::uint8_t SET_GLOBAL_OUTPUT = 0x07;
constexpr std::uint8_t SET_DELAY = 0x08;

json Body(const HttpResponse& r) { return json::parse(r.body, nullptr, false); }

class PanelOverHttp : public testing::Test {
protected:
    void SetUp() override { Serve(""); }

    // Serves the panel with `token` (empty: none) on a free loopback port.
    void Serve(const std::string& token) {
        ASSERT_TRUE(sim.Start()) << sim.Error();
        ASSERT_TRUE(device.Open(sim.Path().c_str(), 115200));
        std::string error;
        server = PanelServer::Listen("127.0.0.1", 0, error);
        ASSERT_TRUE(server) << error;
        port = server->Port();
        PanelAccess access;
        access.hosts = {server->HostAndPort(), "localhost:" + std::to_string(port)};
        access.token = token;
        panel = std::make_unique<Panel>(device, sim.Path(), access);
        serving = std::thread([this] { server->Serve(*panel, false); });
    }

    void TearDown() override {
        if (server) server->Stop();
        if (serving.joinable()) serving.join();
    }

    HttpResponse Get(const std::string& target) { return Send(port, "GET", target, HostHeader(port)); }
    HttpResponse Post(const std::string& target, const std::string& body) {
        return Send(port, "POST", target, JsonPost(port), body);
    }

    qx480::sim::SimulatedDevice sim;
    QX480DDG device;
    std::unique_ptr<PanelServer> server;
    std::unique_ptr<Panel> panel;
    std::thread serving;
    unsigned short port = 0;
};

TEST_F(PanelOverHttp, ThePageIsServedWithoutTouchingTheDevice) {
    const HttpResponse page = Get("/");
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.head.find("Content-Type: text/html"), std::string::npos) << page.head;
    EXPECT_NE(page.head.find("Content-Security-Policy: default-src 'none'"), std::string::npos) << page.head;
    for (const char* id : {"id=\"send\"", "id=\"fire\"", "id=\"temperature\"", "id=\"message\"", "id=\"diagram\"",
                           "id=\"trigger\"", "id=\"rate\"", "id=\"output\""}) {
        EXPECT_NE(page.body.find(id), std::string::npos) << id;
    }
    EXPECT_EQ(page.body.find("http"), page.body.find("http://www.w3.org/2000/svg")) << "nothing fetched from elsewhere";
    EXPECT_EQ(sim.RequestCount(), 0u);
}

TEST_F(PanelOverHttp, StateShowsWhatTheDeviceReportsAndWhatItCannotAsUnknown) {
    qx480::sim::DeviceState state = sim.State();
    state.block.channels[1].delay = 150000;  // 1.5 us
    state.block.channels[1].width = 1;
    sim.SetState(state);
    const HttpResponse r = Get("/api/state");
    ASSERT_EQ(r.status, 200) << r.body;
    const json s = Body(r);
    EXPECT_EQ(s["temperature_c"], 29.59375);
    EXPECT_EQ(s["output"], nullptr);
    EXPECT_EQ(s["trigger"]["source"], nullptr);
    EXPECT_EQ(s["trigger"]["ticks"], state.block.triggerTicks);
    ASSERT_EQ(s["channels"].size(), 8u);
    EXPECT_EQ(s["channels"][1]["delay"], "1.5 us");
    EXPECT_EQ(s["channels"][1]["delay_counts"], 150000);
    EXPECT_EQ(s["channels"][1]["width"], "10 ps");
    EXPECT_EQ(s["channels"][1]["on"], nullptr);
    EXPECT_EQ(s["diagram"]["pulses"][0], nullptr);
    EXPECT_TRUE(s["diagram"]["pulses"][1].is_object());
}

TEST_F(PanelOverHttp, ApplyChecksSendsInApplysOrderAndRemembersWhatTheDeviceCannotReport) {
    const HttpResponse r = Post("/api/apply", R"({"qx480_setup": 1, "output": true, "trigger": {"source": "external"},
                              "channels": {"3": {"delay": "10ns", "on": true}}})");
    ASSERT_EQ(r.status, 200) << r.body;
    EXPECT_EQ(Body(r)["lines"].back(), "applied setup");
    EXPECT_EQ(sim.State().block.channels[2].delay, 1000u);
    const auto requests = sim.Requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests.front()[4], SET_GLOBAL_OUTPUT);  // the output off first, on last
    EXPECT_EQ(requests.front()[5], 0);
    EXPECT_EQ(requests.back()[4], SET_GLOBAL_OUTPUT);
    EXPECT_EQ(requests.back()[5], 1);

    const json s = Body(Get("/api/state"));
    EXPECT_EQ(s["output"], true);
    EXPECT_EQ(s["trigger"]["source"], "external");
    EXPECT_EQ(s["channels"][2]["on"], true);
    EXPECT_EQ(s["channels"][3]["on"], nullptr);
}

TEST_F(PanelOverHttp, ABadDocumentIsRefusedWithItsOneLineAndNothingIsSent) {
    const HttpResponse r =
        Post("/api/apply", R"({"qx480_setup": 1, "channels": {"1": {"delay": "1us"}, "2": {"delay": "5ps"}}})");
    EXPECT_EQ(r.status, 400);
    EXPECT_EQ(Body(r)["message"],
              "setup: channels.2.delay: '5ps' is not a whole number of 10 ps steps: the nearest are 0ns and 10ps");
    EXPECT_EQ(Body(r)["error"], "usage");
    EXPECT_EQ(Post("/api/apply", "{not json").status, 400);
    EXPECT_EQ(sim.RequestCount(), 0u);
}

TEST_F(PanelOverHttp, ADeviceFailureGivesItsKindAndLine) {
    qx480::sim::Faults faults;
    faults.dropEvery = 1;
    ASSERT_TRUE(sim.SetFaults(faults));
    const HttpResponse r = Post("/api/fire", "{}");
    EXPECT_EQ(r.status, 502);
    EXPECT_EQ(Body(r)["error"], "no_answer");
    EXPECT_EQ(Body(r)["message"], "no answer from " + sim.Path() +
                                      " within 1000 ms to the software trigger: is the device on, on this port, at "
                                      "this baud rate?");
}

TEST_F(PanelOverHttp, SetupIsWhatSaveWritesAndDiffComparesWithTheDevice) {
    ASSERT_EQ(Post("/api/apply", R"({"qx480_setup": 1, "channels": {"4": {"width": "2.5us"}}})").status, 200);
    const HttpResponse saved = Get("/api/setup");
    ASSERT_EQ(saved.status, 200);
    EXPECT_EQ(Body(saved)["channels"]["4"]["width"], "2.5us");

    EXPECT_EQ(Body(Post("/api/diff", saved.body))["ok"], true);
    const HttpResponse differs = Post("/api/diff", R"({"qx480_setup": 1, "channels": {"4": {"width": "2us"}}})");
    EXPECT_EQ(differs.status, 200);
    EXPECT_EQ(Body(differs)["error"], "mismatch");
    EXPECT_EQ(Body(differs)["message"], "channel 4 width: setup has 2 us, device reports 2.5 us");
}

TEST_F(PanelOverHttp, FireFiresOnce) {
    const HttpResponse r = Post("/api/fire", "{}");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(Body(r)["lines"], json::array({"fired"}));
    EXPECT_EQ(sim.RequestCount(), 1u);
}

// ---- Refused requests: the device receives nothing ----

TEST_F(PanelOverHttp, AWrongOrMissingHostIsRefused) {
    const std::string apply = R"({"qx480_setup": 1, "output": true})";
    for (const std::string& host : {"Host: evil.example:" + std::to_string(port) + "\r\n",
                                    "Host: 127.0.0.1:" + std::to_string(port + 1) + "\r\n", std::string()}) {
        EXPECT_EQ(Send(port, "GET", "/api/state", host).status, 403) << host;
        EXPECT_EQ(Send(port, "POST", "/api/apply", host + "Content-Type: application/json\r\n", apply).status, 403);
    }
    EXPECT_EQ(
        SendRaw(port, "GET /api/state HTTP/1.1\r\n" + HostHeader(port) + HostHeader(port) + "Connection: close\r\n\r\n")
            .status,
        400);
    EXPECT_EQ(sim.RequestCount(), 0u);
    EXPECT_EQ(Send(port, "GET", "/api/state", "Host: LOCALHOST:" + std::to_string(port) + "\r\n").status, 200);
}

TEST_F(PanelOverHttp, ACrossSiteRequestIsRefused) {
    const std::string type = "Content-Type: application/json\r\n";
    for (const char* origin : {"http://evil.example", "null", "http://127.0.0.1:1"}) {
        const std::string headers = HostHeader(port) + type + "Origin: " + origin + "\r\n";
        EXPECT_EQ(Send(port, "POST", "/api/fire", headers, "{}").status, 403) << origin;
        EXPECT_EQ(Send(port, "POST", "/api/apply", headers, R"({"qx480_setup": 1, "output": true})").status, 403);
    }
    // What a cross-site form can send without asking: a plain text body.
    EXPECT_EQ(Send(port, "POST", "/api/fire", HostHeader(port) + "Content-Type: text/plain\r\n", "{}").status, 415);
    EXPECT_EQ(Send(port, "POST", "/api/fire", HostHeader(port), "{}").status, 415);
    EXPECT_EQ(sim.RequestCount(), 0u);
    EXPECT_EQ(
        Send(port, "POST", "/api/fire", HostHeader(port) + "Content-Type: Application/JSON; charset=utf-8\r\n", "{}")
            .status,
        200);
}

TEST_F(PanelOverHttp, ABodyOver64KiBIsRefusedUnread) {
    const std::string head = "POST /api/apply HTTP/1.1\r\n" + JsonPost(port) + "Connection: close\r\n";
    const HttpResponse tooLarge = SendRaw(port, head + "Content-Length: 65537\r\n\r\n");
    EXPECT_EQ(tooLarge.status, 413);
    EXPECT_EQ(Body(tooLarge)["error"], "too_large");
    const HttpResponse chunked =
        SendRaw(port, head + "Transfer-Encoding: chunked\r\n\r\n10001\r\n" + std::string(65537, ' ') + "\r\n0\r\n\r\n");
    EXPECT_EQ(chunked.status, 413);
    EXPECT_EQ(sim.RequestCount(), 0u);

    std::string largest = R"({"qx480_setup": 1, "output": true})";
    largest += std::string(qx480::tool::MAX_PANEL_BODY - largest.size(), ' ');
    EXPECT_EQ(Post("/api/apply", largest).status, 200);
    EXPECT_EQ(sim.RequestCount(), 1u);
}

TEST_F(PanelOverHttp, OnlyTheListedPathsExist) {
    for (const char* path : {"/api/secret", "/index.html", "/../etc/passwd", "/api/state/", "/favicon.ico"}) {
        EXPECT_EQ(Get(path).status, 404) << path;
    }
    const HttpResponse wrongMethod = Get("/api/apply");
    EXPECT_EQ(wrongMethod.status, 405);
    EXPECT_NE(wrongMethod.head.find("Allow: POST"), std::string::npos) << wrongMethod.head;
    EXPECT_EQ(Post("/api/state", "{}").status, 405);
    EXPECT_EQ(Send(port, "DELETE", "/", HostHeader(port)).status, 405);
    EXPECT_EQ(sim.RequestCount(), 0u);
}

class PanelWithToken : public PanelOverHttp {
protected:
    void SetUp() override { Serve("s3cret-token"); }
};

TEST_F(PanelWithToken, EveryRequestNeedsTheToken) {
    EXPECT_EQ(Get("/").status, 401);
    EXPECT_EQ(Get("/api/state?token=s3cret-tokeN").status, 401);
    EXPECT_EQ(Send(port, "GET", "/api/state", HostHeader(port) + "Authorization: Bearer wrong\r\n").status, 401);
    EXPECT_EQ(Post("/api/fire", "{}").status, 401);
    EXPECT_EQ(sim.RequestCount(), 0u);
    EXPECT_EQ(Get("/?token=s3cret-token").status, 200);
    EXPECT_EQ(Send(port, "POST", "/api/fire?token=s3cret-token", JsonPost(port), "{}").status, 200);
    EXPECT_EQ(Send(port, "GET", "/api/state", HostHeader(port) + "Authorization: Bearer s3cret-token\r\n").status, 200);
}

// ---- The program ----

// qx480 panel as a child process, its standard output read through a pipe.
class PanelProgram {
public:
    explicit PanelProgram(std::vector<std::string> args) {
        int ends[2];
        if (pipe(ends) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, ends[0]);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        args.insert(args.begin(), QX480_TOOL_PROGRAM);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, QX480_TOOL_PROGRAM, &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(ends[1]);
        m_out = fdopen(ends[0], "r");
    }
    ~PanelProgram() {
        if (m_pid > 0) Stop();
        if (m_out != nullptr) fclose(m_out);
    }

    // The next line it prints, without its end; empty once it ended.
    std::string Line() {
        char buffer[1024];
        if (m_out == nullptr || std::fgets(buffer, sizeof buffer, m_out) == nullptr) return "";
        std::string line = buffer;
        if (!line.empty() && line.back() == '\n') line.pop_back();
        return line;
    }

    // Interrupts it; its exit status, -1 when a signal ended it.
    int Stop() {
        int status = 0;
        kill(m_pid, SIGINT);
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t m_pid = -1;
    FILE* m_out = nullptr;
};

// The port of "http://HOST:PORT/..."; 0 for none.
unsigned short UrlPort(const std::string& url) {
    const std::size_t colon = url.find(':', 7);
    return colon == std::string::npos ? 0 : static_cast<unsigned short>(std::atoi(url.c_str() + colon + 1));
}

TEST(PanelProgramTest, OnEveryAddressItMakesUpATokenAndRefusesRequestsWithoutIt) {
    qx480::sim::SimulatedDevice sim;
    ASSERT_TRUE(sim.Start()) << sim.Error();
    PanelProgram program({"--port", sim.Path(), "--listen", "0.0.0.0:0", "panel"});
    const std::string url = program.Line();
    const std::size_t token = url.find("/?token=");
    ASSERT_NE(token, std::string::npos) << url;
    EXPECT_EQ(url.size() - token - 8, 32u) << url;
    const unsigned short port = UrlPort(url);
    const std::string host = "Host: localhost:" + std::to_string(port) + "\r\n";
    EXPECT_EQ(Send(port, "GET", "/api/state", host).status, 401);
    EXPECT_EQ(Send(port, "GET", "/", host).status, 401);
    EXPECT_EQ(sim.RequestCount(), 0u);
    EXPECT_EQ(Send(port, "GET", url.substr(token).replace(1, 0, "api/state"), host).status, 200);
    EXPECT_EQ(program.Stop(), 0);
}

TEST(PanelProgramTest, OnLoopbackItNeedsNoTokenAndAnswersToItsAddress) {
    qx480::sim::SimulatedDevice sim;
    ASSERT_TRUE(sim.Start()) << sim.Error();
    PanelProgram program({"--port", sim.Path(), "--listen", "127.0.0.1:0", "panel"});
    const std::string url = program.Line();
    ASSERT_EQ(url.compare(0, 17, "http://127.0.0.1:"), 0) << url;
    EXPECT_EQ(url.back(), '/');
    EXPECT_EQ(Send(UrlPort(url), "GET", "/api/state", HostHeader(UrlPort(url))).status, 200);
    EXPECT_EQ(program.Stop(), 0);
}

TEST(PanelProgramTest, ListenAndTokenBelongToThePanel) {
    std::ostringstream out, err;
    EXPECT_EQ(qx480::tool::RunQx480({"--port", "/dev/null", "--listen", "127.0.0.1:0", "temp"}, "", out, err), 2);
    EXPECT_EQ(err.str(), "--listen is for qx480 panel alone\n");
}

TEST(PanelProgramTest, BadListenAddressesAndTokensAreUsageErrors) {
    qx480::sim::SimulatedDevice sim;
    ASSERT_TRUE(sim.Start()) << sim.Error();
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{{"--listen", "8480"},
                                                                                      {"--listen", "127.0.0.1:65536"},
                                                                                      {"--listen", "example.com:80"},
                                                                                      {"--token", "short"},
                                                                                      {"--token", "has space in it"}}) {
        std::vector<std::string> line{"--port", sim.Path()};
        line.insert(line.end(), args.begin(), args.end());
        line.push_back("panel");
        PanelProgram program(line);
        EXPECT_EQ(program.Line(), "") << args[1];
        EXPECT_EQ(program.Stop(), 2) << args[1];
    }
    EXPECT_EQ(sim.RequestCount(), 0u);
}

}  // namespace
