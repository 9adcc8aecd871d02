#include "port_address.h"

#include <cstring>

namespace qx480 {
namespace detail {
namespace {

struct SchemeRow {
    const char* prefix;
    PortScheme scheme;
};

constexpr SchemeRow SCHEMES[] = {{"socket://", PortScheme::Socket}, {"rfc2217://", PortScheme::Rfc2217}};

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(const char* text, const char* prefix) {
    for (; *prefix != '\0'; ++text, ++prefix) {
        if (Lower(*text) != *prefix) return false;
    }
    return true;
}

const SchemeRow* SchemeOf(const char* name) {
    if (name == nullptr) return nullptr;
    for (const SchemeRow& row : SCHEMES) {
        if (StartsWithNoCase(name, row.prefix)) return &row;
    }
    return nullptr;
}

bool IsHostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_';
}

bool IsIpv6Character(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.';
}

template <class Allowed>
bool AllOf(const std::string& text, Allowed allowed) {
    for (char c : text) {
        if (!allowed(c)) return false;
    }
    return !text.empty();
}

bool ParsePortNumber(const std::string& text, std::uint16_t& out) {
    if (text.empty() || text.size() > 5) return false;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) return false;
    out = static_cast<std::uint16_t>(value);
    return true;
}

// "HOST:PORT" or "[V6]:PORT" into host and port.
bool SplitHostPort(const std::string& rest, std::string& host, std::string& port) {
    if (!rest.empty() && rest[0] == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') return false;
        host = rest.substr(1, close - 1);
        port = rest.substr(close + 2);
        return AllOf(host, IsIpv6Character) && host.find(':') != std::string::npos;
    }
    const std::size_t colon = rest.rfind(':');
    if (colon == std::string::npos) return false;
    host = rest.substr(0, colon);
    port = rest.substr(colon + 1);
    return AllOf(host, IsHostCharacter);
}

}  // namespace

bool HasNetworkScheme(const char* name) { return SchemeOf(name) != nullptr; }

bool ParsePortAddress(const char* name, PortAddress& out) {
    const SchemeRow* row = SchemeOf(name);
    if (row == nullptr) {
        out = PortAddress{};
        return name != nullptr;
    }
    std::string host;
    std::string port;
    std::uint16_t number = 0;
    if (!SplitHostPort(name + std::strlen(row->prefix), host, port) || !ParsePortNumber(port, number)) return false;
    out.scheme = row->scheme;
    out.host = host;
    out.port = number;
    return true;
}

}  // namespace detail
}  // namespace qx480
