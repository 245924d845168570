#pragma once

#include <QString>

class QWidget;

namespace kqget {

// Tells the user about the failure that ends the program. The window asks it
// once and ends the program when it returns.
class ErrorReport
{
public:
    virtual ~ErrorReport() = default;
    virtual void show(QWidget* parent, int number, const QString& description) = 0;
};

// The ordinary report: a modal message box with the number and description.
class MessageBoxErrorReport final : public ErrorReport
{
public:
    void show(QWidget* parent, int number, const QString& description) override;
};

// The message box's text for a failure.
QString errorReportText(int number, const QString& description);

} // namespace kqget
