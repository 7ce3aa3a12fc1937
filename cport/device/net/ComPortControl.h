// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The client side of Telnet with the Com Port Control option, without any I/O: bytes received from the
// server go in, the serial data, the server's answers and notifications come out, and what the client
// has to say (option answers, commands) collects in an outbox that the device sends.
//
// Receiving strips the Telnet commands from the stream and turns a doubled 0xFF back into one; every
// value sent in a command has its 0xFF doubled. Option negotiation keeps a state per option and side
// and answers only a request that changes it, so two peers never answer each other's answers for
// ever. A subnegotiation longer than any this option defines is dropped whole (its bytes are not kept)
// up to its end, so an endless one costs a bounded buffer.
//
// Threads: none of its own; the owner serialises all calls.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace cport::device::telnet {

inline constexpr std::uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
inline constexpr std::uint8_t kBinary = 0, kSuppressGoAhead = 3, kComPortOption = 44;

// Command codes, client to server; the server answers with the code plus kServerOffset.
enum ComPortCommand : std::uint8_t {
    cpSignature = 0,
    cpSetBaudRate = 1,
    cpSetDataSize = 2,
    cpSetParity = 3,
    cpSetStopSize = 4,
    cpSetControl = 5,
    cpNotifyLineState = 6,
    cpNotifyModemState = 7,
    cpFlowControlSuspend = 8,
    cpFlowControlResume = 9,
    cpSetLineStateMask = 10,
    cpSetModemStateMask = 11,
    cpPurgeData = 12,
};
inline constexpr std::uint8_t kServerOffset = 100;
inline constexpr std::size_t kCommandCount = 13;

// Line state bits of NOTIFY-LINESTATE.
inline constexpr std::uint8_t kLineOverrun = 0x02, kLineParity = 0x04, kLineFraming = 0x08, kLineBreak = 0x10;

class ComPortClient {
public:
    // The longest subnegotiation kept: a signature text of some length; every other command is 6 bytes.
    static constexpr std::size_t kMaxSubnegotiation = 256;

    // Starts the negotiation: offers the option, BINARY both ways and no go-ahead (into the outbox).
    void Start();

    // Parses received bytes; writes the serial data among them to `data` and returns its length (never
    // more than `size`). `data` may be `input` itself: the data is compacted in place.
    std::size_t Receive(const std::uint8_t* input, std::size_t size, std::uint8_t* data);

    // Queues the command `code` with its value (escaped) in the outbox.
    void Send(ComPortCommand code, std::span<const std::uint8_t> value);
    void SendByte(ComPortCommand code, std::uint8_t value) { Send(code, std::span(&value, 1)); }
    void SendBaudRate(std::uint32_t rate);

    // The bytes to send, taken (the outbox is then empty).
    std::vector<std::uint8_t> TakeOutput();
    bool HasOutput() const { return !m_outbox.empty(); }

    // The server accepted the option (it said DO to our WILL), or refused it.
    bool Enabled() const { return m_us[kComPortOption] == Yes; }
    bool Refused() const { return m_refused; }
    // Any Telnet command seen at all: the peer speaks Telnet.
    bool SawCommand() const { return m_sawCommand; }

    // The value of the last answer to `code` (baud rate: 4 bytes big-endian; else 1 byte), kept until
    // ForgetAnswer. Answers with a value of another length are ignored.
    std::optional<std::uint32_t> Answer(ComPortCommand code) const { return m_answers[code]; }
    void ForgetAnswer(ComPortCommand code) { m_answers[code].reset(); }

    // The last modem state the server reported (NOTIFY-MODEMSTATE), and the line-state bits reported
    // since the last take.
    std::optional<std::uint8_t> ModemState() const { return m_modemState; }
    // Each modem-state report in order since the last take (a change and its undoing both count).
    std::vector<std::uint8_t> TakeModemReports();
    std::uint8_t TakeLineState();

private:
    enum OptionState : std::uint8_t { No, Yes, WantYes };
    enum Parse : std::uint8_t { Data, Command, Option, Sub, SubCommand };

    void Negotiate(std::uint8_t verb, std::uint8_t option);
    void Subnegotiation();
    void Put(std::initializer_list<std::uint8_t> bytes);
    static bool WeSupport(std::uint8_t option);
    static bool HeMaySupport(std::uint8_t option);

    Parse m_state = Data;
    std::uint8_t m_verb = 0;
    std::array<std::uint8_t, kMaxSubnegotiation> m_sub{};
    std::size_t m_subSize = 0;
    bool m_subOverflow = false;

    std::array<OptionState, 256> m_us{};  // what we do (WILL/WONT)
    std::array<OptionState, 256> m_him{}; // what the server does
    bool m_refused = false;
    bool m_sawCommand = false;

    std::vector<std::uint8_t> m_outbox;
    std::array<std::optional<std::uint32_t>, kCommandCount> m_answers{};
    std::optional<std::uint8_t> m_modemState;
    std::vector<std::uint8_t> m_modemReports;
    std::uint8_t m_lineState = 0;
};

} // namespace cport::device::telnet
