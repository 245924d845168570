#pragma once

#include <QFont>

namespace kqget {

// The small dialog font the window's twips layout was drawn for: one line of it
// fits a 20-pixel field, and every caption fits its control. Sized in pixels,
// not points, so that text and the pixel layout scale together on any display.
QFont dialogFont();

} // namespace kqget
