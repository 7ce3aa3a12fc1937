// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/ComPortControl.h"

#include <utility>

namespace cport::device::telnet {

namespace {
// Modem-state reports kept between two takes; a server that floods them only updates the last.
constexpr std::size_t kMaxModemReports = 64;
} // namespace

void ComPortClient::Start()
{
    m_us[kComPortOption] = m_us[kBinary] = m_us[kSuppressGoAhead] = WantYes;
    m_him[kBinary] = m_him[kSuppressGoAhead] = WantYes;
    Put({IAC, WILL, kComPortOption, IAC, WILL, kBinary, IAC, DO, kBinary, IAC, WILL, kSuppressGoAhead, IAC, DO,
         kSuppressGoAhead});
}

std::size_t ComPortClient::Receive(const std::uint8_t* input, std::size_t size, std::uint8_t* data)
{
    std::size_t out = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t byte = input[i];
        switch (m_state) {
        case Data:
            if (byte == IAC) m_state = Command;
            else data[out++] = byte;
            break;
        case Command:
            m_sawCommand = true;
            if (byte == IAC) {
                data[out++] = IAC; // an escaped data byte
                m_state = Data;
            } else if (byte == WILL || byte == WONT || byte == DO || byte == DONT) {
                m_verb = byte;
                m_state = Option;
            } else if (byte == SB) {
                m_subSize = 0;
                m_subOverflow = false;
                m_state = Sub;
            } else {
                m_state = Data; // a two-byte command (NOP, GA, a stray SE...): nothing to do
            }
            break;
        case Option:
            Negotiate(m_verb, byte);
            m_state = Data;
            break;
        case Sub:
            if (byte == IAC) {
                m_state = SubCommand;
                break;
            }
            [[fallthrough]];
        case SubCommand:
            if (m_state == SubCommand && byte == SE) {
                if (!m_subOverflow) Subnegotiation();
                m_state = Data;
                break;
            }
            // A literal byte (IAC IAC is one 0xFF); any other IAC x inside is taken as its second byte.
            if (m_subSize < m_sub.size()) m_sub[m_subSize++] = byte;
            else m_subOverflow = true;
            m_state = Sub;
            break;
        }
    }
    return out;
}

bool ComPortClient::WeSupport(std::uint8_t option)
{
    return option == kComPortOption || option == kBinary || option == kSuppressGoAhead;
}

bool ComPortClient::HeMaySupport(std::uint8_t option) { return option == kBinary || option == kSuppressGoAhead; }

void ComPortClient::Negotiate(std::uint8_t verb, std::uint8_t option)
{
    OptionState& us = m_us[option];
    OptionState& him = m_him[option];
    switch (verb) {
    case DO:
        if (us == WantYes) us = Yes;
        else if (us == No) {
            if (WeSupport(option)) {
                us = Yes;
                Put({IAC, WILL, option});
            } else {
                Put({IAC, WONT, option});
            }
        }
        break;
    case DONT:
        if (option == kComPortOption && us == WantYes) m_refused = true; // our offer, refused
        if (us == Yes) Put({IAC, WONT, option});
        us = No;
        break;
    case WILL:
        if (him == WantYes) him = Yes;
        else if (him == No) {
            if (HeMaySupport(option)) {
                him = Yes;
                Put({IAC, DO, option});
            } else {
                Put({IAC, DONT, option});
            }
        }
        break;
    case WONT:
        if (him == Yes) Put({IAC, DONT, option});
        him = No;
        break;
    default: break;
    }
}

void ComPortClient::Subnegotiation()
{
    if (m_subSize < 2 || m_sub[0] != kComPortOption || m_sub[1] < kServerOffset) return;
    const std::size_t code = m_sub[1] - kServerOffset;
    const std::span<const std::uint8_t> value(m_sub.data() + 2, m_subSize - 2);
    if (code >= kCommandCount) return;
    if (code == cpNotifyModemState && value.size() == 1) {
        m_modemState = value[0];
        if (m_modemReports.size() < kMaxModemReports) m_modemReports.push_back(value[0]);
        else m_modemReports.back() = value[0];
    } else if (code == cpNotifyLineState && value.size() == 1) {
        m_lineState |= value[0];
    }
    if (code == cpSetBaudRate && value.size() == 4) {
        m_answers[code] = std::uint32_t{value[0]} << 24 | std::uint32_t{value[1]} << 16 | std::uint32_t{value[2]} << 8 |
                          std::uint32_t{value[3]};
    } else if (code != cpSetBaudRate && code != cpSignature && value.size() == 1) {
        m_answers[code] = value[0];
    }
}

void ComPortClient::Send(ComPortCommand code, std::span<const std::uint8_t> value)
{
    Put({IAC, SB, kComPortOption, code});
    for (const std::uint8_t byte : value) {
        m_outbox.push_back(byte);
        if (byte == IAC) m_outbox.push_back(IAC);
    }
    Put({IAC, SE});
}

void ComPortClient::SendBaudRate(std::uint32_t rate)
{
    const std::array<std::uint8_t, 4> value{static_cast<std::uint8_t>(rate >> 24),
                                            static_cast<std::uint8_t>(rate >> 16), static_cast<std::uint8_t>(rate >> 8),
                                            static_cast<std::uint8_t>(rate)};
    Send(cpSetBaudRate, value);
}

std::vector<std::uint8_t> ComPortClient::TakeOutput() { return std::exchange(m_outbox, {}); }

std::vector<std::uint8_t> ComPortClient::TakeModemReports() { return std::exchange(m_modemReports, {}); }

std::uint8_t ComPortClient::TakeLineState() { return std::exchange(m_lineState, 0); }

void ComPortClient::Put(std::initializer_list<std::uint8_t> bytes) { m_outbox.insert(m_outbox.end(), bytes); }

} // namespace cport::device::telnet
