#include "telnet_codec.h"

namespace qx480 {
namespace detail {
namespace telnet {

std::vector<std::uint8_t> Codec::Greeting() {
    m_options[BINARY].us.asked = true;
    m_options[BINARY].them.asked = true;
    m_options[COM_PORT_OPTION].us.asked = true;
    return {IAC, WILL, BINARY, IAC, DO, BINARY, IAC, WILL, COM_PORT_OPTION};
}

void Codec::Feed(const std::uint8_t* bytes, std::size_t size, std::vector<std::uint8_t>& data) {
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t byte = bytes[i];
        switch (m_state) {
            case State::Data:
                if (byte == IAC) {
                    m_state = State::Command;
                } else {
                    data.push_back(byte);
                }
                break;
            case State::Command:
                if (byte == IAC) {
                    data.push_back(IAC);
                    m_state = State::Data;
                } else {
                    Command(byte);
                }
                break;
            case State::Option:
                Negotiate(m_verb, byte);
                m_state = State::Data;
                break;
            case State::Sub:
                if (byte == IAC) {
                    m_state = State::SubCommand;
                } else if (m_sub.size() < MAX_SUBNEGOTIATION) {
                    m_sub.push_back(byte);
                } else {
                    m_subOverflow = true;
                }
                break;
            case State::SubCommand:
                if (byte == SE) {
                    EndSubnegotiation();
                    m_state = State::Data;
                } else {
                    // IAC IAC is a 0xFF of the value; any other command inside a subnegotiation is dropped.
                    if (byte == IAC && m_sub.size() < MAX_SUBNEGOTIATION) m_sub.push_back(IAC);
                    m_state = State::Sub;
                }
                break;
        }
    }
}

// The byte after an IAC in the data stream.
void Codec::Command(std::uint8_t byte) {
    if (byte == WILL || byte == WONT || byte == DO || byte == DONT) {
        m_verb = byte;
        m_state = State::Option;
    } else if (byte == SB) {
        m_sub.clear();
        m_subOverflow = false;
        m_state = State::Sub;
    } else {
        m_state = State::Data;  // NOP, GA, BREAK and the like carry nothing for the line
    }
}

bool Codec::WeWant(std::uint8_t option) { return option == BINARY || option == COM_PORT_OPTION; }

bool Codec::WeAccept(std::uint8_t option) { return WeWant(option) || option == SUPPRESS_GO_AHEAD; }

void Codec::Negotiate(std::uint8_t verb, std::uint8_t option) {
    OptionState& state = m_options[option];
    // The server's WILL/WONT is about its side; our side accepts only what the client does.
    const bool aboutThem = verb == WILL || verb == WONT;
    Side& side = aboutThem ? state.them : state.us;
    const bool wanted = WeAccept(option) && (!aboutThem || option != COM_PORT_OPTION);
    const bool agreed = verb == WILL || verb == DO;
    Settle(side, wanted, agreed, aboutThem ? DO : WILL, aboutThem ? DONT : WONT, option);
}

// One side of an option after the server's request or answer. A message that
// confirms the state in force gets no reply, so that neither end loops.
void Codec::Settle(Side& side, bool wanted, bool agreed, std::uint8_t yes, std::uint8_t no, std::uint8_t option) {
    const bool wasAsked = side.asked;
    side.asked = false;
    if (agreed) {
        if (!wanted) {
            Reply(no, option);
            return;
        }
        if (!side.enabled && !wasAsked) Reply(yes, option);
        side.enabled = true;
        side.refused = false;
        return;
    }
    if (wasAsked) side.refused = true;
    if (side.enabled) Reply(no, option);
    side.enabled = false;
}

void Codec::EndSubnegotiation() {
    if (m_subOverflow || m_sub.size() < 2 || m_sub[0] != COM_PORT_OPTION || m_sub[1] < SERVER_OFFSET) return;
    const auto command = static_cast<std::uint8_t>(m_sub[1] - SERVER_OFFSET);
    m_answers[command] = std::vector<std::uint8_t>(m_sub.begin() + 2, m_sub.end());
}

void Codec::Reply(std::uint8_t verb, std::uint8_t option) {
    m_replies.push_back(IAC);
    m_replies.push_back(verb);
    m_replies.push_back(option);
}

std::vector<std::uint8_t> Codec::TakeReplies() {
    std::vector<std::uint8_t> replies;
    replies.swap(m_replies);
    return replies;
}

bool Codec::Negotiated() const {
    return m_options[BINARY].us.enabled && m_options[BINARY].them.enabled && m_options[COM_PORT_OPTION].us.enabled;
}

bool Codec::Refused() const {
    return m_options[BINARY].us.refused || m_options[BINARY].them.refused || m_options[COM_PORT_OPTION].us.refused;
}

const std::optional<std::vector<std::uint8_t>>& Codec::Answer(std::uint8_t command) const { return m_answers[command]; }

void Codec::ForgetAnswer(std::uint8_t command) { m_answers[command].reset(); }

std::vector<std::uint8_t> Codec::ComPortCommand(std::uint8_t command, const std::vector<std::uint8_t>& value) {
    std::vector<std::uint8_t> out{IAC, SB, COM_PORT_OPTION, command};
    EncodeData(value.data(), value.size(), out);
    out.push_back(IAC);
    out.push_back(SE);
    return out;
}

void Codec::EncodeData(const std::uint8_t* bytes, std::size_t size, std::vector<std::uint8_t>& out) {
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(bytes[i]);
        if (bytes[i] == IAC) out.push_back(IAC);
    }
}

}  // namespace telnet
}  // namespace detail
}  // namespace qx480
