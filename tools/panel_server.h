// The panel's HTTP server (Boost.Beast over Asio, on Windows and POSIX
// alike): one thread serves every connection and hands the panel one
// request at a time, so the device sees one exchange at a time.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "command_line.h"
#include "panel.h"

namespace qx480 {
namespace tool {

class PanelServer {
public:
    // True for what Listen takes as a host: a numeric IPv4 or IPv6 address, or localhost.
    static bool IsAddress(const std::string& host);
    // Listens on `host` (IsAddress) and `port` (0: a free one). Null with
    // one line in `error` when the address cannot be served (in use, not
    // this machine's).
    static std::unique_ptr<PanelServer> Listen(const std::string& host, unsigned short port, std::string& error);
    ~PanelServer();

    PanelServer(const PanelServer&) = delete;
    PanelServer& operator=(const PanelServer&) = delete;

    // The address served, as a URL and a Host header write it:
    // "127.0.0.1:8480", "[::1]:8480".
    std::string HostAndPort() const;
    // The port served (the one the system chose for port 0).
    unsigned short Port() const;
    // True when only this machine can reach the address.
    bool Loopback() const;

    // Serves `panel` until Stop() is called, or, when `untilInterrupted`,
    // until the program gets SIGINT (Ctrl+C) or SIGTERM.
    void Serve(Panel& panel, bool untilInterrupted);
    // Ends Serve() soon; safe from any thread, before or during Serve().
    void Stop();

private:
    struct Impl;
    explicit PanelServer(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

// qx480 panel: checks --listen and --token, opens the device, prints the
// page's URL as its first line and serves until interrupted. Returns the
// exit status.
int RunPanel(const Invocation& inv, const std::string& environmentPort, std::ostream& out, std::ostream& err);

}  // namespace tool
}  // namespace qx480
