// SPDX-License-Identifier: GPL-3.0-or-later
#include "varmio/WindowLayout.h"

#include <array>

#include <QFontDatabase>
#include <QtGlobal>

// The resource's initialiser lives in this static library; outside any namespace, as Qt wants it.
static void InitFontResources() { Q_INIT_RESOURCE(fonts); }

namespace varmio {
namespace {

constexpr std::string_view kForm{};

// Name, kind, parent, left, top, width, height, caption, flags.
// A label's width is the width of its caption in the design font (0: not given, fit to the caption);
// it grows where the substitute font needs more, so that no caption is cut.
constexpr std::array kLayout{
    ControlSpec{"Label5", ckLabel, kForm, 8, 16, 102, 13, "LCD Aktuální (24)", cfBold},
    ControlSpec{"Edit5", ckEdit, kForm, 8, 32, 121, 21, "0", 0},
    ControlSpec{"Label6", ckLabel, kForm, 144, 16, 96, 13, "Výstup do PT (1)", cfBold},
    ControlSpec{"Edit6", ckEdit, kForm, 144, 32, 121, 21, "0", 0},
    ControlSpec{"Label2", ckLabel, kForm, 280, 16, 116, 13, "TUV k dispozici (26)", cfBold},
    ControlSpec{"Edit2", ckEdit, kForm, 280, 32, 121, 21, "0", 0},
    ControlSpec{"Label1", ckLabel, kForm, 8, 72, 119, 13, "Výstup z komory (25)", cfBold},
    ControlSpec{"Edit1", ckEdit, kForm, 8, 88, 121, 21, "0", 0},
    ControlSpec{"Label4", ckLabel, kForm, 144, 72, 82, 13, "Modulace (17)", cfBold},
    ControlSpec{"Edit4", ckEdit, kForm, 144, 88, 121, 21, "0", 0},
    ControlSpec{"Label3", ckLabel, kForm, 280, 72, 120, 13, "Start ohřev TUV (56)", cfBold},
    ControlSpec{"Edit3", ckEdit, kForm, 280, 88, 121, 21, "0", 0},
    ControlSpec{"Label10", ckLabel, kForm, 8, 128, 110, 13, "Požadavek PT (16)", cfBold},
    ControlSpec{"Edit12", ckEdit, kForm, 8, 144, 121, 21, "0", 0},
    ControlSpec{"Label9", ckLabel, kForm, 144, 128, 93, 13, "Venkovní T (27)", cfBold},
    ControlSpec{"Edit7", ckEdit, kForm, 144, 144, 121, 21, "0", 0},
    ControlSpec{"Label14", ckLabel, kForm, 280, 128, 87, 13, "Počet záznamů", cfBold},
    ControlSpec{"Edit13", ckEdit, kForm, 280, 144, 121, 21, "0", 0},
    ControlSpec{"Button1", ckButton, kForm, 8, 176, 57, 17, "Init", 0},
    ControlSpec{"CheckBox2", ckCheckBox, kForm, 144, 176, 129, 17, "Ukládat pouze změny", cfChecked},
    ControlSpec{"CheckBox1", ckCheckBox, kForm, 280, 176, 97, 17, "Ukládat do Csv", 0},

    ControlSpec{"GroupBox1", ckGroupBox, kForm, 8, 208, 393, 169, "Status", cfBold},
    ControlSpec{"Label7", ckLabel, "GroupBox1", 16, 24, 0, 13, "Kotel", cfBold},
    ControlSpec{"Label8", ckLabel, "GroupBox1", 168, 24, 0, 13, "Termostat", cfBold},
    ControlSpec{"CheckListBox1", ckCheckListBox, "GroupBox1", 16, 40, 137, 113, {}, 0},
    ControlSpec{"CheckListBox2", ckCheckListBox, "GroupBox1", 168, 40, 137, 113, {}, 0},

    ControlSpec{"GroupBox2", ckGroupBox, kForm, 8, 384, 177, 57, "Data", 0},
    ControlSpec{"Label11", ckLabel, "GroupBox2", 8, 16, 0, 13, "Type", 0},
    ControlSpec{"Label12", ckLabel, "GroupBox2", 64, 16, 0, 13, "ID", 0},
    ControlSpec{"Label13", ckLabel, "GroupBox2", 120, 16, 0, 13, "Value", 0},
    ControlSpec{"Edit9", ckEdit, "GroupBox2", 8, 32, 49, 21, {}, 0},
    ControlSpec{"Edit10", ckEdit, "GroupBox2", 64, 32, 49, 21, {}, 0},
    ControlSpec{"Edit11", ckEdit, "GroupBox2", 120, 32, 49, 21, {}, 0},

    ControlSpec{"GroupBox3", ckGroupBox, kForm, 192, 384, 209, 57, "GroupBox3", 0},

    // The connection panel's port selectors and LED take the group's left part (8 to 185 across).
    ControlSpec{"GroupBox4", ckGroupBox, kForm, 8, 448, 393, 65, "Serial Port", 0},
    ControlSpec{"Edit8", ckEdit, "GroupBox4", 264, 28, 121, 21, {}, 0},

    ControlSpec{"Splitter2", ckSplitter, kForm, 405, 0, 3, 527, {}, cfAlignRight},
    ControlSpec{"Panel1", ckPanel, kForm, 408, 0, 834, 527, "Panel1", cfAlignRight},
    ControlSpec{"Memo1", ckMemo, "Panel1", 1, 1, 296, 525, {}, cfAlignLeft},
    ControlSpec{"Splitter1", ckSplitter, "Panel1", 297, 1, 3, 525, {}, cfAlignLeft},
    ControlSpec{"Memo2", ckMemo, "Panel1", 300, 1, 533, 525, {}, cfAlignClient},
    ControlSpec{"StatusBar1", ckStatusBar, kForm, 0, 527, 1242, 19, {}, cfAlignBottom},
};

constexpr std::array<std::string_view, 8> kMasterStatusItems{
    "Topení povoleno",    "TUV povoleno", "Chlazení povoleno", "Venek kompenzace",
    "Topení 2.CH povol.", "REZERVA",      "REZERVA",           "REZERVA",
};

constexpr std::array<std::string_view, 8> kSlaveStatusItems{
    "Chyba ",           "Topení aktivní",  "TUV aktivní",     "Plamen aktivní",
    "Chlazení aktivní", "Topení 2.Ch akt", "Diagnostika akt", "REZERVA",
};

} // namespace

std::span<const ControlSpec> WindowLayout() { return kLayout; }

const ControlSpec* FindControlSpec(std::string_view name)
{
    for (const ControlSpec& row : kLayout) {
        if (row.Name == name) return &row;
    }
    return nullptr;
}

std::span<const std::string_view> StatusItemCaptions(StatusList list)
{
    return list == StatusList::Master ? std::span<const std::string_view>(kMasterStatusItems)
                                      : std::span<const std::string_view>(kSlaveStatusItems);
}

QFont WindowFont()
{
    QFont font;
    // The bundled face; the others only where its registration was skipped.
    font.setFamilies({"Liberation Sans", "Arial", "Nimbus Sans", "DejaVu Sans"});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
}

bool RegisterWindowFonts()
{
    if (!qEnvironmentVariableIsEmpty("VARMIO_SYSTEM_FONTS")) return false;
    InitFontResources();
    bool registered = true;
    for (const char* file : {":/fonts/LiberationSans-Regular.ttf", ":/fonts/LiberationSans-Bold.ttf"})
        registered = QFontDatabase::addApplicationFont(QString::fromLatin1(file)) >= 0 && registered;
    return registered;
}

QColor WindowBackground()
{
    // The active caption's gradient colour of the usual desktop theme.
    return QColor(0xB9, 0xD1, 0xEA);
}

} // namespace varmio
