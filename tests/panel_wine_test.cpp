// qx480.exe panel under Wine: it serves the state of the simulated device
// behind the harness's COM port over a Winsock loopback socket.
#include <gtest/gtest.h>
#include <windows.h>
#include <winsock2.h>

#include <nlohmann/json.hpp>
#include <string>

#include "panel_http.h"
#include "tool_wine_port.h"

namespace {

// qx480.exe, which lies beside this test program.
std::string ToolProgram() {
    char self[MAX_PATH];
    const DWORD size = GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string path(self, size);
    return path.substr(0, path.find_last_of("\\/") + 1) + "qx480.exe";
}

// A program whose standard output this test reads; ended when it goes.
class Child {
public:
    explicit Child(std::string commandLine) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE write = nullptr;
        if (!CreatePipe(&m_read, &write, &inherit, 0)) return;
        SetHandleInformation(m_read, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = write;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        m_started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                   &m_process) != 0;
        CloseHandle(write);
    }
    ~Child() {
        if (m_started) {
            TerminateProcess(m_process.hProcess, 0);
            WaitForSingleObject(m_process.hProcess, INFINITE);
            CloseHandle(m_process.hProcess);
            CloseHandle(m_process.hThread);
        }
        if (m_read != nullptr) CloseHandle(m_read);
    }

    bool Started() const { return m_started; }

    // The next line it prints, without "\r\n"; empty once it ended.
    std::string Line() {
        std::string line;
        char c;
        DWORD got = 0;
        while (ReadFile(m_read, &c, 1, &got, nullptr) && got == 1 && c != '\n') line += c;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
    }

private:
    HANDLE m_read = nullptr;
    PROCESS_INFORMATION m_process{};
    bool m_started = false;
};

TEST(PanelOnWindows, ServesTheDevicesStateOverLoopback) {
    const std::string port = tooltest::HarnessPort();
    ASSERT_FALSE(port.empty()) << "run under scripts/wine-harness with a qx480-sim far end";
    WSADATA wsa;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);

    Child panel("\"" + ToolProgram() + "\" --port " + port + " --listen 127.0.0.1:0 panel");
    ASSERT_TRUE(panel.Started());
    const std::string url = panel.Line();
    ASSERT_EQ(url.compare(0, 17, "http://127.0.0.1:"), 0) << url;
    const auto listen = static_cast<unsigned short>(std::stoi(url.substr(17)));

    const paneltest::HttpResponse state = paneltest::Send(listen, "GET", "/api/state", paneltest::HostHeader(listen));
    ASSERT_EQ(state.status, 200) << state.head;
    const nlohmann::json s = nlohmann::json::parse(state.body, nullptr, false);
    EXPECT_EQ(s["temperature_c"], 29.59375) << state.body;
    EXPECT_EQ(s["channels"].size(), 8u);
    EXPECT_EQ(paneltest::Send(listen, "GET", "/api/state", "Host: evil.example\r\n").status, 403);
    WSACleanup();
}

}  // namespace
