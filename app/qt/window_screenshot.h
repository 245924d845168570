#pragma once

#include <QString>

class QWidget;

namespace kqget {

// Saves the shown window as a PNG once it has painted; false with a reason
// when the file cannot be written.
bool saveWindowScreenshot(QWidget& window, const QString& path, QString* problem);

} // namespace kqget
