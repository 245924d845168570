#pragma once

#include "app/error_report.h"
#include "update/transfer_port.h"

#include <QWidget>

#include <functional>
#include <memory>

class QCheckBox;
class QCloseEvent;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kqget {

class QtProgress;
struct ControlSpec;

// Reported for an exception that is not one of the run's own failures.
inline constexpr int kUnexpectedErrorNumber = 70;

// The program's one window, `Form1`, built from the control table. Its whole
// state lives in its controls' properties; a run works on its thread and
// keeps it responsive by processing pending events.
class MainWindow : public QWidget
{
    Q_OBJECT

public:
    // Makes the transfer of one run; it calls `idle` while a fetch waits.
    using TransferFactory =
        std::function<std::unique_ptr<TransferPort>(std::function<void()> idle)>;

    explicit MainWindow(ErrorReport& errorReport, TransferFactory makeTransfer);
    ~MainWindow() override;

    bool runUnderWay() const noexcept { return m_runProgress != nullptr; }

signals:
    // The program is to end with this status: a failure ended the run (after its
    // report), or the window was closed while a run was under way.
    void programEndRequested(int exitStatus);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    QWidget* makeControl(const ControlSpec& control, QWidget* container);
    void load();
    void confirmClicked();
    void updateClicked();
    void resetClicked();

    ErrorReport& m_errorReport;
    TransferFactory m_makeTransfer;
    QtProgress* m_runProgress = nullptr; // set while a run is under way

    QPushButton* m_update = nullptr;   // Command1
    QPushButton* m_reset = nullptr;    // Command2
    QCheckBox* m_confirm = nullptr;    // Check1
    QLabel* m_guide = nullptr;         // Label1
    QLabel* m_instructions = nullptr;  // Label7
    QLineEdit* m_key = nullptr;        // tKEY
    QLineEdit* m_userName = nullptr;   // tUSERNAME
    QLineEdit* m_dataFolder = nullptr; // tDATA
    QLineEdit* m_size = nullptr;       // Text1
    QLineEdit* m_status = nullptr;     // Text2
};

} // namespace kqget
