// The telnet side of an RFC 2217 connection, as pure code without I/O:
// option negotiation, the COM-PORT-OPTION subnegotiations, and the data
// stream with its doubled 0xFF bytes. Bytes from the server go in through
// Feed() in pieces of any size, split anywhere; what the client must send
// comes out as byte vectors.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace qx480 {
namespace detail {
namespace telnet {

constexpr std::uint8_t IAC = 255;
constexpr std::uint8_t DONT = 254;
constexpr std::uint8_t DO = 253;
constexpr std::uint8_t WONT = 252;
constexpr std::uint8_t WILL = 251;
constexpr std::uint8_t SB = 250;
constexpr std::uint8_t SE = 240;

constexpr std::uint8_t BINARY = 0;
constexpr std::uint8_t SUPPRESS_GO_AHEAD = 3;
constexpr std::uint8_t COM_PORT_OPTION = 44;

// COM-PORT-OPTION commands from the client; the server answers each with the
// code + SERVER_OFFSET.
constexpr std::uint8_t SET_BAUDRATE = 1;
constexpr std::uint8_t SET_DATASIZE = 2;
constexpr std::uint8_t SET_PARITY = 3;
constexpr std::uint8_t SET_STOPSIZE = 4;
constexpr std::uint8_t PURGE_DATA = 12;
constexpr std::uint8_t SERVER_OFFSET = 100;

// PURGE-DATA value: the receive buffer of the access server.
constexpr std::uint8_t PURGE_RECEIVE = 1;

// A subnegotiation longer than this is malformed; its bytes are dropped.
constexpr std::size_t MAX_SUBNEGOTIATION = 64;

class Codec {
public:
    // What the client asks for when it connects: to send and receive binary,
    // and to use the COM-PORT-OPTION.
    std::vector<std::uint8_t> Greeting();

    // Takes bytes from the server: data bytes (0xFF undoubled) are appended
    // to `data`, commands are acted on. Replies owed to the server collect
    // until TakeReplies().
    void Feed(const std::uint8_t* bytes, std::size_t size, std::vector<std::uint8_t>& data);
    // The negotiation replies owed to the server; empties the list.
    std::vector<std::uint8_t> TakeReplies();

    // True once the server agreed to binary both ways and to the COM-PORT-OPTION.
    bool Negotiated() const;
    // True once the server refused one of them.
    bool Refused() const;

    // The value of the server's latest answer to COM-PORT-OPTION command
    // `command` (the client's code, not + 100), nothing when none came since
    // the last ForgetAnswer().
    const std::optional<std::vector<std::uint8_t>>& Answer(std::uint8_t command) const;
    void ForgetAnswer(std::uint8_t command);

    // IAC SB COM-PORT-OPTION command value... IAC SE, with 0xFF in the value doubled.
    static std::vector<std::uint8_t> ComPortCommand(std::uint8_t command, const std::vector<std::uint8_t>& value);
    // Appends `size` data bytes to `out` with every 0xFF doubled.
    static void EncodeData(const std::uint8_t* bytes, std::size_t size, std::vector<std::uint8_t>& out);

private:
    enum class State { Data, Command, Option, Sub, SubCommand };

    // Our side of one option (us: WILL/WONT) or the server's (them: DO/DONT).
    struct Side {
        bool enabled = false;
        bool asked = false;    // we sent a request and wait for the answer
        bool refused = false;  // the answer to our request was no
    };
    struct OptionState {
        Side us;
        Side them;
    };

    void Command(std::uint8_t byte);
    void Negotiate(std::uint8_t verb, std::uint8_t option);
    void Settle(Side& side, bool wanted, bool agreed, std::uint8_t yes, std::uint8_t no, std::uint8_t option);
    void EndSubnegotiation();
    void Reply(std::uint8_t verb, std::uint8_t option);
    static bool WeWant(std::uint8_t option);
    static bool WeAccept(std::uint8_t option);

    State m_state = State::Data;
    std::uint8_t m_verb = 0;
    std::vector<std::uint8_t> m_sub;
    bool m_subOverflow = false;
    std::array<OptionState, 256> m_options{};
    std::array<std::optional<std::vector<std::uint8_t>>, 256> m_answers{};
    std::vector<std::uint8_t> m_replies;
};

}  // namespace telnet
}  // namespace detail
}  // namespace qx480
