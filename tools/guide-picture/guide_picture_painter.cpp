#include "tools/guide-picture/guide_picture_painter.h"

#include <QFont>
#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>

#include <array>
#include <string_view>

namespace kqget::tools {

namespace {

using namespace Qt::Literals::StringLiterals;

constexpr int kTitleHeight = 18;
constexpr int kMenuTop = 18;
constexpr int kMenuHeight = 16;
constexpr int kPaneTop = 34;
// The window's box shows 216 of the 221 rows; the last ones are only frame.
constexpr int kStatusTop = 198;
constexpr int kStatusHeight = 17;
constexpr int kTreeRight = 147;
constexpr int kListLeft = 152;
constexpr int kRowHeight = 12;

const QColor kFace(0xD4, 0xD0, 0xC8);
const QColor kShadow(0x80, 0x80, 0x80);
const QColor kSelection(0x0A, 0x24, 0x6A);
const QColor kMark(0xE0, 0x10, 0x10);

struct TreeRow
{
    int level;
    char expander; // '+', '-' or ' ' for none
    std::string_view name;
};

constexpr std::array<TreeRow, 13> kTree = {{
    {0, ' ', "My Computer"},
    {1, '+', "HKEY_CLASSES_ROOT"},
    {1, '-', "HKEY_CURRENT_USER"},
    {2, '+', "AppEvents"},
    {2, '+', "Control Panel"},
    {2, '+', "Environment"},
    {2, '-', "Software"},
    {3, '-', "Brask"},
    {4, '-', "mlun"},
    {5, ' ', "DLM"},
    {3, '+', "Classes"},
    {3, '+', "Policies"},
    {1, '+', "HKEY_LOCAL_MACHINE"},
}};
constexpr std::size_t kSelectedRow = 9;

struct ValueRow
{
    std::string_view name;
    std::string_view data;
};

// Placeholders only: no real account appears in the picture.
constexpr std::array<ValueRow, 12> kValues = {{
    {"(Default)", "(value not set)"},
    {"cache", "200"},
    {"datapath", "C:\\Documents and Settings\\NAME\\Application Data\\mlun\\Data\\"},
    {"deck", "starter"},
    {"key", "ABCDEFGHIJKLMNOPQR"},
    {"lang", "en"},
    {"lastlogin", "2006-01-01"},
    {"server", "server.example"},
    {"sound", "1"},
    {"username", "USERNAME"},
    {"version", "1.1.0.0"},
    {"window", "0,0,800,600"},
}};

QString text(std::string_view view)
{
    return QString::fromLatin1(view.data(), static_cast<qsizetype>(view.size()));
}

QFont uiFont(bool bold = false)
{
    QFont font(u"Liberation Sans"_s);
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(bold ? 11 : 10);
    font.setBold(bold);
    return font;
}

void sunkenBox(QPainter& painter, const QRect& box, const QColor& fill)
{
    painter.fillRect(box, fill);
    painter.setPen(kShadow);
    painter.drawLine(box.topLeft(), box.topRight());
    painter.drawLine(box.topLeft(), box.bottomLeft());
    painter.setPen(Qt::white);
    painter.drawLine(box.bottomLeft(), box.bottomRight());
    painter.drawLine(box.topRight(), box.bottomRight());
}

void raisedBox(QPainter& painter, const QRect& box)
{
    painter.fillRect(box, kFace);
    painter.setPen(Qt::white);
    painter.drawLine(box.topLeft(), box.topRight());
    painter.drawLine(box.topLeft(), box.bottomLeft());
    painter.setPen(kShadow);
    painter.drawLine(box.bottomLeft(), box.bottomRight());
    painter.drawLine(box.topRight(), box.bottomRight());
}

// A red line under the text drawn with its left end at `left` on `baseline`.
void markUnder(QPainter& painter, int left, int baseline, const QString& marked)
{
    const int width = QFontMetrics(painter.font()).horizontalAdvance(marked);
    painter.fillRect(QRect(left - 1, baseline + 2, width + 2, 2), kMark);
}

void paintTitleBar(QPainter& painter)
{
    QLinearGradient gradient(0, 0, kGuidePictureWidth, 0);
    gradient.setColorAt(0, kSelection);
    gradient.setColorAt(1, QColor(0xA6, 0xCA, 0xF0));
    painter.fillRect(0, 0, kGuidePictureWidth, kTitleHeight, gradient);

    // The editor's icon: a small cube of blocks.
    painter.fillRect(3, 3, 12, 12, QColor(0x30, 0x60, 0xC0));
    painter.fillRect(4, 4, 5, 5, QColor(0x70, 0xB0, 0xF0));
    painter.fillRect(9, 9, 5, 5, QColor(0x70, 0xB0, 0xF0));

    painter.setFont(uiFont(true));
    painter.setPen(Qt::white);
    painter.drawText(QRect(20, 0, 200, kTitleHeight), Qt::AlignVCenter, u"Registry Editor"_s);

    const std::array<QString, 3> glyphs = {u"_"_s, u"\u25A1"_s, u"x"_s};
    for (int i = 0; i < 3; ++i) {
        const QRect button(kGuidePictureWidth - 50 + i * 16, 2, 15, 13);
        raisedBox(painter, button);
        painter.setPen(Qt::black);
        painter.drawText(button, Qt::AlignCenter, glyphs[static_cast<std::size_t>(i)]);
    }
}

void paintMenuBar(QPainter& painter)
{
    painter.fillRect(0, kMenuTop, kGuidePictureWidth, kMenuHeight, kFace);
    painter.setFont(uiFont());
    painter.setPen(Qt::black);
    int left = 6;
    for (const QString& item : {u"File"_s, u"Edit"_s, u"View"_s, u"Favorites"_s, u"Help"_s}) {
        painter.drawText(QRect(left, kMenuTop, 80, kMenuHeight), Qt::AlignVCenter, item);
        left += QFontMetrics(painter.font()).horizontalAdvance(item) + 14;
    }
}

void paintExpander(QPainter& painter, int x, int centreY, char expander)
{
    const QRect box(x, centreY - 4, 8, 8);
    painter.fillRect(box, Qt::white);
    painter.setPen(kShadow);
    painter.drawRect(box);
    painter.setPen(Qt::black);
    painter.drawLine(x + 2, centreY, x + 6, centreY);
    if (expander == '+') {
        painter.drawLine(x + 4, centreY - 2, x + 4, centreY + 2);
    }
}

void paintFolder(QPainter& painter, int x, int centreY, bool open)
{
    const QColor paper(0xF0, 0xD0, 0x60);
    painter.fillRect(x, centreY - 4, 5, 2, paper.darker(115));
    painter.fillRect(x, centreY - 3, 13, 8, open ? paper.lighter(110) : paper);
    painter.setPen(paper.darker(160));
    painter.drawRect(x, centreY - 3, 13, 8);
}

void paintTree(QPainter& painter)
{
    const QRect pane(0, kPaneTop, kTreeRight + 1, kStatusTop - kPaneTop - 1);
    sunkenBox(painter, pane, Qt::white);
    painter.save();
    painter.setClipRect(pane.adjusted(1, 1, -1, -1));
    painter.setFont(uiFont());
    const QFontMetrics metrics(painter.font());
    for (std::size_t row = 0; row < kTree.size(); ++row) {
        const TreeRow& entry = kTree[row];
        const int top = kPaneTop + 2 + static_cast<int>(row) * kRowHeight;
        const int centreY = top + kRowHeight / 2;
        const int indent = 3 + entry.level * 12;
        if (entry.expander != ' ') {
            paintExpander(painter, indent - 1, centreY, entry.expander);
        }
        paintFolder(painter, indent + 10, centreY, entry.expander == '-');
        const QString name = text(entry.name);
        const int left = indent + 27;
        const int baseline = top + metrics.ascent();
        if (row == kSelectedRow) {
            painter.fillRect(left - 1, top, metrics.horizontalAdvance(name) + 3, kRowHeight,
                             kSelection);
            painter.setPen(Qt::white);
        } else {
            painter.setPen(Qt::black);
        }
        painter.drawText(left, baseline, name);
        if (row == kSelectedRow) {
            markUnder(painter, left, baseline, name);
        }
    }
    painter.restore();
}

void paintValueIcon(QPainter& painter, int x, int centreY)
{
    painter.fillRect(x, centreY - 5, 13, 10, Qt::white);
    painter.setPen(kShadow);
    painter.drawRect(x, centreY - 5, 13, 10);
    QFont font = uiFont(true);
    font.setPixelSize(8);
    painter.setFont(font);
    painter.setPen(kMark);
    painter.drawText(QRect(x, centreY - 5, 14, 10), Qt::AlignCenter, u"ab"_s);
    painter.setFont(uiFont());
}

void paintValues(QPainter& painter)
{
    const QRect pane(kListLeft, kPaneTop, kGuidePictureWidth - kListLeft,
                     kStatusTop - kPaneTop - 1);
    sunkenBox(painter, pane, Qt::white);
    painter.save();
    painter.setClipRect(pane.adjusted(1, 1, -1, -1));
    painter.setFont(uiFont());
    const QFontMetrics metrics(painter.font());

    constexpr int nameLeft = kListLeft + 2;
    constexpr int typeLeft = nameLeft + 64;
    constexpr int dataLeft = typeLeft + 46;
    const std::array<std::pair<int, QString>, 3> headers = {
        {{nameLeft, u"Name"_s}, {typeLeft, u"Type"_s}, {dataLeft, u"Data"_s}}};
    for (std::size_t i = 0; i < headers.size(); ++i) {
        const int right = i + 1 < headers.size() ? headers[i + 1].first : kGuidePictureWidth;
        const QRect header(headers[i].first - 1, kPaneTop + 1, right - headers[i].first, 15);
        raisedBox(painter, header);
        painter.setPen(Qt::black);
        painter.drawText(header.adjusted(5, 0, 0, 0), Qt::AlignVCenter, headers[i].second);
    }

    for (std::size_t row = 0; row < kValues.size(); ++row) {
        const ValueRow& value = kValues[row];
        const int top = kPaneTop + 17 + static_cast<int>(row) * kRowHeight;
        const int baseline = top + metrics.ascent();
        paintValueIcon(painter, nameLeft + 2, top + kRowHeight / 2);
        painter.setPen(Qt::black);
        const QString name = text(value.name);
        painter.drawText(nameLeft + 19, baseline, name);
        painter.drawText(typeLeft + 4, baseline, u"REG_SZ"_s);
        const QString data = text(value.data);
        painter.drawText(dataLeft + 4, baseline, data);
        if (name == u"key"_s || name == u"username"_s) {
            markUnder(painter, nameLeft + 19, baseline, name);
        }
        if (name == u"key"_s) {
            // The middle of the key is blanked, as anyone showing theirs would do.
            const int from = dataLeft + 4 + metrics.horizontalAdvance(data.left(4));
            const int to = dataLeft + 4 + metrics.horizontalAdvance(data.left(data.size() - 4));
            painter.fillRect(from, top + 1, to - from, kRowHeight - 2, Qt::black);
        }
    }
    painter.restore();
}

void paintStatusBar(QPainter& painter)
{
    painter.fillRect(0, kStatusTop, kGuidePictureWidth, kGuidePictureHeight - kStatusTop, kFace);
    const QRect field(2, kStatusTop + 2, kGuidePictureWidth - 4, kStatusHeight - 3);
    sunkenBox(painter, field, kFace);
    painter.setFont(uiFont());
    painter.setPen(Qt::black);
    painter.drawText(field.adjusted(4, 0, 0, 0), Qt::AlignVCenter,
                     u"My Computer\\HKEY_CURRENT_USER\\Software\\Brask\\mlun\\DLM"_s);
}

} // namespace

QImage paintGuidePicture()
{
    QImage picture(kGuidePictureWidth, kGuidePictureHeight, QImage::Format_RGB32);
    picture.fill(kFace);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::TextAntialiasing);
    paintTitleBar(painter);
    paintMenuBar(painter);
    painter.fillRect(kTreeRight + 1, kPaneTop, kListLeft - kTreeRight - 1, kStatusTop - kPaneTop,
                     kFace);
    paintTree(painter);
    paintValues(painter);
    paintStatusBar(painter);
    return picture;
}

} // namespace kqget::tools
