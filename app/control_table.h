#pragma once

#include "app/window_texts.h"

#include <array>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kqget {

// Every control of the window, in tab order: the code addresses them by these,
// so that a control that does not exist cannot be named. The names the window
// was designed with stay in the control table, for the toolkits' object and
// accessible names.
enum class Control
{
    Update,            // Command1
    Picture,           // Picture1, the guide picture
    Guide,             // Label1, above the picture
    KeyCaption,        // Label2
    Key,               // tKEY
    UserNameCaption,   // Label3
    UserName,          // tUSERNAME
    DataFolderCaption, // Label4
    DataFolder,        // tDATA
    StatusFrame,       // Frame1
    Status,            // Text2
    Size,              // Text1
    SizeCaption,       // Label5
    StatusCaption,     // Label6
    InstructionsFrame, // Frame2
    Instructions,      // Label7
    Confirm,           // Check1
    Reset,             // Command2
};

enum class ControlKind
{
    CommandButton,
    PictureBox,
    Label,
    TextBox,
    Frame,
    CheckBox
};

// The one display setting a row may carry beyond its text and place.
enum class ControlSetting
{
    None,
    FieldCaption, // a caption right-justified so that its text ends against its field
    Unticked,
    Disabled,
};

// One control of the window as it stands before the load handler runs.
// Places and sizes are in twips, measured from the container's top-left
// corner (for a frame, the corner above its caption line).
struct ControlEntry
{
    Control control;
    int tabIndex;
    std::string_view name; // as designed: the object and automation name
    ControlKind kind;
    std::string_view container; // the window's or a frame's name
    std::string_view text;      // caption or initial text, exactly
    int left;
    int top;
    int width;
    int height;
    ControlSetting setting;
};

inline constexpr int kTwipsPerPixel = 15;

constexpr int twipsToPixels(int twips)
{
    return twips / kTwipsPerPixel;
}

inline constexpr std::string_view kWindowName = "Form1";
inline constexpr std::string_view kWindowTitle = "Form1";
inline constexpr int kClientWidthTwips = 13230;
inline constexpr int kClientHeightTwips = 8790;

inline constexpr std::string_view kGuidePictureResource = ":/kqget/guide_picture.jpg";

namespace layout {
using enum Control;
using enum ControlKind;
using enum ControlSetting;
inline constexpr std::string_view Form1 = kWindowName;
inline constexpr std::string_view Frame1 = "Frame1";
inline constexpr std::string_view Frame2 = "Frame2";
} // namespace layout

// Rows in tab order; a frame comes before the controls it holds, so the window
// can be built top to bottom from this table.
// clang-format off
inline constexpr std::array<ControlEntry, 18> kControlTable = [] {
    using namespace layout;
    return std::array<ControlEntry, 18>{{
    //  control            tab name          kind           container  caption or initial text                                               left   top  width height  setting
        {Update,            0,  "Command1",  CommandButton, Form1,     kUpdateCaption,                                                       330,  270,  2160,  600, None},
        {Picture,           1,  "Picture1",  PictureBox,    Form1,     "",                                                                   300, 2070,  6105, 3300, None},
        {Guide,             2,  "Label1",    Label,         Form1,     "Label1",                                                             315,  930,  6630, 1050, None},
        {KeyCaption,        3,  "Label2",    Label,         Form1,     "value of key from registry: ",                                       285, 5520,  2400,  255, FieldCaption},
        {Key,               4,  "tKEY",      TextBox,       Form1,     "ABCDEFGHIJKLMNOPQR",                                                2745, 5490,  3960,  300, None},
        {UserNameCaption,   5,  "Label3",    Label,         Form1,     "value of username from registry: ",                                  300, 5910,  2400,  255, FieldCaption},
        {UserName,          6,  "tUSERNAME", TextBox,       Form1,     "USERNAME",                                                          2745, 5880,  3960,  300, None},
        {DataFolderCaption, 7,  "Label4",    Label,         Form1,     "Path to your DATA Folder- must end with a \\  ",                     735, 6300,  1950,  465, FieldCaption},
        {DataFolder,        8,  "tDATA",     TextBox,       Form1,     "C:\\Documents and Settings\\NAME\\Application Data\\mlun\\Data\\",  2745, 6285,  6480,  300, None},
        {StatusFrame,       9,  "Frame1",    Frame,         Form1,     "Status Updates",                                                      90, 6945, 12990, 1695, None},
        {Status,            10, "Text2",     TextBox,       Frame1,    "",                                                                   120, 1110, 12750,  375, None},
        {Size,              11, "Text1",     TextBox,       Frame1,    "0",                                                                 2835,  300,  6105,  300, None},
        {SizeCaption,       12, "Label5",    Label,         Frame1,    "Size of file under test: ",                                          810,  300,  1965,  300, FieldCaption},
        {StatusCaption,     13, "Label6",    Label,         Frame1,    "Progress:  ",                                                        150,  690,   915,  375, FieldCaption},
        {InstructionsFrame, 14, "Frame2",    Frame,         Form1,     "Instructions: ",                                                    6570, 2115,  6555, 2145, None},
        {Instructions,      15, "Label7",    Label,         Frame2,    "",                                                                   120,  270,  6300, 1095, None},
        {Confirm,           16, "Check1",    CheckBox,      Frame2,    kConfirmCaption,                                                      105, 1500,  3990,  285, Unticked},
        {Reset,             17, "Command2",  CommandButton, Form1,     kResetCaption,                                                       2580,  270,  1365,  585, Disabled},
    }};
}();
// clang-format on

static_assert(
    [] {
        for (std::size_t row = 0; row < kControlTable.size(); ++row) {
            if (static_cast<std::size_t>(kControlTable[row].control) != row ||
                static_cast<std::size_t>(kControlTable[row].tabIndex) != row) {
                return false;
            }
        }
        return true;
    }(),
    "the table's rows follow the controls' order, which is the tab order");

constexpr const ControlEntry& controlEntry(Control control)
{
    return kControlTable[static_cast<std::size_t>(control)];
}

constexpr std::string_view controlName(Control control)
{
    return controlEntry(control).name;
}

// The control the window's design named so. Where it is evaluated at compile
// time, as for a literal, a name not in the table does not compile; at run
// time it throws std::logic_error.
constexpr Control controlNamed(std::string_view name)
{
    for (const ControlEntry& entry : kControlTable) {
        if (entry.name == name) {
            return entry.control;
        }
    }
    throw std::logic_error("the window has no control named " + std::string(name));
}

// Each field caption and the field it names: a screen reader announces the
// field by its caption.
struct FieldCaption
{
    Control caption;
    Control field;
};
inline constexpr std::array<FieldCaption, 5> kFieldCaptions = {{
    {Control::KeyCaption, Control::Key},
    {Control::UserNameCaption, Control::UserName},
    {Control::DataFolderCaption, Control::DataFolder},
    {Control::SizeCaption, Control::Size},
    {Control::StatusCaption, Control::Status},
}};

constexpr bool onPixelGrid(const ControlEntry& control)
{
    return control.left % kTwipsPerPixel == 0 && control.top % kTwipsPerPixel == 0 &&
           control.width % kTwipsPerPixel == 0 && control.height % kTwipsPerPixel == 0;
}

static_assert(
    [] {
        for (const ControlEntry& control : kControlTable) {
            if (!onPixelGrid(control)) {
                return false;
            }
        }
        return kClientWidthTwips % kTwipsPerPixel == 0 && kClientHeightTwips % kTwipsPerPixel == 0;
    }(),
    "every place and size of the window falls on whole pixels");

} // namespace kqget
