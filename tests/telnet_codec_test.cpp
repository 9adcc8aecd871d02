// The telnet codec of rfc2217:// ports, without any I/O: the data stream,
// option negotiation and the COM-PORT-OPTION subnegotiations.
#include "telnet_codec.h"

#include <gtest/gtest.h>

#include "hex.h"

namespace {

using qx480::test::Bytes;
using qx480::test::Hex;
namespace telnet = qx480::detail::telnet;

// What the codec makes of `stream` after its greeting: the data, and the replies it owes.
struct Fed {
    Bytes data;
    Bytes replies;
};

Fed Feed(telnet::Codec& codec, const Bytes& stream) {
    Fed fed;
    codec.Feed(stream.data(), stream.size(), fed.data);
    fed.replies = codec.TakeReplies();
    return fed;
}

// ser2net's opening, as measured: SGA both ways, WILL ECHO, DONT ECHO, BINARY both ways, the COM-PORT-OPTION.
const Bytes SERVER_GREETING = Hex("FF FB 03 FF FD 03 FF FB 01 FF FE 01 FF FD 00 FF FB 00 FF FD 2C");

TEST(TelnetCodec, TakesCommandsOutOfTheDataAndUndoublesFFWhereverTheStreamIsSplit) {
    // Data with a doubled FF, a NOP, a subnegotiation with a doubled FF in its value, and a negotiation.
    const Bytes stream = Hex("EB 90 FF FF 01 FF F1 02 FF FA 2C 6B FF FF FF F0 03 FF FB 03 04");
    const Bytes data = Hex("EB 90 FF 01 02 03 04");
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        telnet::Codec codec;
        codec.Greeting();
        Bytes got;
        codec.Feed(stream.data(), cut, got);
        codec.Feed(stream.data() + cut, stream.size() - cut, got);
        EXPECT_EQ(got, data) << "cut at " << cut;
        EXPECT_EQ(codec.TakeReplies(), Hex("FF FD 03")) << "cut at " << cut;
    }
}

TEST(TelnetCodec, NegotiatesBinaryAndTheComPortOptionAndRefusesWhatTheLineDoesNotNeed) {
    telnet::Codec codec;
    EXPECT_EQ(codec.Greeting(), Hex("FF FB 00 FF FD 00 FF FB 2C"));
    const Fed fed = Feed(codec, SERVER_GREETING);
    EXPECT_TRUE(fed.data.empty());
    // SGA is taken both ways, the server's echo refused; the answers to our own requests get no reply.
    EXPECT_EQ(fed.replies, Hex("FF FD 03 FF FB 03 FF FE 01"));
    EXPECT_TRUE(codec.Negotiated());
    EXPECT_FALSE(codec.Refused());

    // Requests for what is in force get no reply, so neither end loops; a refused one is refused again.
    EXPECT_TRUE(Feed(codec, Hex("FF FD 00 FF FB 00 FF FD 2C FF FB 03")).replies.empty());
    EXPECT_EQ(Feed(codec, SERVER_GREETING).replies, Hex("FF FE 01"));
    // Options nobody asked for are refused.
    EXPECT_EQ(Feed(codec, Hex("FF FD 18 FF FB 05")).replies, Hex("FF FC 18 FF FE 05"));
}

TEST(TelnetCodec, AServerThatRefusesBinaryOrTheComPortOptionIsARefusal) {
    for (const char* refusal : {"FF FE 00", "FF FC 00", "FF FE 2C"}) {
        telnet::Codec codec;
        codec.Greeting();
        Feed(codec, Hex(refusal));
        EXPECT_TRUE(codec.Refused()) << refusal;
        EXPECT_FALSE(codec.Negotiated()) << refusal;
    }
}

TEST(TelnetCodec, KeepsTheServersAnswerToEachComPortCommandUntilForgotten) {
    telnet::Codec codec;
    Feed(codec, Hex("FF FA 2C 65 00 01 C2 00 FF F0 FF FA 2C 66 08 FF F0 FF FA 2C 70 01 FF F0"));
    ASSERT_TRUE(codec.Answer(telnet::SET_BAUDRATE).has_value());
    EXPECT_EQ(*codec.Answer(telnet::SET_BAUDRATE), Hex("00 01 C2 00"));
    EXPECT_EQ(*codec.Answer(telnet::SET_DATASIZE), Hex("08"));
    EXPECT_EQ(*codec.Answer(telnet::PURGE_DATA), Hex("01"));
    EXPECT_FALSE(codec.Answer(telnet::SET_PARITY).has_value());
    codec.ForgetAnswer(telnet::SET_BAUDRATE);
    EXPECT_FALSE(codec.Answer(telnet::SET_BAUDRATE).has_value());
    // A client's command echoed back, another option's subnegotiation and an overlong one are no answers.
    Bytes overlong = Hex("FF FA 2C 65");
    overlong.resize(overlong.size() + telnet::MAX_SUBNEGOTIATION, 0x11);
    for (const Bytes& stream : {Hex("FF FA 2C 01 00 00 25 80 FF F0"), Hex("FF FA 18 65 01 FF F0"), overlong}) {
        Feed(codec, stream);
        EXPECT_FALSE(codec.Answer(telnet::SET_BAUDRATE).has_value());
    }
    EXPECT_EQ(Feed(codec, Hex("FF F0 41")).data, Hex("41")) << "the overlong one ends where it says";
    EXPECT_FALSE(codec.Answer(telnet::SET_BAUDRATE).has_value());
}

TEST(TelnetCodec, EncodesDataAndCommandsWithEveryFFDoubled) {
    Bytes out;
    telnet::Codec::EncodeData(Hex("01 FF 02 FF FF").data(), 5, out);
    EXPECT_EQ(out, Hex("01 FF FF 02 FF FF FF FF"));
    EXPECT_EQ(telnet::Codec::ComPortCommand(telnet::SET_BAUDRATE, Hex("00 00 FF 00")),
              Hex("FF FA 2C 01 00 00 FF FF 00 FF F0"));
}

}  // namespace
