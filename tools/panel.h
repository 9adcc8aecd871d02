// The front panel in the browser (qx480 panel): its page and its JSON
// interface, apart from the network. Each request, with the headers that
// decide whether it may be served, becomes one response; the server
// (panel_server.h) hands them over one at a time, so one device connection
// serves them all.
//
//   GET  /             the page
//   GET  /api/state    temperature, trigger, output, the eight channels, the diagram
//   GET  /api/setup    the setup file that save writes
//   POST /api/apply    a setup document: checked whole, then sent in apply's order
//   POST /api/diff     a setup document compared with what the device reports
//   POST /api/fire     one software trigger
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "command_line.h"
#include "json.h"
#include "qx480ddg.h"
#include "session.h"

namespace qx480 {
namespace tool {

// The largest request body the panel reads; a larger one is refused unread.
constexpr std::size_t MAX_PANEL_BODY = 64 * 1024;

// The part of an HTTP request the panel looks at. A header given twice is
// refused before it gets here.
struct PanelRequest {
    std::string method;                 // "GET", "POST", ...
    std::string target;                 // "/api/state?token=..."
    std::string host;                   // the Host header; empty when missing
    std::optional<std::string> origin;  // the Origin header, when the browser sent one
    std::string contentType;            // the Content-Type header
    std::string authorization;          // the Authorization header ("Bearer TOKEN")
    std::string body;
};

struct PanelResponse {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // more headers ("Allow")
};

// A refused request: `status` with its kind and one line, as the tool's records give them.
PanelResponse Refused(int status, const std::string& kind, const std::string& line);
// The refusal of a body over MAX_PANEL_BODY bytes.
PanelResponse BodyTooLarge();

// Who may talk to the panel.
struct PanelAccess {
    // The Host headers a request may carry ("127.0.0.1:8480", "localhost:8480"),
    // compared without regard to case: others come from DNS rebinding.
    std::vector<std::string> hosts;
    // The token every request must carry, as ?token= or "Authorization:
    // Bearer TOKEN"; empty when none is needed.
    std::string token;
};

class Panel {
public:
    // `device` must be open and outlive the panel; `port` names it in
    // messages; `options` gives --retries.
    Panel(QX480DDG& device, const std::string& port, PanelAccess access, const Invocation& options = Invocation());

    // Serves one request: refuses it (with nothing sent to the device) when
    // its Host, token, path, method, Content-Type, Origin or size is not
    // allowed, else carries it out.
    PanelResponse Handle(const PanelRequest& request);

private:
    struct Route {
        const char* method;
        const char* path;
        bool changesState;  // needs a JSON body and, from a browser, the panel's own origin
        PanelResponse (Panel::*serve)(const PanelRequest& request);
    };
    static const Route ROUTES[];

    // Why `request` may not be served; nullopt when it may.
    std::optional<PanelResponse> Refusal(const PanelRequest& request, const Route*& route) const;
    bool HostAllowed(const std::string& host) const;
    bool TokenGiven(const PanelRequest& request) const;

    PanelResponse Page(const PanelRequest& request);
    PanelResponse State(const PanelRequest& request);
    PanelResponse SavedSetup(const PanelRequest& request);
    PanelResponse Apply(const PanelRequest& request);
    PanelResponse Diff(const PanelRequest& request);
    PanelResponse Fire(const PanelRequest& request);

    // Runs `run` on the setup in the request's body, which must pass the setup file's checks.
    PanelResponse WithSetup(const PanelRequest& request, const char* command,
                            bool (Session::*run)(const Step& step, StepReport& report));
    // What the device does not report, as far as this panel has set it.
    void Remember(const Json& sent);

    std::string m_port;
    PanelAccess m_access;
    std::ostringstream m_discarded;  // the session's printing, which the panel does not use
    Session m_session;
    std::optional<bool> m_output;
    std::optional<QX480TriggerMode> m_source;
    std::array<std::optional<bool>, CHANNEL_COUNT> m_on{};
};

// The panel's page: one self-contained HTML document.
const std::string& PanelPage();

// The address `listen` ("HOST:PORT"; HOST a numeric address, [IPv6] or
// localhost; PORT 0 for any free one) split in two; false with one line in
// `error`.
bool SplitListenAddress(const std::string& listen, std::string& host, unsigned short& port, std::string& error);

// True for a token fit to carry in a URL: 8 to 256 letters, digits, '-', '.', '_' or '~'.
bool ValidToken(const std::string& token);

// A new random token (128 bits in hexadecimal).
std::string MakeToken();

}  // namespace tool
}  // namespace qx480
