#include "app/main_window.h"

#include "app/control_table.h"
#include "app/dialog_font.h"
#include "platform/local_file_system.h"
#include "platform/qt_progress.h"
#include "update/card_update_run.h"
#include "update/exit_status.h"
#include "update/run_error.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include <exception>
#include <optional>
#include <stdexcept>
#include <utility>

namespace kqget {

namespace {

QString toQString(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Marks the window as running for the length of one run, whichever way it ends.
class RunScope
{
public:
    RunScope(QtProgress*& slot, QtProgress& progress) : m_slot(slot) { m_slot = &progress; }
    ~RunScope() { m_slot = nullptr; }
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;

private:
    QtProgress*& m_slot;
};

} // namespace

MainWindow::MainWindow(ErrorReport& errorReport, TransferFactory makeTransfer)
    : m_errorReport(errorReport), m_makeTransfer(std::move(makeTransfer))
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
    connect(m_confirm, &QCheckBox::stateChanged, this, &MainWindow::confirmClicked);
    connect(m_update, &QPushButton::clicked, this, &MainWindow::updateClicked);
    connect(m_reset, &QPushButton::clicked, this, &MainWindow::resetClicked);

    load();
}

MainWindow::~MainWindow() = default;

void MainWindow::buildControls()
{
    QWidget* previousFocusable = nullptr;
    for (const ControlSpec& control : kControlTable) {
        QWidget* container = control.container == kWindowName
                                 ? this
                                 : findChild<QWidget*>(toQString(control.container));
        if (container == nullptr) {
            throw std::logic_error("control table: " + std::string(control.name) +
                                   " comes before its container " + std::string(control.container));
        }
        QWidget* widget = makeControl(control, container);
        widget->setObjectName(toQString(control.name));
        widget->setGeometry(twipsToPixels(control.left), twipsToPixels(control.top),
                            twipsToPixels(control.width), twipsToPixels(control.height));
        widget->setEnabled(control.setting != ControlSetting::Disabled);
        if (widget->focusPolicy() != Qt::NoFocus) {
            if (previousFocusable != nullptr) {
                setTabOrder(previousFocusable, widget);
            }
            previousFocusable = widget;
        }
    }

    const auto find = [this]<typename Widget>(Widget*& member, std::string_view name) {
        member = findChild<Widget*>(toQString(name));
        if (member == nullptr) {
            throw std::logic_error("control table: no " + std::string(name));
        }
    };
    find(m_update, "Command1");
    find(m_reset, "Command2");
    find(m_confirm, "Check1");
    find(m_guide, "Label1");
    find(m_instructions, "Label7");
    find(m_key, "tKEY");
    find(m_userName, "tUSERNAME");
    find(m_dataFolder, "tDATA");
    find(m_size, "Text1");
    find(m_status, "Text2");
}

QWidget* MainWindow::makeControl(const ControlSpec& control, QWidget* container)
{
    const QString text = toQString(control.text);
    switch (control.kind) {
    case ControlKind::CommandButton:
        return new QPushButton(text, container);
    case ControlKind::PictureBox: {
        auto* picture = new QLabel(container);
        picture->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
        picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        picture->setPixmap(QPixmap(toQString(kGuidePictureResource)));
        // In the tab order like any picture box, though it has nothing to type into.
        picture->setFocusPolicy(Qt::StrongFocus);
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

void MainWindow::load()
{
    m_update->setEnabled(false);
    m_confirm->setCheckState(Qt::Unchecked);

    const auto appendLine = [](QLabel* label, std::string_view line) {
        label->setText(label->text() + toQString(kCaptionLineBreak) + toQString(line));
    };
    m_guide->setText(toQString(kGuideLines[0]) + toQString(kCaptionLineBreak) +
                     toQString(kGuideLines[1]));
    appendLine(m_guide, kGuideLines[2]);
    m_instructions->setText(toQString(kInstructionLines[0]));
    for (std::size_t line = 1; line < kInstructionLines.size(); ++line) {
        appendLine(m_instructions, kInstructionLines[line]);
    }
}

void MainWindow::confirmClicked()
{
    m_update->setEnabled(m_confirm->checkState() == Qt::Checked);
}

void MainWindow::resetClicked()
{
    m_update->setText(toQString(kUpdateCaption));
    m_confirm->setCheckState(Qt::Unchecked);
    m_confirm->setEnabled(true);
    m_reset->setEnabled(false);
}

void MainWindow::updateClicked()
{
    if (runUnderWay()) {
        return;
    }
    QtProgress progress({m_update, m_confirm, m_reset, m_dataFolder, m_size, m_status});
    const RunScope running(m_runProgress, progress);
    const RunInputs inputs{m_key->text().toStdString(), m_userName->text().toStdString(),
                           m_dataFolder->text().toStdString()};

    LocalFileSystem fileSystem;
    RunTally tally;
    std::optional<std::pair<int, QString>> failure;
    try {
        const std::unique_ptr<TransferPort> transfer =
            m_makeTransfer([&progress] { progress.processPendingEvents(); });
        tally = CardUpdateRun(progress, fileSystem, *transfer).run(inputs);
    } catch (const RunError& error) {
        failure.emplace(error.code(), QString::fromUtf8(error.what()));
    } catch (const std::exception& error) {
        failure.emplace(kUnexpectedErrorNumber, QString::fromUtf8(error.what()));
    }
    progress.showPendingTexts();

    if (failure) {
        m_errorReport.show(this, failure->first, failure->second);
        emit programEndRequested(exitCode(ExitStatus::Failed));
    } else if (tally.stopped) {
        emit programEndRequested(exitCode(ExitStatus::Done));
    }
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // The run notices at its next safe point and ends with its log closed; the
    // window goes at once so the user sees the close was taken.
    if (m_runProgress != nullptr) {
        m_runProgress->requestStop();
    }
    event->accept();
}

} // namespace kqget
