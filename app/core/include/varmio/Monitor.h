#pragma once
// The monitor core: finds relay packets in the received bytes, shows each frame, decodes the eight
// values and the status bits, and keeps the raw log and the record log (with its change-only filter).
// One Monitor per program; used only on the thread that owns its display (the main thread).

#include "varmio/Display.h"
#include "varmio/Regional.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace varmio {

// The first line of the record log (UTF-8 here; the record-log file holds it in Windows-1250).
extern const std::string_view CsvHeader;

struct Frame {
    std::uint8_t MsgType = 0;
    std::uint8_t DataId = 0;
    std::uint8_t ValueHigh = 0;
    std::uint8_t ValueLow = 0;
    std::int32_t DataValue = 0; // ValueHigh * 256 + ValueLow, 0..65535
};

// The value in tenths, k in k / 10: unsigned f8.8 (signed two's complement when isSigned), rounded to
// the nearest tenth with halves going toward zero.
std::int32_t FixedToTenthsInt(std::int32_t dataValue, bool isSigned);
// The decoded value: the double nearest to FixedToTenthsInt / 10.
double FixedToTenths(std::int32_t dataValue, bool isSigned);

class Monitor {
public:
    Monitor(IDisplay& display, Regional regional);

    // Feeds one received byte; a byte that completes a packet runs the whole frame processing.
    void ProcessFrameByte(std::uint8_t byte);
    // Applies a completed frame to the stored values, value boxes and check lists.
    void DecodeFrameValue(const Frame& frame);
    // The 20-field record from the stored values and the current check marks.
    std::string BuildRecord() const;
    // The Init button: all stored values 0, the eight value boxes emptied.
    void ResetValues();

    int DecoderState() const { return m_decoderState; }
    const std::array<std::uint8_t, 4>& PendingFrame() const { return m_pendingFrame; }
    const Frame& CurrentFrame() const { return m_currentFrame; }
    const std::string& RawText() const { return m_rawText; }
    const std::array<double, 8>& StoredValues() const { return m_storedValues; }
    const std::string& PreviousRecordText() const { return m_previousRecordText; }
    std::int32_t FrameCount() const { return m_frameCount; }
    const Regional& RegionalSettings() const { return m_regional; }

private:
    void CompleteFrame();
    void RecordStep();

    IDisplay& m_display;
    Regional m_regional;
    int m_decoderState = 0;
    std::array<std::uint8_t, 4> m_pendingFrame{};
    Frame m_currentFrame;
    std::string m_rawText;
    std::array<double, 8> m_storedValues{};
    std::array<std::int32_t, 8> m_storedTenths{};
    std::string m_previousRecordText;
    std::int32_t m_frameCount = 0;
    // Scratch buffers reused for every frame, so that a frame allocates nothing once they are warm.
    std::string m_recordText;
    std::string m_line;
};

} // namespace varmio
