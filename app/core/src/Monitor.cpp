// SPDX-License-Identifier: GPL-3.0-or-later
#include "varmio/Monitor.h"

#include "Text.h"

#include <utility>

namespace varmio {
namespace {

// States 0..2 count sync bytes; from there on the state is the position in the packet.
constexpr int kFirstFieldState = static_cast<int>(kSyncCount);
constexpr int kLastFieldState = static_cast<int>(kPacketSize) - 1;

// A field's place in the pending frame, which holds the packet's bytes after the sync bytes.
constexpr std::size_t Pending(PacketField field) { return field - kSyncCount; }

// The status check-list items that go into the record, in record order, with their field texts.
struct StatusField {
    StatusList List;
    int Item;
    std::string_view WhenChecked;
};

constexpr std::array<StatusField, 12> kStatusFields{{
    {StatusList::Master, 0, "1"}, // Topení Ena
    {StatusList::Master, 1, "1"}, // TUV Ena
    {StatusList::Master, 2, "1"}, // Chl Ena
    {StatusList::Master, 3, "1"}, // Ven Komp
    {StatusList::Master, 4, "1"}, // T2Ch Ena
    {StatusList::Slave, 0, "1"},  // Chyba
    {StatusList::Slave, 1, "1"},  // Topení On
    {StatusList::Slave, 2, "1"},  // TUV On
    {StatusList::Slave, 3, "10"}, // Plamen On: ten, not one
    {StatusList::Slave, 4, "1"},  // Chla On
    {StatusList::Slave, 5, "1"},  // T2Ch On
    {StatusList::Slave, 6, "1"},  // Diag On
}};

// Items 0..6 of each status list follow bits of data ID 0; item 7 is never touched.
constexpr int kStatusItemsSet = 7;
constexpr int kMasterStatusFirstBit = 8; // the master's flags are the high byte
constexpr int kSlaveStatusFirstBit = 0;  // the slave's the low byte
constexpr std::uint8_t kStatusDataId = 0;

constexpr std::string_view kFieldSeparator = "; ";

// Sets a box to a plain decimal number without touching the heap.
template <typename Int>
void ShowDecimal(IDisplay& display, Box box, Int value)
{
    char digits[24];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
    (void)ec; // 24 characters hold any 64-bit integer
    display.SetBoxText(box, std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

} // namespace

std::int32_t FixedToTenthsInt(std::int32_t dataValue, bool isSigned)
{
    const std::int32_t raw = dataValue & 0xFFFF;
    const bool negative = isSigned && raw >= 0x8000;
    const std::int32_t magnitude = negative ? 0x10000 - raw : raw;
    // 10 * magnitude / 256 = 5 * magnitude / 128, to the nearest integer; adding 63 rather than 64
    // sends the exact halves (magnitude mod 128 = 64) toward zero.
    const std::int32_t tenths = (5 * magnitude + 63) / 128;
    return negative ? -tenths : tenths;
}

double FixedToTenths(std::int32_t dataValue, bool isSigned)
{
    // Both operands are exact, so the quotient is the double nearest to k / 10.
    return FixedToTenthsInt(dataValue, isSigned) / 10.0;
}

Monitor::Monitor(IDisplay& display, Regional regional) : m_display(display), m_regional(std::move(regional))
{
    // Room for a whole line, so that the first frames do not grow the buffers a character at a time.
    m_rawText.reserve(64);
    m_recordText.reserve(128);
    m_previousRecordText.reserve(128);
    m_line.reserve(192);
}

void Monitor::ProcessFrameByte(std::uint8_t byte)
{
    if (m_decoderState < kFirstFieldState) {
        // A byte that breaks the sync is dropped, not looked at again as a first sync byte.
        m_decoderState = byte == kSyncByte ? m_decoderState + 1 : 0;
        return;
    }
    // Inside a packet every byte is a field, sync bytes included.
    m_pendingFrame[static_cast<std::size_t>(m_decoderState - kFirstFieldState)] = byte;
    if (m_decoderState < kLastFieldState) {
        ++m_decoderState;
        return;
    }
    // Back to 0 before the frame is processed: the next packet needs three sync bytes of its own.
    m_decoderState = 0;
    CompleteFrame();
}

void Monitor::CompleteFrame()
{
    Frame& frame = m_currentFrame;
    frame.MsgType = m_pendingFrame[Pending(kMsgTypeAt)];
    frame.DataId = m_pendingFrame[Pending(kDataIdAt)];
    frame.ValueHigh = m_pendingFrame[Pending(kValueHighAt)];
    frame.ValueLow = m_pendingFrame[Pending(kValueLowAt)];
    frame.DataValue = frame.ValueHigh * 256 + frame.ValueLow;

    ShowDecimal(m_display, Box::FrameMsgType, frame.MsgType);
    ShowDecimal(m_display, Box::FrameDataId, frame.DataId);
    ShowDecimal(m_display, Box::FrameDataValue, frame.DataValue);

    m_rawText.clear();
    m_rawText += "[Type: ";
    detail::AppendDecimal(m_rawText, frame.MsgType);
    m_rawText += "]  [";
    detail::AppendDecimal(m_rawText, frame.DataId);
    m_rawText += "] :";
    detail::AppendDecimal(m_rawText, frame.DataValue);

    m_line.assign(m_display.DateTimeText());
    m_line += "  ";
    m_line += m_rawText;
    m_display.AppendRawLog(m_line);

    DecodeFrameValue(frame);
    RecordStep();
    if (m_onFrame) m_onFrame(frame);
}

void Monitor::DecodeFrameValue(const Frame& frame)
{
    if (frame.DataId == kStatusDataId) {
        int firstBit = 0;
        StatusList list{};
        if (frame.MsgType == kReadData) {
            list = StatusList::Master;
            firstBit = kMasterStatusFirstBit;
        } else if (frame.MsgType == kReadAck) {
            list = StatusList::Slave;
            firstBit = kSlaveStatusFirstBit;
        } else {
            return; // status in any other message type changes no check mark
        }
        for (int item = 0; item < kStatusItemsSet; ++item) {
            m_display.SetChecked(list, item, ((frame.DataValue >> (firstBit + item)) & 1) != 0);
        }
        return;
    }
    for (std::size_t slot = 0; slot < kValueSlots.size(); ++slot) {
        const ValueSlot& value = kValueSlots[slot];
        if (value.DataId != frame.DataId) continue;
        if (value.MsgType != frame.MsgType) return; // a listed data ID in another message type
        const std::int32_t tenths = FixedToTenthsInt(frame.DataValue, value.Signed);
        m_storedTenths[slot] = tenths;
        m_storedValues[slot] = tenths / 10.0;
        m_line.clear();
        m_regional.AppendTenths(m_line, tenths);
        m_display.SetBoxText(value.Shows, m_line);
        return;
    }
}

void Monitor::AppendRecord(std::string& out) const
{
    bool first = true;
    for (const std::int32_t tenths : m_storedTenths) {
        if (!first) out += kFieldSeparator;
        first = false;
        m_regional.AppendTenths(out, tenths);
    }
    // The check marks are the only store of the status bits: whatever the user ticked by hand counts.
    for (const StatusField& field : kStatusFields) {
        out += kFieldSeparator;
        out += m_display.IsChecked(field.List, field.Item) ? field.WhenChecked : std::string_view("0");
    }
}

std::string Monitor::BuildRecord() const
{
    std::string record;
    AppendRecord(record);
    return record;
}

void Monitor::RecordStep()
{
    m_recordText.clear();
    AppendRecord(m_recordText);
    const bool changed = m_recordText != m_previousRecordText;
    // The previous record follows every frame, logged or not; swapping keeps both buffers' capacity.
    std::swap(m_previousRecordText, m_recordText);

    if (changed || !m_display.ChangesOnly()) {
        m_line.assign(m_display.DateTimeText());
        m_line += kFieldSeparator;
        m_line += m_previousRecordText;
        m_display.AppendRecordLog(m_line);
    }

    ++m_frameCount;
    ShowDecimal(m_display, Box::FrameCount, m_frameCount);
}

void Monitor::ResetValues()
{
    m_storedTenths.fill(0);
    m_storedValues.fill(0.0);
    for (const ValueSlot& value : kValueSlots) m_display.SetBoxText(value.Shows, {});
}

} // namespace varmio
