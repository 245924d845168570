#include "app/error_report.h"

#include <QMessageBox>

namespace kqget {

using namespace Qt::Literals::StringLiterals;

QString errorReportText(int number, const QString& description)
{
    return u"Error %1\n\n%2"_s.arg(number).arg(description);
}

void MessageBoxErrorReport::show(QWidget* parent, int number, const QString& description)
{
    QMessageBox box(QMessageBox::Critical, u"kqget"_s, errorReportText(number, description),
                    QMessageBox::Ok, parent);
    box.setObjectName(u"errorReport"_s);
    box.exec();
}

} // namespace kqget
