#include "app/qt/window_screenshot.h"

#include <QCoreApplication>
#include <QImageWriter>
#include <QPixmap>
#include <QWidget>

namespace kqget {

bool saveWindowScreenshot(QWidget& window, const QString& path, QString* problem)
{
    // The first paint and the focus of the first display happen in queued events.
    QCoreApplication::processEvents();
    QImageWriter writer(path, "png");
    if (writer.write(window.grab().toImage())) {
        return true;
    }
    if (problem != nullptr) {
        *problem = writer.errorString();
    }
    return false;
}

} // namespace kqget
