#pragma once

#include <QString>

class QWidget;

namespace kqget {

// The window's two message boxes, behind one seam so that a test can answer
// them. Each returns once the user has dismissed its box.
class MessageBoxes
{
public:
    virtual ~MessageBoxes() = default;
    // The failure that ends the program; the window ends it when this returns.
    virtual void showFailure(QWidget* parent, int number, const QString& description) = 0;
    // What a finished run left for the user to know.
    virtual void showNotice(QWidget* parent, const QString& text) = 0;
};

// The ordinary boxes: modal, with an OK button.
class ModalMessageBoxes final : public MessageBoxes
{
public:
    void showFailure(QWidget* parent, int number, const QString& description) override;
    void showNotice(QWidget* parent, const QString& text) override;
};

// The failure box's text.
QString failureText(int number, const QString& description);

} // namespace kqget
