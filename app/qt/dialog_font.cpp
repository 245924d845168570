#include "app/qt/dialog_font.h"

namespace kqget {

namespace {

// Metric-compatible with the classic dialog faces, so the captions keep the
// widths the layout expects (installed from fonts-liberation2).
constexpr auto kFamily = "Liberation Sans";
constexpr int kPixelSize = 11;

} // namespace

QFont dialogFont()
{
    QFont font(QString::fromLatin1(kFamily));
    font.setPixelSize(kPixelSize);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

} // namespace kqget
