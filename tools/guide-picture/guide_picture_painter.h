#pragma once

#include <QImage>

namespace kqget::tools {

inline constexpr int kGuidePictureWidth = 400;
inline constexpr int kGuidePictureHeight = 221;

// A mock registry editor opened at the key the user copies the account values
// from, with placeholder values only: the key's middle is blanked, and the
// key, the value names "key" and "username" are underlined in red.
QImage paintGuidePicture();

} // namespace kqget::tools
