#include "app/qt/message_boxes.h"

#include <QMessageBox>

namespace kqget {

using namespace Qt::Literals::StringLiterals;

namespace {

void showModal(QWidget* parent, QMessageBox::Icon icon, const QString& objectName,
               const QString& text)
{
    QMessageBox box(icon, u"kqget"_s, text, QMessageBox::Ok, parent);
    box.setObjectName(objectName);
    box.exec();
}

} // namespace

QString failureText(int number, const QString& description)
{
    return u"Error %1\n\n%2"_s.arg(number).arg(description);
}

void ModalMessageBoxes::showFailure(QWidget* parent, int number, const QString& description)
{
    showModal(parent, QMessageBox::Critical, u"errorReport"_s, failureText(number, description));
}

void ModalMessageBoxes::showNotice(QWidget* parent, const QString& text)
{
    showModal(parent, QMessageBox::Information, u"notice"_s, text);
}

} // namespace kqget
