// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Undoes the kernel's marking of bytes received in error (PARMRK): 0xFF 0xFF stands for a 0xFF byte,
// 0xFF 0x00 x for the byte x received with a parity or framing error, which is replaced by the error
// character. Marks split across reads are carried over. Used by the reader thread only.

#include <cstddef>
#include <cstdint>

namespace cport::device {

class ParityMarkDecoder {
public:
    void Reset() { m_state = kPlain; }

    // Decodes `size` bytes in place and returns how many decoded bytes now start `bytes`.
    std::size_t Decode(std::uint8_t* bytes, std::size_t size, std::uint8_t errorChar)
    {
        std::size_t out = 0;
        for (std::size_t i = 0; i < size; ++i) {
            const std::uint8_t b = bytes[i];
            switch (m_state) {
            case kPlain:
                if (b == 0xFF) m_state = kMark;
                else bytes[out++] = b;
                break;
            case kMark:
                // 0xFF 0xFF is the byte 0xFF; a mark followed by anything else never comes from the
                // kernel, and only the byte after it is kept.
                if (b == 0x00) m_state = kMarkedByte;
                else {
                    bytes[out++] = b;
                    m_state = kPlain;
                }
                break;
            case kMarkedByte:
                bytes[out++] = errorChar;
                m_state = kPlain;
                break;
            }
        }
        return out;
    }

private:
    enum State : std::uint8_t { kPlain, kMark, kMarkedByte };
    State m_state = kPlain;
};

} // namespace cport::device
