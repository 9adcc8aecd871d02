// A ser2net process in front of a serial device, for the tests and the
// benchmark (Linux only: it waits by reading /proc/net/tcp, since a probing
// connect would make ser2net open the device). It runs with a YAML file of
// its own in a temporary folder, one raw TCP and one telnet (RFC 2217)
// accepter on free loopback ports, and is stopped with the object.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace qx480 {
namespace test {

class Ser2net {
public:
    Ser2net() = default;
    ~Ser2net();
    Ser2net(const Ser2net&) = delete;
    Ser2net& operator=(const Ser2net&) = delete;

    // Starts ser2net on `device` and waits until both accepters listen.
    // Without `charDelay` ser2net sends what the device wrote at once instead
    // of waiting for the line to go quiet (its chardelay option, on by
    // default). False, with Error() set, when it cannot be started or does
    // not listen.
    bool Start(const std::string& device, bool charDelay = true);
    // socket://127.0.0.1:PORT and rfc2217://127.0.0.1:PORT.
    std::string RawUrl() const;
    std::string Rfc2217Url() const;
    // SIGKILL: the connections drop as if the server's host went away.
    void Kill();
    std::string Error() const { return m_error; }

private:
    void Stop(int signal);

    pid_t m_pid = -1;
    std::string m_folder;
    std::uint16_t m_rawPort = 0;
    std::uint16_t m_rfc2217Port = 0;
    std::string m_error;
};

// True when ser2net is on the PATH.
bool HaveSer2net();

// A loopback port nobody listens on now (0 when none could be found): bound
// by the system, then let go. Another program may take it at any time.
std::uint16_t FreeLoopbackPort();

}  // namespace test
}  // namespace qx480
