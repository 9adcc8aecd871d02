// Ports that are network addresses, against the simulated device's TCP
// server and against scripted telnet servers played by the test: the name
// forms, each failure of an Open with its reason and bounded time, a
// connection that drops, and the RFC 2217 data stream (doubled 0xFF bytes,
// telnet commands inside a frame, the purge answered in band).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "hex.h"
#include "qx480ddg.h"
#include "ser2net.h"
#include "status_of.h"
#include "tcp_device_server.h"

namespace {

using qx480::test::Bytes;
using qx480::test::Hex;
using qx480::test::StatusOf;
using Clock = std::chrono::steady_clock;

constexpr int BAUD = 115200;
constexpr int OPEN_LIMIT_MS = 3000;
constexpr int PEER_WAIT_MS = 5000;

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Exactly `count` bytes from `fd`, or fewer when the peer closed or PEER_WAIT_MS passed.
Bytes ReadExactly(int fd, std::size_t count) {
    Bytes bytes(count);
    std::size_t got = 0;
    while (got < count) {
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, PEER_WAIT_MS) <= 0) break;
        const ssize_t n = read(fd, bytes.data() + got, count - got);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return bytes;
}

void WriteAll(int fd, const Bytes& bytes) {
    ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

// A TCP server on 127.0.0.1 that plays `script` with its first client, on a thread of its own.
class ScriptedServer {
public:
    explicit ScriptedServer(std::function<void(int client)> script) {
        m_listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(m_listener, 1);
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this, script] {
            pollfd entry{m_listener, POLLIN, 0};
            if (poll(&entry, 1, PEER_WAIT_MS) <= 0) return;
            const int client = accept(m_listener, nullptr, nullptr);
            if (client < 0) return;
            script(client);
            close(client);
        });
    }
    ~ScriptedServer() {
        m_thread.join();
        close(m_listener);
    }
    std::string Url(const char* scheme) const { return std::string(scheme) + "://127.0.0.1:" + std::to_string(m_port); }

private:
    int m_listener = -1;
    std::uint16_t m_port = 0;
    std::thread m_thread;
};

// What a client opening rfc2217:// at 115200 8N1 sends: its greeting, then the four settings.
const Bytes CLIENT_GREETING = Hex("FF FB 00 FF FD 00 FF FB 2C");
const Bytes CLIENT_SETTINGS =
    Hex("FF FA 2C 01 00 01 C2 00 FF F0 FF FA 2C 02 08 FF F0 FF FA 2C 03 01 FF F0 FF FA 2C 04 01 FF F0");
const Bytes SERVER_AGREES = Hex("FF FD 00 FF FB 00 FF FD 2C");
const Bytes PURGE_RECEIVE = Hex("FF FA 2C 0C 01 FF F0");

// Plays an RFC 2217 server up to the settings, answering the rate with `baudAnswer`.
void Negotiate(int client, const Bytes& baudAnswer) {
    WriteAll(client, SERVER_AGREES);
    EXPECT_EQ(ReadExactly(client, CLIENT_GREETING.size()), CLIENT_GREETING);
    EXPECT_EQ(ReadExactly(client, CLIENT_SETTINGS.size()), CLIENT_SETTINGS);
    Bytes answers = Hex("FF FA 2C 65");
    answers.insert(answers.end(), baudAnswer.begin(), baudAnswer.end());
    const Bytes rest = Hex("FF F0 FF FA 2C 66 08 FF F0 FF FA 2C 67 01 FF F0 FF FA 2C 68 01 FF F0");
    answers.insert(answers.end(), rest.begin(), rest.end());
    WriteAll(client, answers);
}

// Waits until the client closes its end.
void AwaitClose(int client) {
    while (!ReadExactly(client, 1).empty()) {
    }
}

QX480Status OpenStatus(QX480DDG& dev, const std::string& name) {
    QX480Outcome outcome;
    dev.Open(name.c_str(), BAUD, outcome);
    return outcome.status;
}

TEST(NetworkPort, MalformedAddressesAreRefusedBeforeAnyConnection) {
    for (const char* name : {"socket://", "socket://host", "socket://host:", "socket://:4000", "socket://host:0",
                             "socket://host:65536", "socket://host:40x", "socket://ho st:4000", "rfc2217://::1:4000",
                             "rfc2217://[::1:4000", "rfc2217://[::1]4000", "rfc2217://[zz]:4000", "socket://h:4000/"}) {
        QX480DDG dev;
        EXPECT_EQ(OpenStatus(dev, name), QX480Status::BadArgument) << name;
        EXPECT_FALSE(dev.IsOpen()) << name;
    }
}

TEST(NetworkPort, EveryFormOfTheHostReachesTheDevice) {
    qx480::sim::TcpDeviceServer v4;
    qx480::sim::TcpDeviceServer v6;
    ASSERT_TRUE(v4.Start("127.0.0.1", 0)) << v4.Error();
    const std::string port = std::to_string(v4.Port());
    std::vector<std::string> names{v4.Url(), "socket://localhost:" + port, "SOCKET://127.0.0.1:" + port};
    if (v6.Start("::1", 0)) names.push_back(v6.Url());  // a machine without IPv6 loopback skips that form
    for (const std::string& name : names) {
        QX480DDG dev;
        ASSERT_TRUE(dev.Open(name.c_str(), BAUD)) << name;
        float celsius = 0;
        EXPECT_TRUE(dev.ReadTemperature(&celsius)) << name;
    }
    QX480DDG wide;
    const std::wstring wideName(names[0].begin(), names[0].end());
    ASSERT_TRUE(wide.Open(wideName.c_str(), BAUD));
    EXPECT_TRUE(wide.SoftwareTrigger());
    EXPECT_EQ(v4.State().softwareTriggers, 1u);
}

TEST(NetworkPort, ARefusedConnectionAndAnUnknownHostSaySoWithinTheOpenLimit) {
    QX480DDG dev;
    auto start = Clock::now();
    EXPECT_EQ(OpenStatus(dev, "socket://127.0.0.1:" + std::to_string(qx480::test::FreeLoopbackPort())),
              QX480Status::ConnectionRefused);
    EXPECT_LT(MillisecondsSince(start), 1000) << "a refusal is known at once";
    start = Clock::now();
    EXPECT_EQ(OpenStatus(dev, "rfc2217://no-such-host.invalid:4000"), QX480Status::UnknownHost);
    EXPECT_LT(MillisecondsSince(start), OPEN_LIMIT_MS + 500);
    EXPECT_FALSE(dev.IsOpen());
}

TEST(NetworkPort, AServerThatTurnsASecondClientAwayIsReportedWithItsWords) {
    qx480::sim::TcpDeviceServer sim;
    ASSERT_TRUE(sim.Start("127.0.0.1", 0));
    QX480DDG first;
    ASSERT_TRUE(first.Open(sim.Url().c_str(), BAUD));
    QX480DDG second;
    EXPECT_EQ(OpenStatus(second, sim.Url()), QX480Status::ServerClosed);
    EXPECT_STREQ(second.Port().OpenFailureDetail(), "Port already in use");
    EXPECT_TRUE(first.SoftwareTrigger()) << "the first client is still served";
}

TEST(NetworkPort, ADroppedConnectionFailsTheCallAtOnceAndALaterOpenConnectsAgain) {
    qx480::sim::Options options;
    options.faults.hangUpAfter = 1;
    qx480::sim::TcpDeviceServer sim(options);
    ASSERT_TRUE(sim.Start("127.0.0.1", 0));
    QX480DDG dev;
    ASSERT_TRUE(dev.Open(sim.Url().c_str(), BAUD));
    EXPECT_TRUE(dev.SoftwareTrigger());
    const auto start = Clock::now();
    QX480Status status = QX480Status::Accepted;
    // The first write after the close may still be taken by the system; the answer never comes.
    for (int i = 0; i < 3 && status != QX480Status::PortFailed; ++i) {
        status = StatusOf([&](QX480Outcome& o) { return dev.SoftwareTrigger(o); });
    }
    EXPECT_EQ(status, QX480Status::PortFailed);
    EXPECT_LT(MillisecondsSince(start), 500) << "a dropped connection is an error, not a silence";
    EXPECT_TRUE(dev.IsOpen());
    ASSERT_TRUE(dev.Open(sim.Url().c_str(), BAUD));
    EXPECT_TRUE(dev.SoftwareTrigger());
}

TEST(NetworkPort, WritingToAPeerThatIsGoneFailsWithoutASignal) {
    ScriptedServer server([](int) {});  // accepts and closes at once
    SerialPort port;
    SerialOpenError why;
    // The raw Open sees the close within its verdict time or the writes see it.
    if (!port.Open(server.Url("socket").c_str(), BAUD, 8, StopBits::One, Parity::None, why)) {
        EXPECT_EQ(why, SerialOpenError::ServerClosed);
        return;
    }
    const Bytes bytes(1024, 0x55);
    int result = 0;
    for (int i = 0; i < 100 && result >= 0; ++i) result = port.Write(bytes.data(), static_cast<int>(bytes.size()), 100);
    EXPECT_EQ(result, -1) << "the process is still here: no SIGPIPE";
}

TEST(NetworkPortRfc2217, AServerThatNeverAnswersTheNegotiationFailsTheOpenAtItsLimit) {
    ScriptedServer server(AwaitClose);
    QX480DDG dev;
    const auto start = Clock::now();
    EXPECT_EQ(OpenStatus(dev, server.Url("rfc2217")), QX480Status::NoNegotiation);
    const long long took = MillisecondsSince(start);
    EXPECT_GE(took, OPEN_LIMIT_MS - 100);
    EXPECT_LT(took, OPEN_LIMIT_MS + 500);
    EXPECT_STREQ(dev.Port().OpenFailureDetail(), "no answer to the telnet negotiation");
}

TEST(NetworkPortRfc2217, ASettingTheServerDoesNotKeepFailsTheOpenNamingWhatItSet) {
    ScriptedServer server([](int client) {
        Negotiate(client, Hex("00 00 25 80"));
        AwaitClose(client);
    });
    QX480DDG dev;
    EXPECT_EQ(OpenStatus(dev, server.Url("rfc2217")), QX480Status::PortSettings);
    EXPECT_STREQ(dev.Port().OpenFailureDetail(), "the server set 9600 baud for 115200 baud");
    EXPECT_FALSE(dev.IsOpen());
}

TEST(NetworkPortRfc2217, FramesWithFFAndTelnetCommandsInsideThemGetThroughAndThePurgeIsAnsweredInBand) {
    // The request carries FF bytes, which go on the wire doubled; the device answers with the same frame.
    const Bytes parameters = Hex("FF 01 FF FF");
    Bytes frame;
    QX480DDG::BuildFrame(0x93, 0x0001, parameters.data(), static_cast<int>(parameters.size()), frame);
    Bytes onWire;
    for (std::uint8_t b : frame) {
        onWire.push_back(b);
        if (b == 0xFF) onWire.push_back(0xFF);
    }
    ASSERT_EQ(onWire.size(), frame.size() + 3);
    // The answer with a modem-state notice after the first doubled FF and a NOP after the command code.
    Bytes answer = onWire;
    const Bytes notice = Hex("FF FA 2C 6B 30 FF F0");
    const Bytes nop = Hex("FF F1");
    answer.insert(answer.begin() + 9, notice.begin(), notice.end());
    answer.insert(answer.begin() + 5, nop.begin(), nop.end());
    ScriptedServer server([&](int client) {
        Negotiate(client, Hex("00 01 C2 00"));
        EXPECT_EQ(ReadExactly(client, PURGE_RECEIVE.size()), PURGE_RECEIVE);
        WriteAll(client, Hex("EB 90 0A 00 93 FF FA 2C 70 01 FF F0"));  // stale bytes, then the purge's answer
        EXPECT_EQ(ReadExactly(client, onWire.size()), onWire);
        WriteAll(client, Bytes(answer.begin(), answer.begin() + 6));  // cut inside the NOP
        WriteAll(client, Bytes(answer.begin() + 6, answer.end()));
        AwaitClose(client);
    });
    QX480DDG dev;
    ASSERT_TRUE(dev.Open(server.Url("rfc2217").c_str(), BAUD));
    QX480Frame out{};
    EXPECT_TRUE(dev.SendFrame(0x93, 0x0001, parameters.data(), static_cast<int>(parameters.size()), &out, 1000));
    EXPECT_TRUE(out.valid);
    EXPECT_EQ(out.pa, parameters);
    dev.Close();
}

}  // namespace
