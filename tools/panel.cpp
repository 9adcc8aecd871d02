#include "panel.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <memory>
#include <random>
#include <utility>

#include "arguments.h"
#include "command_table.h"
#include "diagram.h"
#include "report.h"
#include "setup_file.h"
#include "units.h"

namespace qx480 {
namespace tool {
namespace {

// The picture's time axis in columns: fine enough for a wide screen.
constexpr std::size_t PICTURE_COLUMNS = 1000;

// What the messages call a setup document that came in a request.
const char* const SETUP_NAME = "setup";

const char* const TOKEN_CHARACTERS = "-._~";
constexpr std::size_t MIN_TOKEN_SIZE = 8;
constexpr std::size_t MAX_TOKEN_SIZE = 256;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Compares in a time that does not depend on where the texts differ.
bool SameSecret(const std::string& given, const std::string& secret) {
    if (secret.empty()) return false;
    unsigned char difference = given.size() == secret.size() ? 0 : 1;
    for (std::size_t i = 0; i < given.size(); ++i) {
        difference |= static_cast<unsigned char>(given[i] ^ secret[i % secret.size()]);
    }
    return difference == 0;
}

// The value of `name` in the query of `target` ("/x?a=1&token=t"); empty for none.
std::string QueryValue(const std::string& target, const std::string& name) {
    const std::size_t question = target.find('?');
    if (question == std::string::npos) return "";
    std::size_t at = question + 1;
    while (at <= target.size()) {
        std::size_t end = target.find('&', at);
        if (end == std::string::npos) end = target.size();
        const std::string pair = target.substr(at, end - at);
        if (pair.compare(0, name.size() + 1, name + "=") == 0) return pair.substr(name.size() + 1);
        at = end + 1;
    }
    return "";
}

PanelResponse JsonResponse(int status, const Json& body) { return {status, "application/json", JsonLine(body), {}}; }

// The response to a step the session carried out: its record with the
// tool's lines; 400 for a refused document, 502 when the device failed (a
// difference that diff found is an answer, not a failure of the request).
PanelResponse StepResponse(const std::string& step, const StepReport& report) {
    Json record = ReportRecord(step, report);
    record["lines"] = report.lines;
    if (!report.failure) return JsonResponse(200, record);
    const std::string& kind = report.failure->kind;
    return JsonResponse(kind == "usage" ? 400 : kind == "mismatch" ? 200 : 502, record);
}

template <class T>
Json OrNull(const std::optional<T>& value) {
    return value ? Json(*value) : Json(nullptr);
}

Json PictureJson(const TimingBlock& block) {
    const DiagramGeometry g = LayOutDiagram(block, PICTURE_COLUMNS);
    Json pulses = Json::array();
    for (const DiagramGeometry::Pulse& p : g.pulses) {
        pulses.push_back(p.high ? Json{{"first", p.first}, {"last", p.last}} : Json(nullptr));
    }
    Json picture;
    picture["columns"] = g.columns;
    picture["span_counts"] = g.span;
    picture["span"] = units::FormatTime(g.span);
    picture["axis_end"] = units::FormatTime(g.axisEnd);
    picture["period_counts"] = g.period;
    picture["period"] = g.period == 0 ? Json(nullptr) : Json(units::FormatTime(g.period));
    picture["period_column"] = g.period == 0 ? Json(nullptr) : Json(g.periodColumn);
    picture["pulses"] = pulses;
    picture["past_period"] = g.pastPeriod;
    return picture;
}

}  // namespace

const Panel::Route Panel::ROUTES[] = {
    {"GET", "/", false, &Panel::Page},
    {"GET", "/api/state", false, &Panel::State},
    {"GET", "/api/setup", false, &Panel::SavedSetup},
    {"POST", "/api/apply", true, &Panel::Apply},
    {"POST", "/api/diff", true, &Panel::Diff},
    {"POST", "/api/fire", true, &Panel::Fire},
};

Panel::Panel(QX480DDG& device, const std::string& port, PanelAccess access, const Invocation& options)
    : m_port(port), m_access(std::move(access)), m_session(device, port, options, m_discarded, m_discarded) {}

PanelResponse Panel::Handle(const PanelRequest& request) {
    const Route* route = nullptr;
    if (std::optional<PanelResponse> refusal = Refusal(request, route)) return *refusal;
    m_discarded.str("");
    return (this->*route->serve)(request);
}

std::optional<PanelResponse> Panel::Refusal(const PanelRequest& request, const Route*& route) const {
    if (!HostAllowed(request.host)) {
        return Refused(403, "host",
                       "the panel answers to " + m_access.hosts.front() + ", not to the host " + Quoted(request.host));
    }
    if (!m_access.token.empty() && !TokenGiven(request)) {
        return Refused(401, "token", "this panel needs its token: open the URL that qx480 panel printed");
    }
    const std::string path = request.target.substr(0, request.target.find('?'));
    const Route* byPath = nullptr;
    for (const Route& r : ROUTES) {
        if (path != r.path) continue;
        byPath = &r;
        if (request.method == r.method) route = &r;
    }
    if (byPath == nullptr) return Refused(404, "not_found", "no such path " + Quoted(path));
    if (route == nullptr) {
        PanelResponse refusal = Refused(405, "method", path + " takes " + byPath->method + ", not " + request.method);
        refusal.headers.emplace_back("Allow", byPath->method);
        return refusal;
    }
    if (request.body.size() > MAX_PANEL_BODY) return BodyTooLarge();
    if (!route->changesState) return std::nullopt;
    if (Lower(Trimmed(request.contentType.substr(0, request.contentType.find(';')))) != "application/json") {
        return Refused(415, "content_type", std::string(route->path) + " takes Content-Type: application/json");
    }
    if (request.origin && Lower(*request.origin) != "http://" + Lower(request.host)) {
        return Refused(403, "cross_site", "a request from " + Quoted(*request.origin) + " may not change the device");
    }
    return std::nullopt;
}

bool Panel::HostAllowed(const std::string& host) const {
    const std::string asked = Lower(host);
    return std::any_of(m_access.hosts.begin(), m_access.hosts.end(),
                       [&](const std::string& allowed) { return asked == Lower(allowed); });
}

bool Panel::TokenGiven(const PanelRequest& request) const {
    const std::string bearer = "Bearer ";
    const std::string fromHeader =
        request.authorization.compare(0, bearer.size(), bearer) == 0 ? request.authorization.substr(bearer.size()) : "";
    return SameSecret(fromHeader.empty() ? QueryValue(request.target, "token") : fromHeader, m_access.token);
}

PanelResponse Panel::Page(const PanelRequest&) { return {200, "text/html; charset=utf-8", PanelPage(), {}}; }

PanelResponse Panel::State(const PanelRequest&) {
    float celsius = 0;
    TimingBlock block;
    StepReport report;
    if (!m_session.ReadState(celsius, block, report)) return StepResponse("state", report);
    Json state;
    state["port"] = m_port;
    state["temperature_c"] = JsonNumber(celsius);
    state["output"] = OrNull(m_output);
    const std::uint32_t ticks = block.triggerTicks;
    state["trigger"] = {{"source", m_source ? Json(TriggerModeName(*m_source)) : Json(nullptr)},
                        {"rate", ticks == 0 ? Json(nullptr) : Json(units::RateWord(ticks))},
                        {"rate_text", units::RateText(ticks)},
                        {"ticks", ticks},
                        {"hz", units::WireToFrequency(ticks)}};
    Json channels = Json::array();
    for (int ch = 1; ch <= CHANNEL_COUNT; ++ch) {
        const timing::ChannelCounts& c = block.channels[ChannelIndex(ch)];
        channels.push_back({{"channel", ch},
                            {"delay", units::FormatTime(c.delay)},
                            {"delay_counts", c.delay},
                            {"width", units::FormatTime(c.width)},
                            {"width_counts", c.width},
                            {"on", OrNull(m_on[ChannelIndex(ch)])}});
    }
    state["channels"] = channels;
    state["diagram"] = PictureJson(block);
    return JsonResponse(200, state);
}

PanelResponse Panel::SavedSetup(const PanelRequest&) {
    TimingBlock block;
    StepReport report;
    if (!m_session.ReadBlock(block, report)) return StepResponse("save", report);
    return {200, "application/json", SavedSetupText(block), {}};
}

PanelResponse Panel::Apply(const PanelRequest& request) { return WithSetup(request, "apply", &Session::Apply); }

PanelResponse Panel::Diff(const PanelRequest& request) { return WithSetup(request, "diff", &Session::Diff); }

PanelResponse Panel::WithSetup(const PanelRequest& request, const char* command,
                               bool (Session::*run)(const Step& step, StepReport& report)) {
    StepReport report;
    Setup setup;
    std::string error;
    if (!ParseSetup(request.body, SETUP_NAME, setup, error)) {
        report.failure = ToolFailure("usage", EXIT_USAGE, error);
        return StepResponse(command, report);
    }
    Step step;
    step.command = FindCommand(command);
    step.typed = command;
    step.file = SETUP_NAME;
    step.setup = std::make_shared<const Setup>(std::move(setup));
    (m_session.*run)(step, report);
    if (report.fields.contains("sent")) Remember(report.fields["sent"]);
    return StepResponse(command, report);
}

void Panel::Remember(const Json& sent) {
    for (const Json& step : sent) {
        const std::string name = step.at("step");
        if (name == "output") m_output = step.at("on").get<bool>();
        if (name == "channel") m_on[ChannelIndex(step.at("channel").get<int>())] = step.at("on").get<bool>();
        if (name == "trigger") {
            QX480TriggerMode mode;
            std::string error;
            if (ParseTriggerSource(step.at("source").get<std::string>(), mode, error)) m_source = mode;
        }
    }
}

PanelResponse Panel::Fire(const PanelRequest&) {
    StepReport report;
    m_session.Fire(Step{}, report);
    return StepResponse("fire", report);
}

bool SplitListenAddress(const std::string& listen, std::string& host, unsigned short& port, std::string& error) {
    const std::size_t colon = listen.rfind(':');
    long long number = 0;
    if (colon == std::string::npos || colon == 0 || !ParseWhole(listen.substr(colon + 1), 65535, number)) {
        error = "--listen needs HOST:PORT (such as 127.0.0.1:8480; PORT 0 takes a free one), not " + Quoted(listen);
        return false;
    }
    host = listen.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    port = static_cast<unsigned short>(number);
    return true;
}

bool ValidToken(const std::string& token) {
    if (token.size() < MIN_TOKEN_SIZE || token.size() > MAX_TOKEN_SIZE) return false;
    return std::all_of(token.begin(), token.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) ||
               std::string(TOKEN_CHARACTERS).find(c) != std::string::npos;
    });
}

std::string MakeToken() {
    std::random_device random;
    std::string token;
    const char* const HEX = "0123456789abcdef";
    for (int word = 0; word < 4; ++word) {
        std::uint32_t bits = random();
        for (int digit = 0; digit < 8; ++digit, bits >>= 4) token += HEX[bits & 0xF];
    }
    return token;
}

PanelResponse Refused(int status, const std::string& kind, const std::string& line) {
    return JsonResponse(status, {{"ok", false}, {"error", kind}, {"message", line}});
}

PanelResponse BodyTooLarge() {
    return Refused(413, "too_large", "a request body may hold at most " + std::to_string(MAX_PANEL_BODY) + " bytes");
}

}  // namespace tool
}  // namespace qx480
