#include "ser2net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "wait_until.h"

namespace qx480 {
namespace test {
namespace {

constexpr auto LISTEN_LIMIT = std::chrono::seconds(10);
constexpr unsigned TCP_LISTEN_STATE = 0x0A;
constexpr int LINE_RATE = 115200;

// The local ports in LISTEN state that /proc/net/tcp shows.
std::set<unsigned> ListeningPorts() {
    std::ifstream table("/proc/net/tcp");
    std::set<unsigned> ports;
    std::string line;
    std::getline(table, line);  // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        const std::size_t colon = local.find(':');
        if (colon == std::string::npos) continue;
        if (std::stoul(state, nullptr, 16) == TCP_LISTEN_STATE) {
            ports.insert(static_cast<unsigned>(std::stoul(local.substr(colon + 1), nullptr, 16)));
        }
    }
    return ports;
}

std::string Yaml(const std::string& device, std::uint16_t rawPort, std::uint16_t rfc2217Port, bool charDelay) {
    const std::string connector = "  connector: serialdev," + device + "," + std::to_string(LINE_RATE) + "n81,local\n" +
                                  (charDelay ? "" : "  options:\n    chardelay: false\n");
    return "connection: &raw\n  accepter: tcp,127.0.0.1," + std::to_string(rawPort) + "\n" + connector +
           "connection: &rfc2217\n  accepter: telnet(rfc2217),tcp,127.0.0.1," + std::to_string(rfc2217Port) + "\n" +
           connector;
}

}  // namespace

std::uint16_t FreeLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    std::uint16_t port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        port = ntohs(address.sin_port);
    }
    if (fd >= 0) close(fd);
    return port;
}

bool HaveSer2net() { return std::system("command -v ser2net >/dev/null 2>&1") == 0; }

Ser2net::~Ser2net() {
    Stop(SIGTERM);
    if (!m_folder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
}

bool Ser2net::Start(const std::string& device, bool charDelay) {
    char folder[] = "/tmp/qx480-ser2net.XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        m_error = "no temporary folder";
        return false;
    }
    m_folder = folder;
    // Another program may take a port before ser2net does: Start then fails rather than test the wrong server.
    m_rawPort = FreeLoopbackPort();
    do {
        m_rfc2217Port = FreeLoopbackPort();
    } while (m_rfc2217Port == m_rawPort);
    const std::string config = m_folder + "/ser2net.yaml";
    std::ofstream(config) << Yaml(device, m_rawPort, m_rfc2217Port, charDelay);
    const std::string log = m_folder + "/ser2net.log";

    m_pid = fork();
    if (m_pid == 0) {
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        execlp("ser2net", "ser2net", "-n", "-d", "-c", config.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (m_pid < 0) {
        m_error = "cannot start ser2net";
        return false;
    }
    const bool listening = WaitUntil(
        [this] {
            const std::set<unsigned> ports = ListeningPorts();
            return ports.count(m_rawPort) != 0 && ports.count(m_rfc2217Port) != 0;
        },
        LISTEN_LIMIT);
    if (!listening) m_error = "ser2net did not listen on its ports (see " + log + ")";
    return listening;
}

std::string Ser2net::RawUrl() const { return "socket://127.0.0.1:" + std::to_string(m_rawPort); }

std::string Ser2net::Rfc2217Url() const { return "rfc2217://127.0.0.1:" + std::to_string(m_rfc2217Port); }

void Ser2net::Kill() { Stop(SIGKILL); }

void Ser2net::Stop(int signal) {
    if (m_pid <= 0) return;
    kill(m_pid, signal);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

}  // namespace test
}  // namespace qx480
