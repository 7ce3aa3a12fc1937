// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window's design: every control with its kind, parent, position, size, caption and flags,
// written once as data. Positions are left, top within the parent's client area (for controls directly
// on the window: the client area below the menu bar); sizes are width × height in pixels.

#include <cstdint>
#include <span>
#include <string_view>

#include "varmio/Display.h"

#include <QColor>
#include <QFont>

namespace varmio {

enum ControlKind : std::uint8_t {
    ckLabel,
    ckEdit,
    ckButton,
    ckCheckBox,
    ckGroupBox,
    ckCheckListBox,
    ckPanel,
    ckSplitter,
    ckMemo,
    ckStatusBar,
};

// Flags of a control (bits of ControlSpec::Flags).
enum ControlFlag : std::uint8_t {
    cfBold = 1 << 0,        // the window font in bold (children of a group inherit it)
    cfChecked = 1 << 1,     // a check box checked at start
    cfAlignLeft = 1 << 2,   // docked to its parent's left edge at its width, full height
    cfAlignRight = 1 << 3,  // docked to its parent's right edge at its width, full height
    cfAlignClient = 1 << 4, // fills what the docked siblings leave
    cfAlignBottom = 1 << 5, // docked to its parent's bottom edge at its height, full width
};

struct ControlSpec {
    std::string_view Name;
    ControlKind Kind;
    std::string_view Parent; // empty: directly on the window
    int Left, Top, Width, Height;
    std::string_view Caption; // caption or initial text, UTF-8
    std::uint8_t Flags;
};

// The controls in creation order (which is also the tab order within each parent).
std::span<const ControlSpec> WindowLayout();
// The row of the control called `name`; nullptr when there is none.
const ControlSpec* FindControlSpec(std::string_view name);

// The eight items of each status check list, in item order.
std::span<const std::string_view> StatusItemCaptions(StatusList list);

// The window's own properties.
inline constexpr std::string_view kWindowCaption = "Varmio ver.1.0 [QZ7XYV]";
inline constexpr int kClientWidth = 1242; // client area below the menu bar
inline constexpr int kClientHeight = 546;
inline constexpr int kCheckListItemHeight = 13;
inline constexpr int kClockIntervalMs = 1000;

// The look the window was designed with, as near as a Linux desktop gets: the classic 8 point
// dialog font is 11 pixels high, and the background is the light blue of an active caption's
// gradient end. The face is the program's own Liberation Sans (RegisterWindowFonts), so the
// captions fit the same way on every machine.
QFont WindowFont();
// Registers the bundled Liberation Sans Regular and Bold with the application's font database; once,
// after the QApplication exists. Returns false when they were not registered: when the environment
// variable VARMIO_SYSTEM_FONTS is set to a non-empty value (to see the window in whatever the system
// substitutes), or when Qt refused a font file.
bool RegisterWindowFonts();
QColor WindowBackground();

} // namespace varmio
