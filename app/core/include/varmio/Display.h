#pragma once
// The named display slots the monitor core writes into and reads back: the main window's controls.
// The Qt window, the command-line tools and the tests each implement them. Texts are UTF-8.
// Called only from the thread that runs the core (the main thread).

#include <cstdint>
#include <string_view>

namespace varmio {

// Boxes the core writes, by their control names.
enum class Box : std::uint8_t {
    Edit1, Edit2, Edit3, Edit4, Edit5, Edit6, Edit7, // value boxes
    Edit9, Edit10, Edit11,                          // the "Data" group: type, data ID, value
    Edit12,                                         // value box
    Edit13,                                         // frame counter
};

// The two status check lists.
enum class StatusList : std::uint8_t {
    CheckListBox1, // master status
    CheckListBox2, // slave status
};

class IDisplay {
public:
    virtual ~IDisplay() = default;

    virtual void SetBoxText(Box box, std::string_view text) = 0;
    virtual bool IsChecked(StatusList list, int item) const = 0;
    virtual void SetChecked(StatusList list, int item, bool checked) = 0;
    virtual void AppendRawLog(std::string_view line) = 0;    // Memo1
    virtual void AppendRecordLog(std::string_view line) = 0; // Memo2
    virtual bool ChangesOnly() const = 0;                    // CheckBox2 "Ukládat pouze změny"
    // The text of the date-time box Edit8; the view stays valid until the slot's text changes.
    virtual std::string_view DateTimeText() const = 0;
};

} // namespace varmio
