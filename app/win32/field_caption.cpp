#include "app/win32/field_caption.h"

#include <numeric>

namespace kqget {

namespace {

int textWidth(HDC dc, std::wstring_view text)
{
    SIZE size{};
    ::GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &size);
    return size.cx;
}

void breakParagraph(HDC dc, std::wstring_view paragraph, int width,
                    std::vector<std::wstring>& lines)
{
    std::wstring line;
    std::size_t at = 0;
    while (at < paragraph.size()) {
        const std::size_t wordEnd = std::min(paragraph.find(L' ', at), paragraph.size());
        const std::wstring_view word = paragraph.substr(at, wordEnd - at);
        std::wstring longer = line.empty() ? std::wstring(word) : line + L' ' + std::wstring(word);
        if (!line.empty() && textWidth(dc, longer) > width) {
            lines.push_back(line);
            longer = word;
        }
        line = std::move(longer);
        at = wordEnd;
        // The spaces between words are where lines break; those at the end
        // belong to the text.
        const std::size_t next = paragraph.find_first_not_of(L' ', at);
        if (next == std::wstring_view::npos) {
            line.append(paragraph.substr(at));
            break;
        }
        at = next;
    }
    lines.push_back(line);
}

} // namespace

std::vector<std::wstring> captionLines(HDC dc, std::wstring_view text, int width)
{
    std::vector<std::wstring> lines;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(L"\r\n", start);
        breakParagraph(dc, text.substr(start, end - start), width, lines);
        if (end == std::wstring_view::npos) {
            return lines;
        }
        start = end + 2;
    }
}

bool fieldCaptionFits(HDC dc, std::wstring_view text, int width, int height)
{
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    const std::vector<std::wstring> lines = captionLines(dc, text, width);
    if (static_cast<int>(lines.size()) * metrics.tmHeight > height) {
        return false;
    }
    for (const std::wstring& line : lines) {
        if (textWidth(dc, line) > width) {
            return false;
        }
    }
    return true;
}

void drawFieldCaption(HDC dc, const RECT& area, std::wstring_view text)
{
    ::FillRect(dc, &area, ::GetSysColorBrush(COLOR_BTNFACE));
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    const int previousMode = ::SetBkMode(dc, TRANSPARENT);
    const COLORREF previousColour = ::SetTextColor(dc, ::GetSysColor(COLOR_BTNTEXT));
    int top = area.top;
    for (const std::wstring& line : captionLines(dc, text, area.right - area.left)) {
        if (top >= area.bottom || line.empty()) {
            top += metrics.tmHeight;
            continue;
        }
        // Each character at the place its measured width gives it: left to
        // itself, the text can come out a pixel or two wider than measured.
        const auto count = static_cast<int>(line.size());
        std::vector<int> advances(line.size());
        SIZE size{};
        ::GetTextExtentExPointW(dc, line.data(), count, 0, nullptr, advances.data(), &size);
        // From where each character ends to how far each one advances.
        std::adjacent_difference(advances.begin(), advances.end(), advances.begin());
        ::ExtTextOutW(dc, area.right - size.cx, top, ETO_CLIPPED, &area, line.data(),
                      static_cast<UINT>(count), advances.data());
        top += metrics.tmHeight;
    }
    ::SetTextColor(dc, previousColour);
    ::SetBkMode(dc, previousMode);
}

} // namespace kqget
