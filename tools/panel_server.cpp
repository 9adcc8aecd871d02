#include "panel_server.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <csignal>
#include <optional>

#include "arguments.h"
#include "open_device.h"
#include "session.h"

namespace qx480 {
namespace tool {
namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

const char* const DEFAULT_LISTEN = "127.0.0.1:8480";

// A connection that sends nothing for this long is closed.
constexpr std::chrono::seconds IDLE_LIMIT{30};
// How long a closed connection's unread bytes are still taken and dropped.
constexpr std::chrono::seconds LINGER_LIMIT{2};
// How long the server waits after a failed accept before the next.
constexpr std::chrono::milliseconds ACCEPT_PAUSE{100};
// The request line and headers together; a browser's are a few hundred bytes.
constexpr std::uint32_t HEADER_LIMIT = 16 * 1024;

// What every response carries: nothing cached, nothing sniffed, no framing
// by other sites and no token leaked through a Referer.
const std::pair<const char*, const char*> SAFETY_HEADERS[] = {
    {"Cache-Control", "no-store"},
    {"X-Content-Type-Options", "nosniff"},
    {"X-Frame-Options", "DENY"},
    {"Referrer-Policy", "no-referrer"},
    {"Content-Security-Policy",
     "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; connect-src 'self'; "
     "img-src data:; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
};

// The one value of `field`; false when it is given more than once.
bool OneValue(const http::fields& fields, http::field field, std::optional<std::string>& value) {
    const auto range = fields.equal_range(field);
    if (range.first == range.second) return true;
    if (std::next(range.first) != range.second) return false;
    value = std::string(range.first->value());
    return true;
}

// `request` as the panel sees it; false when a header that decides whether
// it may be served is given twice (a smuggling attempt, not a browser).
bool ToPanelRequest(const http::request<http::string_body>& request, PanelRequest& out) {
    std::optional<std::string> host, contentType, authorization;
    if (!OneValue(request, http::field::host, host) || !OneValue(request, http::field::origin, out.origin) ||
        !OneValue(request, http::field::content_type, contentType) ||
        !OneValue(request, http::field::authorization, authorization)) {
        return false;
    }
    out.method = std::string(request.method_string());
    out.target = std::string(request.target());
    out.host = host.value_or("");
    out.contentType = contentType.value_or("");
    out.authorization = authorization.value_or("");
    out.body = request.body();
    return true;
}

// One browser connection: requests in turn, each answered before the next is read.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(tcp::socket socket, Panel& panel) : m_stream(std::move(socket)), m_panel(panel) {}

    void Start() { ReadRequest(); }

private:
    void ReadRequest() {
        m_parser.emplace();
        m_parser->body_limit(MAX_PANEL_BODY);
        m_parser->header_limit(HEADER_LIMIT);
        m_stream.expires_after(IDLE_LIMIT);
        http::async_read(m_stream, m_buffer, *m_parser,
                         [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnRequest(ec); });
    }

    void OnRequest(beast::error_code ec) {
        if (ec == http::error::body_limit) {
            return Reply(BodyTooLarge(), 11, false);
        }
        if (ec == http::error::header_limit) {
            return Reply(Refused(431, "too_large", "the request's headers are too large"), 11, false);
        }
        if (ec) return Close();
        const http::request<http::string_body>& request = m_parser->get();
        PanelRequest panelRequest;
        if (!ToPanelRequest(request, panelRequest)) {
            return Reply(Refused(400, "bad_request", "a request names its host, origin and type once each"),
                         request.version(), false);
        }
        Reply(m_panel.Handle(panelRequest), request.version(), request.keep_alive());
    }

    void Reply(const PanelResponse& answer, unsigned version, bool keepAlive) {
        m_response = {};
        m_response.version(version);
        m_response.result(static_cast<unsigned>(answer.status));
        m_response.set(http::field::content_type, answer.contentType);
        for (const auto& header : SAFETY_HEADERS) m_response.set(header.first, header.second);
        for (const auto& header : answer.headers) m_response.set(header.first, header.second);
        m_response.body() = answer.body;
        m_response.keep_alive(keepAlive);
        m_response.prepare_payload();
        m_stream.expires_after(IDLE_LIMIT);
        http::async_write(m_stream, m_response,
                          [self = shared_from_this(), keepAlive](beast::error_code ec, std::size_t) {
                              if (ec || !keepAlive) return self->Close();
                              self->ReadRequest();
                          });
    }

    // Ends the connection after the response, taking in (and dropping) what
    // the browser still sends for a while: closing a socket with unread
    // bytes resets it, and the reset can destroy the response before it is read.
    void Close() {
        beast::error_code ignored;
        m_stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
        m_stream.expires_after(LINGER_LIMIT);
        Drain();
    }

    void Drain() {
        m_stream.async_read_some(net::buffer(m_drained),
                                 [self = shared_from_this()](beast::error_code ec, std::size_t) {
                                     if (!ec) self->Drain();
                                 });
    }

    beast::tcp_stream m_stream;
    Panel& m_panel;
    beast::flat_buffer m_buffer;
    std::optional<http::request_parser<http::string_body>> m_parser;
    http::response<http::string_body> m_response;
    char m_drained[4096];
};

}  // namespace

struct PanelServer::Impl {
    net::io_context io{1};
    tcp::acceptor acceptor{io};
    net::steady_timer pause{io};
    Panel* panel = nullptr;

    void Accept() {
        acceptor.async_accept([this](beast::error_code ec, tcp::socket socket) {
            if (ec == net::error::operation_aborted) return;
            if (!ec) {
                std::make_shared<Connection>(std::move(socket), *panel)->Start();
                return Accept();
            }
            // Out of descriptors or memory: try again a little later instead of spinning.
            pause.expires_after(ACCEPT_PAUSE);
            pause.async_wait([this](beast::error_code waited) {
                if (!waited) Accept();
            });
        });
    }
};

PanelServer::PanelServer(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

PanelServer::~PanelServer() = default;

bool PanelServer::IsAddress(const std::string& host) {
    beast::error_code ec;
    net::ip::make_address(host, ec);
    return host == "localhost" || !ec;
}

std::unique_ptr<PanelServer> PanelServer::Listen(const std::string& host, unsigned short port, std::string& error) {
    beast::error_code ec;
    const net::ip::address address =
        host == "localhost" ? net::ip::address(net::ip::address_v4::loopback()) : net::ip::make_address(host, ec);
    if (ec) {
        error = "--listen needs a numeric address or localhost, not " + Quoted(host);
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    const tcp::endpoint endpoint(address, port);
    impl->acceptor.open(endpoint.protocol(), ec);
#ifndef _WIN32
    // On POSIX this only lets a restarted panel take its port at once; on
    // Windows SO_REUSEADDR would let another program take it over.
    if (!ec) impl->acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
#endif
    if (!ec) impl->acceptor.bind(endpoint, ec);
    if (!ec) impl->acceptor.listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
        const std::string where = address.is_v6() ? "[" + address.to_string() + "]" : address.to_string();
        error = "cannot serve the panel on " + where + ":" + std::to_string(port) + ": " + ec.message();
        return nullptr;
    }
    return std::unique_ptr<PanelServer>(new PanelServer(std::move(impl)));
}

std::string PanelServer::HostAndPort() const {
    const tcp::endpoint local = m_impl->acceptor.local_endpoint();
    const std::string address = local.address().to_string();
    return (local.address().is_v6() ? "[" + address + "]" : address) + ":" + std::to_string(local.port());
}

unsigned short PanelServer::Port() const { return m_impl->acceptor.local_endpoint().port(); }

bool PanelServer::Loopback() const { return m_impl->acceptor.local_endpoint().address().is_loopback(); }

void PanelServer::Serve(Panel& panel, bool untilInterrupted) {
    m_impl->panel = &panel;
    m_impl->Accept();
    net::signal_set signals(m_impl->io);
    if (untilInterrupted) {
        signals.add(SIGINT);
        signals.add(SIGTERM);
        signals.async_wait([this](beast::error_code ec, int) {
            if (!ec) Stop();
        });
    }
    m_impl->io.run();
}

void PanelServer::Stop() { m_impl->io.stop(); }

int RunPanel(const Invocation& inv, const std::string& environmentPort, std::ostream& out, std::ostream& err) {
    std::string host, error;
    unsigned short port = 0;
    if (!SplitListenAddress(inv.listen.empty() ? DEFAULT_LISTEN : inv.listen, host, port, error)) {
        return Fail("", ToolFailure("usage", EXIT_USAGE, error), inv.json, out, err);
    }
    if (!PanelServer::IsAddress(host)) {
        return Fail(
            "", ToolFailure("usage", EXIT_USAGE, "--listen needs a numeric address or localhost, not " + Quoted(host)),
            inv.json, out, err);
    }
    if (!inv.token.empty() && !ValidToken(inv.token)) {
        return Fail("",
                    ToolFailure("usage", EXIT_USAGE, "--token needs 8 to 256 letters, digits, '-', '.', '_' or '~'"),
                    inv.json, out, err);
    }
    const std::unique_ptr<PanelServer> server = PanelServer::Listen(host, port, error);
    if (!server) return Fail("", ToolFailure("listen", EXIT_LOCAL, error), inv.json, out, err);
    OpenedDevice opened;
    int status = EXIT_OK;
    if (!OpenDevice(inv, environmentPort, opened, status, out, err)) return status;

    PanelAccess access;
    access.hosts = {server->HostAndPort(), "localhost:" + std::to_string(server->Port())};
    access.token = inv.token.empty() && !server->Loopback() ? MakeToken() : inv.token;
    Panel panel(opened.device, opened.port, access, inv);
    out << "http://" << server->HostAndPort() << "/" << (access.token.empty() ? "" : "?token=" + access.token) << "\n"
        << "the front panel of " << opened.port << " until interrupted (Ctrl+C)" << std::endl;
    server->Serve(panel, true);
    return EXIT_OK;
}

}  // namespace tool
}  // namespace qx480
