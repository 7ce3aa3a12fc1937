// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The display slots the monitor core writes into and reads back, named after what they show. The Qt
// window maps them to its controls; the command-line tools and the tests implement them too. Texts
// are UTF-8. Called only from the thread that runs the core (the main thread).

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace varmio {

// The boxes the core writes, named after what they show.
enum class Box : std::uint8_t {
    // The eight decoded values, in the record's order.
    RoomTemperature,
    ControlSetpoint,
    DhwTemperature,     // domestic hot water
    FlowTemperature,    // the boiler's flow water
    RelativeModulation, // the burner's modulation level
    DhwSetpoint,
    RoomSetpoint,
    OutsideTemperature,
    // The last frame's fields.
    FrameMsgType,
    FrameDataId,
    FrameDataValue,
    FrameCount, // frames seen since the start
};
inline constexpr std::size_t kBoxCount = static_cast<std::size_t>(Box::FrameCount) + 1;

// The two lists of status bits, as the master (thermostat) and the slave (boiler) report them.
enum class StatusList : std::uint8_t {
    Master,
    Slave,
};

class IDisplay {
public:
    virtual ~IDisplay() = default;

    virtual void SetBoxText(Box box, std::string_view text) = 0;
    virtual bool IsChecked(StatusList list, int item) const = 0;
    virtual void SetChecked(StatusList list, int item, bool checked) = 0;
    virtual void AppendRawLog(std::string_view line) = 0;    // the raw frame log
    virtual void AppendRecordLog(std::string_view line) = 0; // the record log
    virtual bool ChangesOnly() const = 0;                    // the change-only switch: log changed records only
    // The date-time text that stamps every log line; the view stays valid until the text changes.
    virtual std::string_view DateTimeText() const = 0;
};

} // namespace varmio
