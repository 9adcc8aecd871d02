// Port names that are network addresses: socket://HOST:PORT (raw TCP) and
// rfc2217://HOST:PORT (telnet with the COM-PORT-OPTION). Everything else is a
// local device name.
#pragma once

#include <cstdint>
#include <string>

namespace qx480 {
namespace detail {

enum class PortScheme { Local, Socket, Rfc2217 };

struct PortAddress {
    PortScheme scheme = PortScheme::Local;
    std::string host;  // a name, an IPv4 address or an IPv6 address without its brackets
    std::uint16_t port = 0;
};

// True when `name` starts with one of the network schemes (any case): the
// port then goes over the network, whether or not the rest is well formed.
bool HasNetworkScheme(const char* name);

// Parses `name`. A local name gives scheme Local and true. A network name
// gives true only when HOST is a non-empty name or IPv4 address, or a
// bracketed IPv6 address, and PORT is a decimal number from 1 to 65535,
// with nothing else after it.
bool ParsePortAddress(const char* name, PortAddress& out);

}  // namespace detail
}  // namespace qx480
