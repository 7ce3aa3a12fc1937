// SPDX-License-Identifier: GPL-3.0-or-later
// The Telnet/Com Port Control client without I/O: stripping commands from the data, negotiating
// without answering answers, reading the server's answers and notifications, escaping what it sends.

#include "net/ComPortControl.h"

#include <gtest/gtest.h>

#include <string>

namespace cport::device::telnet {
namespace {

std::string Bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values) s += static_cast<char>(v);
    return s;
}
std::string Sb(std::initializer_list<int> body)
{
    return Bytes({IAC, SB, kComPortOption}) + Bytes(body) + Bytes({IAC, SE});
}

// Feeds `input` (in pieces of `piece` bytes, in place) and returns the data.
std::string Feed(ComPortClient& client, std::string input, std::size_t piece = 1 << 20)
{
    std::string data;
    for (std::size_t at = 0; at < input.size(); at += piece) {
        auto* bytes = reinterpret_cast<std::uint8_t*>(input.data() + at);
        const std::size_t n = client.Receive(bytes, std::min(piece, input.size() - at), bytes);
        data.append(reinterpret_cast<char*>(bytes), n);
    }
    return data;
}
std::string Output(ComPortClient& client)
{
    const std::vector<std::uint8_t> out = client.TakeOutput();
    return std::string(out.begin(), out.end());
}

TEST(ComPortClient, TheServersOpeningIsAnsweredOnlyWhereItChangesSomethingAndEnablesTheOption)
{
    ComPortClient client;
    client.Start();
    EXPECT_EQ(Output(client), Bytes({IAC, WILL, 44, IAC, WILL, 0, IAC, DO, 0, IAC, WILL, 3, IAC, DO, 3}));
    EXPECT_FALSE(client.Enabled());
    // The opening of a real server: WILL SGA, DO SGA, WILL ECHO, DONT ECHO, DO BINARY, WILL BINARY, DO 44.
    const std::string opening =
        Bytes({255, 251, 3, 255, 253, 3, 255, 251, 1, 255, 254, 1, 255, 253, 0, 255, 251, 0, 255, 253, 44});
    EXPECT_EQ(Feed(client, opening + "data", 1), "data");
    EXPECT_TRUE(client.Enabled());
    EXPECT_EQ(Output(client), Bytes({IAC, DONT, 1})) << "only ECHO, which we refuse, is answered";
    // Requests for options we do not know are refused, each time; repeated agreements stay silent.
    Feed(client, Bytes({IAC, DO, 24, IAC, WILL, 31, IAC, DO, 44, IAC, WILL, 0}));
    EXPECT_EQ(Output(client), Bytes({IAC, WONT, 24, IAC, DONT, 31}));
    // Switching an enabled option off is acknowledged once.
    Feed(client, Bytes({IAC, DONT, 44, IAC, DONT, 44}));
    EXPECT_FALSE(client.Enabled());
    EXPECT_EQ(Output(client), Bytes({IAC, WONT, 44}));
    EXPECT_FALSE(client.Refused()) << "it was taken before";
}

TEST(ComPortClient, AServerWithoutTheOptionRefusesIt)
{
    ComPortClient client;
    client.Start();
    Feed(client, Bytes({IAC, DONT, 44}));
    EXPECT_TRUE(client.Refused());
    EXPECT_FALSE(client.Enabled());
}

TEST(ComPortClient, DataIsUnescapedAndCommandsRemovedAcrossAnyChunking)
{
    const std::string stream = "A" + Bytes({IAC, IAC}) + "B" + Sb({107, 0x31}) + Bytes({IAC, 241}) + "C" +
                               Sb({101, 0, 0, IAC, IAC, 0}) + Bytes({IAC, IAC, IAC, IAC}) + Sb({106, 0x08}) + "D";
    for (const std::size_t piece : {1u, 2u, 3u, 7u, 1000u}) {
        SCOPED_TRACE(piece);
        ComPortClient client;
        EXPECT_EQ(Feed(client, stream, piece), "A\xFF"
                                               "BC\xFF\xFF"
                                               "D");
        EXPECT_EQ(client.ModemState(), 0x31);
        EXPECT_EQ(client.TakeModemReports(), std::vector<std::uint8_t>{0x31});
        EXPECT_EQ(client.Answer(cpSetBaudRate), 0xFF00u) << "an escaped 0xFF in a value";
        EXPECT_EQ(client.TakeLineState(), 0x08);
        EXPECT_EQ(client.TakeLineState(), 0) << "taken";
    }
}

TEST(ComPortClient, AnswersOfTheWrongLengthOrOtherOptionsAreIgnored)
{
    ComPortClient client;
    Feed(client, Sb({102, 7, 8}) + Sb({101, 0, 0}) + Bytes({IAC, SB, 24, 102, 7, IAC, SE}) + Sb({99, 1}) + Sb({102}));
    EXPECT_FALSE(client.Answer(cpSetDataSize));
    EXPECT_FALSE(client.Answer(cpSetBaudRate));
    Feed(client, Sb({102, 7}));
    EXPECT_EQ(client.Answer(cpSetDataSize), 7u);
    client.ForgetAnswer(cpSetDataSize);
    EXPECT_FALSE(client.Answer(cpSetDataSize));
}

TEST(ComPortClient, AnEndlessSubnegotiationIsDroppedWholeInABoundedBuffer)
{
    ComPortClient client;
    std::string endless = Bytes({IAC, SB, kComPortOption, 102});
    endless += std::string(1 << 20, '\x07');
    // Its end, then a normal answer and data: the stream goes on as before.
    EXPECT_EQ(Feed(client, endless + Bytes({IAC, SE}) + Sb({103, 2}) + "ok", 4096), "ok");
    EXPECT_FALSE(client.Answer(cpSetDataSize)) << "the overlong one is not taken";
    EXPECT_EQ(client.Answer(cpSetParity), 2u);
}

TEST(ComPortClient, CommandValuesAreEscaped)
{
    ComPortClient client;
    client.SendBaudRate(0x0001FFFF);
    client.SendByte(cpSetModemStateMask, 0xFF);
    EXPECT_EQ(Output(client), Sb({1, 0, 1, IAC, IAC, IAC, IAC}) + Sb({11, IAC, IAC}));
}

} // namespace
} // namespace cport::device::telnet
