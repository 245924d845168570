#pragma once

#include <string>
#include <string_view>
#include <vector>
#include <windows.h>

namespace kqget {

// A field caption, justified to the right edge that meets its field. The
// window draws these itself: the system's static control places a wrapped
// right-justified line by a width that is not always the one it draws (under
// Wine a line that just fits ran a pixel or two past the edge and lost its
// last character), so lines are broken and placed here by one measure.

// The caption's lines at `width` pixels in the font selected into `dc`:
// broken at CR LF and between words; a word wider than the line stands alone.
// The spaces at the end of the text stay on its last line.
std::vector<std::wstring> captionLines(HDC dc, std::wstring_view text, int width);

// Whether every line of `text`, the spaces at its end included, fits `area`
// in the font selected into `dc`.
bool fieldCaptionFits(HDC dc, std::wstring_view text, int width, int height);

// Draws `text` into `area`, each line ending at its right edge.
void drawFieldCaption(HDC dc, const RECT& area, std::wstring_view text);

} // namespace kqget
