// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The monitor core: finds relay packets in the received bytes, shows each frame, decodes the eight
// values and the status bits, and keeps the raw log and the record log (with its change-only filter).
//
// One Monitor per program. Not synchronised: use it only on the thread that owns its display (the
// main thread). It keeps a reference to the display, which must outlive it; display calls made while
// a frame is processed must not call back into the Monitor.

#include "varmio/Display.h"
#include "varmio/Regional.h"
#include "varmio/RelayPacket.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace varmio {

// The first line of the record log, 22 columns separated by ";" alone (UTF-8 here; the record-log
// file holds it in Windows-1250, 155 bytes). The 21st column really is "T2Ch", U+00A8, "On".
inline constexpr std::string_view CsvHeader =
    "Date;Time;Lcd;Pt;Tuv;Ntc;Modul;STuv;PtPozadavek;Venku;Topení Ena;TUV Ena;Chl Ena;Ven Komp;"
    "T2Ch Ena;Chyba;Topení On;TUV On;Plamen On;Chla On;T2Ch\u00A8On;Diag On";

// Message types that value decoding acts on.
inline constexpr std::uint8_t kReadData = 0;
inline constexpr std::uint8_t kWriteData = 1;
inline constexpr std::uint8_t kReadAck = 4;

// The last completed frame.
struct Frame {
    std::uint8_t MsgType = 0;
    std::uint8_t DataId = 0;
    std::uint8_t ValueHigh = 0;
    std::uint8_t ValueLow = 0;
    std::int32_t DataValue = 0; // ValueHigh * 256 + ValueLow, 0..65535, never sign-extended
};

// One decoded value: which frames feed it and which box shows it. The index in kValueSlots is the
// value's place in StoredValues and in the record.
struct ValueSlot {
    std::uint8_t DataId;
    std::uint8_t MsgType;
    bool Signed; // two's complement f8.8; only the outside temperature
    Box Shows;
};

inline constexpr std::array<ValueSlot, 8> kValueSlots{{
    {24, kWriteData, false, Box::RoomTemperature},  // Lcd
    {1, kWriteData, false, Box::ControlSetpoint},   // Pt
    {26, kReadAck, false, Box::DhwTemperature},     // Tuv
    {25, kReadAck, false, Box::FlowTemperature},    // Ntc
    {17, kReadAck, false, Box::RelativeModulation}, // Modul
    {56, kWriteData, false, Box::DhwSetpoint},      // STuv
    {16, kWriteData, false, Box::RoomSetpoint},     // PtPozadavek
    {27, kReadAck, true, Box::OutsideTemperature},  // Venku
}};

// The value in tenths, k in k / 10: unsigned f8.8 (signed two's complement when isSigned), rounded
// to the nearest tenth with halves going toward zero. dataValue is taken modulo 65536.
std::int32_t FixedToTenthsInt(std::int32_t dataValue, bool isSigned);
// The decoded value: the double nearest to FixedToTenthsInt / 10.
double FixedToTenths(std::int32_t dataValue, bool isSigned);

class Monitor {
public:
    Monitor(IDisplay& display, Regional regional);
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;

    // Feeds one received byte; a byte that completes a packet runs the whole frame processing:
    // the "Data" boxes, the raw log line, value decoding and the record step. Allocates nothing
    // once the scratch buffers have grown to the size of a line.
    void ProcessFrameByte(std::uint8_t byte);
    // Applies a completed frame to the stored values, value boxes and check lists.
    void DecodeFrameValue(const Frame& frame);
    // The 20-field record from the stored values and the current check marks.
    std::string BuildRecord() const;
    // The Init button: all stored values 0, the eight value boxes emptied. Check marks, the frame
    // count, the previous record and the decoder are left alone.
    void ResetValues();

    // Called with every completed frame once the Monitor has done all of its own work on it, so
    // that a second reading (the message overview, decoded output) sees the same frames without
    // touching the eight values or the logs. The handler must not feed bytes back into the Monitor.
    using FrameEvent = std::function<void(const Frame& frame)>;
    const FrameEvent& OnFrame() const { return m_onFrame; }
    void SetOnFrame(FrameEvent handler) { m_onFrame = std::move(handler); }

    int DecoderState() const { return m_decoderState; }
    const std::array<std::uint8_t, kPacketSize - kSyncCount>& PendingFrame() const { return m_pendingFrame; }
    const Frame& CurrentFrame() const { return m_currentFrame; }
    const std::string& RawText() const { return m_rawText; }
    const std::array<double, 8>& StoredValues() const { return m_storedValues; }
    const std::string& PreviousRecordText() const { return m_previousRecordText; }
    // 64 bits, so that a monitor left running for months never shows a wrapped, negative count.
    std::int64_t FrameCount() const { return m_frameCount; }
    const Regional& RegionalSettings() const { return m_regional; }

private:
    void CompleteFrame();
    void RecordStep();
    void AppendRecord(std::string& out) const;

    IDisplay& m_display;
    Regional m_regional;
    int m_decoderState = 0;
    std::array<std::uint8_t, kPacketSize - kSyncCount> m_pendingFrame{}; // the fields after the sync bytes
    Frame m_currentFrame;
    std::string m_rawText;
    std::array<double, 8> m_storedValues{};
    std::array<std::int32_t, 8> m_storedTenths{}; // the same values, exact, for formatting
    std::string m_previousRecordText;
    std::int64_t m_frameCount = 0;
    FrameEvent m_onFrame;
    // Scratch buffers reused for every frame, so that a frame allocates nothing once they are warm.
    std::string m_recordText;
    std::string m_line;
};

} // namespace varmio
