#include "app/control_table.h"
#include "app/qt/main_window.h"
#include "tests/app/qt/window_probe.h"
#include "update/transfer_port.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QDebug>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOption>
#include <QTest>

#include <algorithm>
#include <memory>

namespace kqget::testing {

using namespace Qt::Literals::StringLiterals;

namespace {

std::unique_ptr<TransferPort> noTransfer()
{
    return nullptr;
}

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

const char* kindName(ControlKind kind)
{
    switch (kind) {
    case ControlKind::CommandButton:
        return "QPushButton";
    case ControlKind::PictureBox:
    case ControlKind::Label:
        return "QLabel";
    case ControlKind::TextBox:
        return "QLineEdit";
    case ControlKind::Frame:
        return "QGroupBox";
    case ControlKind::CheckBox:
        return "QCheckBox";
    }
    return "";
}

// The caption or text the control shows once the window is on screen.
QString shownText(QWidget* widget)
{
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        return label->text();
    }
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        return button->text();
    }
    if (auto* field = qobject_cast<QLineEdit*>(widget)) {
        return field->text();
    }
    if (auto* frame = qobject_cast<QGroupBox*>(widget)) {
        return frame->title();
    }
    return {};
}

// Where the control draws its text, and how it lays it out there.
struct TextArea
{
    QRect rect;
    int flags = 0;
};

TextArea textAreaOf(QWidget* widget)
{
    QStyle* style = widget->style();
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        return {label->contentsRect(),
                static_cast<int>(label->alignment()) |
                    (label->wordWrap() ? static_cast<int>(Qt::TextWordWrap) : 0)};
    }
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        return {style->subElementRect(QStyle::SE_PushButtonContents, &option, button),
                Qt::AlignCenter | Qt::TextSingleLine};
    }
    if (auto* box = qobject_cast<QCheckBox*>(widget)) {
        QStyleOptionButton option;
        option.initFrom(box);
        option.text = box->text();
        return {style->subElementRect(QStyle::SE_CheckBoxContents, &option, box),
                Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine};
    }
    if (auto* field = qobject_cast<QLineEdit*>(widget)) {
        // As QLineEdit lays out its line: the style's contents, less the text
        // margins and the fixed inner margins of 2 and 1 pixels.
        QStyleOptionFrame option;
        option.initFrom(field);
        option.lineWidth = style->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, field);
        const QRect contents = style->subElementRect(QStyle::SE_LineEditContents, &option, field)
                                   .marginsRemoved(field->textMargins())
                                   .adjusted(2, 1, -2, -1);
        return {contents, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine};
    }
    if (auto* frame = qobject_cast<QGroupBox*>(widget)) {
        QStyleOptionGroupBox option;
        option.initFrom(frame);
        option.text = frame->title();
        option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        return {
            style->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, frame),
            Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine};
    }
    return {};
}

} // namespace

class MainWindowLayoutTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_window = std::make_unique<MainWindow>(m_boxes, noTransfer); }
    void cleanup() { m_window.reset(); }

    void controlsStandAsTheTableSays_data()
    {
        QTest::addColumn<int>("row");
        for (std::size_t row = 0; row < kControlTable.size(); ++row) {
            QTest::newRow(kControlTable[row].name.data()) << static_cast<int>(row);
        }
    }
    void controlsStandAsTheTableSays()
    {
        QFETCH(int, row);
        const ControlEntry& expected = kControlTable[static_cast<std::size_t>(row)];
        QWidget* widget = control<QWidget>(*m_window, expected.name);
        QVERIFY(widget != nullptr);
        QCOMPARE(widget->metaObject()->className(), kindName(expected.kind));
        QCOMPARE(widget->parentWidget()->objectName(), qs(expected.container));
        QCOMPARE(widget->geometry(), QRect(expected.left / 15, expected.top / 15,
                                           expected.width / 15, expected.height / 15));
        // Label1 and Label7 get their texts at load; the other captions stay.
        if (expected.name != "Label1" && expected.name != "Label7") {
            QCOMPARE(shownText(widget), qs(expected.text));
        }
        // After load both buttons are off; everything else is on.
        const bool enabled = expected.name != "Command1" && expected.name != "Command2";
        QCOMPARE(widget->isEnabled(), enabled);
        if (auto* label = qobject_cast<QLabel*>(widget);
            label && expected.kind == ControlKind::Label) {
            const Qt::Alignment side =
                expected.setting == ControlSetting::FieldCaption ? Qt::AlignRight : Qt::AlignLeft;
            QCOMPARE(label->alignment() & Qt::AlignHorizontal_Mask, side);
            QCOMPARE(label->textFormat(), Qt::PlainText);
        }
        if (auto* field = qobject_cast<QLineEdit*>(widget)) {
            QVERIFY(!field->isReadOnly());
            QCOMPARE(field->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
        }
    }

    void windowFrameAndPlace()
    {
        QCOMPARE(m_window->objectName(), u"Form1"_s);
        QCOMPARE(m_window->windowTitle(), u"Form1"_s);
        QCOMPARE(m_window->size(), QSize(882, 586));
        QCOMPARE(m_window->geometry().center(), m_window->screen()->availableGeometry().center());
        QVERIFY(m_window->minimumSize() != m_window->maximumSize());
        QVERIFY(!m_window->testAttribute(Qt::WA_SetWindowIcon));
        QVERIFY(m_window->layout() == nullptr);
    }

    // Every caption, initial text and load-time label text shows whole in the
    // dialog font: no letter clipped, no line of a label beyond its height.
    void everyTextFits_data()
    {
        QTest::addColumn<QString>("name");
        for (const ControlEntry& expected : kControlTable) {
            if (expected.kind != ControlKind::PictureBox) {
                QTest::newRow(expected.name.data()) << qs(expected.name);
            }
        }
    }
    void everyTextFits()
    {
        QFETCH(QString, name);
        QWidget* widget = m_window->findChild<QWidget*>(name);
        m_window->show();
        // Spaces at the end draw nothing, so they may run past the edge.
        QString text = shownText(widget);
        while (text.endsWith(u' ')) {
            text.chop(1);
        }
        const TextArea area = textAreaOf(widget);
        const QFontMetrics metrics(widget->font());
        QCOMPARE(QFontInfo(widget->font()).family(), u"Liberation Sans"_s);

        const QRect needed = metrics.boundingRect(area.rect, area.flags, text);
        QVERIFY2(
            metrics.height() <= area.rect.height(),
            qPrintable(u"line height %1 in %2"_s.arg(metrics.height()).arg(area.rect.height())));
        QString sizes;
        QDebug(&sizes) << "text needs" << needed << "has" << area.rect;
        QVERIFY2(area.rect.contains(needed), qPrintable(sizes));
        QVERIFY(widget->rect().contains(area.rect));

        // A frame's caption line must not be covered by what the frame holds.
        if (qobject_cast<QGroupBox*>(widget) != nullptr) {
            for (QWidget* child : widget->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                QVERIFY2(!child->geometry().intersects(area.rect), qPrintable(child->objectName()));
            }
        }
    }

    // What a screen reader hears of each control: its role and its name, a
    // field's from its caption.
    void everyControlHasItsRoleAndName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("spoken");
        const auto row = [](const char* name, QAccessible::Role role, std::string_view spoken) {
            QTest::newRow(name) << QString::fromLatin1(name) << static_cast<int>(role)
                                << qs(spoken);
        };
        row("Command1", QAccessible::Button, kUpdateCaption);
        row("Command2", QAccessible::Button, kResetCaption);
        row("Picture1", QAccessible::Graphic, kGuidePictureName);
        row("Check1", QAccessible::CheckBox, kConfirmCaption);
        row("Frame1", QAccessible::Grouping, "Status Updates");
        for (const FieldCaption& pair : kFieldCaptions) {
            const ControlEntry& caption = controlEntry(pair.caption);
            row(controlName(pair.field).data(), QAccessible::EditableText, caption.text);
            row(caption.name.data(), QAccessible::StaticText, caption.text);
        }
    }
    void everyControlHasItsRoleAndName()
    {
        QFETCH(QString, name);
        QFETCH(int, role);
        QFETCH(QString, spoken);
        QAccessibleInterface* read =
            QAccessible::queryAccessibleInterface(m_window->findChild<QWidget*>(name));
        QVERIFY(read != nullptr);
        QCOMPARE(static_cast<int>(read->role()), role);
        QCOMPARE(read->text(QAccessible::Name), spoken);
        if (name == u"Picture1"_s) {
            QCOMPARE(read->text(QAccessible::Description), qs(kGuidePictureDescription));
        }
    }

    // Any style sheet from the command line, even one that sets no font,
    // resolves the fonts anew; every control keeps the dialog font, so no
    // caption is cut.
    void theFontHoldsUnderAStyleSheet()
    {
        qApp->setStyleSheet(u"QPushButton { color: black; }"_s);
        MainWindow styled(m_boxes, noTransfer);
        styled.show();
        for (const ControlEntry& entry : kControlTable) {
            QCOMPARE(QFontInfo(control<QWidget>(styled, entry.name)->font()).pixelSize(), 11);
        }
        qApp->setStyleSheet({});
    }

    void guidePictureShowsUnscaledAtTopLeft()
    {
        auto* picture = control<QLabel>(*m_window, "Picture1");
        QCOMPARE(picture->pixmap().size(), QSize(400, 221));
        QVERIFY(!picture->hasScaledContents());
        QCOMPARE(picture->alignment(), Qt::AlignLeft | Qt::AlignTop);
        QCOMPARE(picture->frameShadow(), QFrame::Sunken);
        QCOMPARE(picture->contentsRect().topLeft(), QPoint(2, 2));
        QCOMPARE(picture->focusPolicy(), Qt::StrongFocus);
    }

    // The cycle the Tab key makes from Picture1, with the buttons and box as
    // given: disabled controls are skipped, labels and frames never take focus.
    void tabOrder_data()
    {
        QTest::addColumn<bool>("update");
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<bool>("reset");
        QTest::addColumn<QStringList>("cycle");
        const QStringList fields = {u"tKEY"_s, u"tUSERNAME"_s, u"tDATA"_s, u"Text2"_s, u"Text1"_s};
        QTest::newRow("ready") << false << true << false
                               << (fields + QStringList{u"Check1"_s, u"Picture1"_s});
        QTest::newRow("confirmed")
            << true << true << false
            << (fields + QStringList{u"Check1"_s, u"Command1"_s, u"Picture1"_s});
        QTest::newRow("running") << false << false << false
                                 << (fields + QStringList{u"Picture1"_s});
        QTest::newRow("done") << false << false << true
                              << (fields + QStringList{u"Command2"_s, u"Picture1"_s});
    }
    void tabOrder()
    {
        QFETCH(bool, update);
        QFETCH(bool, confirm);
        QFETCH(bool, reset);
        QFETCH(QStringList, cycle);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        QCOMPARE(QApplication::focusWidget()->objectName(), u"Picture1"_s);

        control<QWidget>(*m_window, "Command1")->setEnabled(update);
        control<QWidget>(*m_window, "Check1")->setEnabled(confirm);
        control<QWidget>(*m_window, "Command2")->setEnabled(reset);
        QStringList visited;
        for (qsizetype step = 0; step < cycle.size(); ++step) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(visited, cycle);
    }

private:
    RecordingMessageBoxes m_boxes;
    std::unique_ptr<MainWindow> m_window;
};

} // namespace kqget::testing

QTEST_MAIN(kqget::testing::MainWindowLayoutTest)
#include "main_window_layout_test.moc"
