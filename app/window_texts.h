#pragma once

#include <array>
#include <string_view>

namespace kqget {

// Line break inside a label caption: CR LF, as the users' instructions were
// always written; the label draws it as one break.
inline constexpr std::string_view kCaptionLineBreak = "\r\n";

inline constexpr std::string_view kUpdateCaption = "Update KQ XML's - Png's";
inline constexpr std::string_view kResetCaption = "RESET";
// What the status field and the update button read when a run has ended.
inline constexpr std::string_view kDoneText = "DONE !";
inline constexpr std::string_view kConfirmCaption =
    "I read the Instructions and my Values are Correct";

// The boxes that refuse a run before anything is written or sent.
inline constexpr std::string_view kEmptyKeyText =
    "The key is empty: copy the value of key from the registry editor into the key box.";
inline constexpr std::string_view kEmptyUserNameText =
    "The user name is empty: copy the value of username from the registry editor into the user "
    "name box.";

// Written into Label1 at load, one append per line.
inline constexpr std::array<std::string_view, 3> kGuideLines = {
    "Use the Picture below as a guide.",
    "open regedit: HKCU\\Software\\Brask\\mlun\\DLM",
    "copy the Values from key and username. store them in the boxes below",
};

// Written into Label7 at load; the leading spaces and the trailing "\ " belong
// to the texts.
inline constexpr std::array<std::string_view, 4> kInstructionLines = {
    "  Open registry editor and gather the required values. Type or copy them into the boxes.",
    "  Enter the path to your DATA folder and Make sure it ends with a \\ ",
    "  This is a DUMB program and it relys on you filling in your correct info.",
    "  Make sure it is correct before you press the button.",
};

// What a screen reader says of the guide picture: it has no text of its own.
inline constexpr std::string_view kGuidePictureName = "Guide picture: the registry editor";
inline constexpr std::string_view kGuidePictureDescription =
    "The registry editor open at HKEY_CURRENT_USER\\Software\\Brask\\mlun\\DLM, with the values "
    "key and username underlined in red: their data go into the key and user name boxes below.";

} // namespace kqget
