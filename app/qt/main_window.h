#pragma once

#include "app/qt/message_boxes.h"
#include "app/window_logic.h"
#include "platform/native_ports.h"

#include <QWidget>

#include <memory>

class QCloseEvent;

namespace kqget {

struct ControlEntry;

// The program's one window, `Form1`, in Qt: its controls built from the control
// table, and their events handed to WindowLogic, which does all the work
// through a WindowView on these widgets.
class MainWindow : public QWidget
{
    Q_OBJECT

public:
    MainWindow(MessageBoxes& messageBoxes, WindowLogic::TransferFactory makeTransfer,
               ServiceHosts hosts = ServiceBases::configured().hosts());
    ~MainWindow() override;

    bool runUnderWay() const noexcept { return m_logic.runUnderWay(); }

signals:
    // The program is to end with this status: a failure ended the run (after its
    // report), or the window was closed while a run was under way.
    void programEndRequested(int exitStatus);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    QWidget* makeControl(const ControlEntry& control, QWidget* container);

    class WidgetView; // the WindowView on this window's widgets

    std::unique_ptr<WidgetView> m_view;
    std::unique_ptr<FileSystemPort> m_fileSystem = makeNativeFileSystem();
    WindowLogic m_logic;
};

} // namespace kqget
