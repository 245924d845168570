#include "platform/qt_progress.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>

namespace kqget {

namespace {

QString toQString(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

QtProgress::QtProgress(const ProgressWidgets& widgets, std::chrono::milliseconds eventInterval)
    : m_widgets(widgets), m_eventInterval(eventInterval)
{}

void QtProgress::setUpdateEnabled(bool enabled)
{
    m_widgets.update->setEnabled(enabled);
}

void QtProgress::setUpdateCaption(std::string_view text)
{
    m_widgets.update->setText(toQString(text));
}

void QtProgress::setConfirmEnabled(bool enabled)
{
    m_widgets.confirm->setEnabled(enabled);
}

void QtProgress::setResetEnabled(bool enabled)
{
    m_widgets.reset->setEnabled(enabled);
}

void QtProgress::setDataFolderText(std::string_view text)
{
    m_widgets.dataFolder->setText(toQString(text));
}

void QtProgress::setSizeText(std::string_view text)
{
    m_size.text.assign(text);
    m_size.pending = true;
}

void QtProgress::setStatusText(std::string_view text)
{
    m_status.text.assign(text);
    m_status.pending = true;
}

void QtProgress::showPendingTexts()
{
    for (auto [pending, field] :
         {std::pair{&m_size, m_widgets.size}, std::pair{&m_status, m_widgets.status}}) {
        if (pending->pending) {
            field->setText(toQString(pending->text));
            pending->pending = false;
        }
    }
}

void QtProgress::processPendingEvents()
{
    if (m_sinceEvents.isValid() && !m_sinceEvents.hasExpired(m_eventInterval.count())) {
        return;
    }
    showPendingTexts();
    QCoreApplication::processEvents();
    m_sinceEvents.start();
}

} // namespace kqget
