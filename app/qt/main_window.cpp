#include "app/qt/main_window.h"

#include "app/control_table.h"
#include "app/qt/dialog_font.h"
#include "app/window_texts.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionFocusRect>

#include <array>
#include <stdexcept>
#include <string>
#include <utility>

namespace kqget {

namespace {

QString toQString(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QCheckBox& checkBox(QWidget* target, Control control)
{
    auto* box = qobject_cast<QCheckBox*>(target);
    if (box == nullptr) {
        throw std::logic_error("control " + std::string(controlName(control)) +
                               " is not a check box");
    }
    return *box;
}

// The guide picture: a label that shows where it has the keyboard focus, as
// the buttons and fields do (the style decides when focus is shown at all).
// Deliberately without Q_OBJECT: to the toolkit and the tests it is a label.
class GuidePictureLabel final : public QLabel
{
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QLabel::paintEvent(event);
        if (!hasFocus()) {
            return;
        }
        QPainter painter(this);
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = contentsRect();
        option.backgroundColor = palette().color(QPalette::Window);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
};

} // namespace

// The window's widgets, one for each control; the window owns them.
class MainWindow::WidgetView final : public WindowView
{
public:
    WidgetView(MainWindow& window, MessageBoxes& messageBoxes)
        : m_window(window), m_messageBoxes(messageBoxes)
    {}

    void add(Control control, QWidget* widget) { m_controls[index(control)] = widget; }
    QWidget* widget(Control control) const
    {
        QWidget* found = m_controls[index(control)];
        if (found == nullptr) {
            throw std::logic_error("the control " + std::string(controlName(control)) +
                                   " is not made yet");
        }
        return found;
    }

    std::string text(Control control) const override;
    void setText(Control control, std::string_view text) override;
    bool isEnabled(Control control) const override;
    void setEnabled(Control control, bool enabled) override;
    void setFocus(Control control) override;
    CheckValue checkValue(Control control) const override;
    void setCheckValue(Control control, CheckValue value) override;
    void processPendingEvents() override;
    void showFailure(int number, std::string_view description) override;
    void showNotice(std::string_view text) override;
    void endProgram(int exitStatus) override;

private:
    MainWindow& m_window;
    MessageBoxes& m_messageBoxes;
    static std::size_t index(Control control) { return static_cast<std::size_t>(control); }

    std::array<QWidget*, kControlTable.size()> m_controls{};
};

std::string MainWindow::WidgetView::text(Control control) const
{
    QWidget* target = widget(control);
    if (auto* label = qobject_cast<QLabel*>(target)) {
        return label->text().toStdString();
    }
    if (auto* field = qobject_cast<QLineEdit*>(target)) {
        return field->text().toStdString();
    }
    if (auto* button = qobject_cast<QAbstractButton*>(target)) {
        return button->text().toStdString();
    }
    if (auto* frame = qobject_cast<QGroupBox*>(target)) {
        return frame->title().toStdString();
    }
    throw std::logic_error("control " + std::string(controlName(control)) + " has no text");
}

void MainWindow::WidgetView::setText(Control control, std::string_view text)
{
    QWidget* target = widget(control);
    const QString value = toQString(text);
    if (auto* label = qobject_cast<QLabel*>(target)) {
        label->setText(value);
    } else if (auto* field = qobject_cast<QLineEdit*>(target)) {
        field->setText(value);
    } else if (auto* button = qobject_cast<QAbstractButton*>(target)) {
        button->setText(value);
    } else if (auto* frame = qobject_cast<QGroupBox*>(target)) {
        frame->setTitle(value);
    } else {
        throw std::logic_error("control " + std::string(controlName(control)) + " has no text");
    }
}

bool MainWindow::WidgetView::isEnabled(Control control) const
{
    return widget(control)->isEnabled();
}

void MainWindow::WidgetView::setEnabled(Control control, bool enabled)
{
    widget(control)->setEnabled(enabled);
}

void MainWindow::WidgetView::setFocus(Control control)
{
    widget(control)->setFocus(Qt::OtherFocusReason);
}

CheckValue MainWindow::WidgetView::checkValue(Control control) const
{
    switch (checkBox(widget(control), control).checkState()) {
    case Qt::Checked:
        return CheckValue::Ticked;
    case Qt::PartiallyChecked:
        return CheckValue::Grey;
    case Qt::Unchecked:
        break;
    }
    return CheckValue::Unticked;
}

void MainWindow::WidgetView::setCheckValue(Control control, CheckValue value)
{
    // Qt signals the change, which runs the box's handler.
    constexpr Qt::CheckState kStates[] = {Qt::Unchecked, Qt::Checked, Qt::PartiallyChecked};
    checkBox(widget(control), control).setCheckState(kStates[static_cast<int>(value)]);
}

void MainWindow::WidgetView::processPendingEvents()
{
    QCoreApplication::processEvents();
}

void MainWindow::WidgetView::showFailure(int number, std::string_view description)
{
    m_messageBoxes.showFailure(&m_window, number, toQString(description));
}

void MainWindow::WidgetView::showNotice(std::string_view text)
{
    m_messageBoxes.showNotice(&m_window, toQString(text));
}

void MainWindow::WidgetView::endProgram(int exitStatus)
{
    emit m_window.programEndRequested(exitStatus);
}

MainWindow::MainWindow(MessageBoxes& messageBoxes, WindowLogic::TransferFactory makeTransfer,
                       ServiceHosts hosts)
    : m_view(std::make_unique<WidgetView>(*this, messageBoxes)),
      m_logic(*m_view, *m_fileSystem, std::move(makeTransfer), std::string(kRunLogFileName),
              std::move(hosts))
{
    setObjectName(toQString(kWindowName));
    setWindowTitle(toQString(kWindowTitle));
    setFont(dialogFont());
    const QSize clientSize(twipsToPixels(kClientWidthTwips), twipsToPixels(kClientHeightTwips));
    setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, clientSize,
                                    screen()->availableGeometry()));

    buildControls();

    // Connected before the load handler so that a value the program writes into
    // the box runs the box's handler, as a click does.
    connect(qobject_cast<QCheckBox*>(m_view->widget(Control::Confirm)), &QCheckBox::stateChanged,
            this, [this] { m_logic.confirmClicked(); });
    connect(qobject_cast<QPushButton*>(m_view->widget(Control::Update)), &QPushButton::clicked,
            this, [this] { m_logic.updateClicked(); });
    connect(qobject_cast<QPushButton*>(m_view->widget(Control::Reset)), &QPushButton::clicked, this,
            [this] { m_logic.resetClicked(); });

    m_logic.load();
}

MainWindow::~MainWindow() = default;

void MainWindow::buildControls()
{
    QWidget* previousFocusable = nullptr;
    for (const ControlEntry& control : kControlTable) {
        QWidget* container = control.container == kWindowName
                                 ? this
                                 : findChild<QWidget*>(toQString(control.container));
        if (container == nullptr) {
            throw std::logic_error("control table: " + std::string(control.name) +
                                   " comes before its container " + std::string(control.container));
        }
        QWidget* made = makeControl(control, container);
        made->setObjectName(toQString(control.name));
        made->setGeometry(twipsToPixels(control.left), twipsToPixels(control.top),
                          twipsToPixels(control.width), twipsToPixels(control.height));
        made->setEnabled(control.setting != ControlSetting::Disabled);
        // Set on each control, not only inherited from the window: a style
        // sheet given on the command line may set a frame's font, and the
        // controls inside it would follow into sizes the layout has no room for.
        made->setFont(dialogFont());
        if (made->focusPolicy() != Qt::NoFocus) {
            if (previousFocusable != nullptr) {
                setTabOrder(previousFocusable, made);
            }
            previousFocusable = made;
        }
        m_view->add(control.control, made);
    }
    // A screen reader names each field by its caption.
    for (const FieldCaption& pair : kFieldCaptions) {
        qobject_cast<QLabel*>(m_view->widget(pair.caption))->setBuddy(m_view->widget(pair.field));
    }
}

QWidget* MainWindow::makeControl(const ControlEntry& control, QWidget* container)
{
    const QString text = toQString(control.text);
    switch (control.kind) {
    case ControlKind::CommandButton: {
        auto* button = new QPushButton(text, container);
        // Enter presses the button that has the focus, as Space does.
        button->setAutoDefault(true);
        return button;
    }
    case ControlKind::PictureBox: {
        auto* picture = new GuidePictureLabel(container);
        picture->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
        picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        picture->setPixmap(QPixmap(toQString(kGuidePictureResource)));
        // In the tab order like any picture box, though it has nothing to type into.
        picture->setFocusPolicy(Qt::StrongFocus);
        picture->setAccessibleName(toQString(kGuidePictureName));
        picture->setAccessibleDescription(toQString(kGuidePictureDescription));
        return picture;
    }
    case ControlKind::Label: {
        auto* label = new QLabel(container);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        const Qt::Alignment horizontal =
            control.setting == ControlSetting::FieldCaption ? Qt::AlignRight : Qt::AlignLeft;
        label->setAlignment(horizontal | Qt::AlignTop);
        label->setText(text);
        return label;
    }
    case ControlKind::TextBox:
        return new QLineEdit(text, container);
    case ControlKind::Frame:
        return new QGroupBox(text, container);
    case ControlKind::CheckBox:
        return new QCheckBox(text, container);
    }
    throw std::logic_error("control table: unknown kind of " + std::string(control.name));
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // The window goes at once, so the user sees the close was taken; a run
    // under way notices within its next wait and ends with its log closed.
    m_logic.closing();
    event->accept();
}

} // namespace kqget
