#include "app/window_progress.h"

namespace kqget {

WindowProgress::WindowProgress(WindowView& view, std::chrono::milliseconds eventInterval)
    : m_view(view), m_eventInterval(eventInterval)
{}

void WindowProgress::setUpdateEnabled(bool enabled)
{
    m_view.setEnabled(controls::kUpdate, enabled);
}

void WindowProgress::setUpdateCaption(std::string_view text)
{
    m_view.setText(controls::kUpdate, text);
}

void WindowProgress::setConfirmEnabled(bool enabled)
{
    m_view.setEnabled(controls::kConfirm, enabled);
}

void WindowProgress::setResetEnabled(bool enabled)
{
    m_view.setEnabled(controls::kReset, enabled);
}

void WindowProgress::setDataFolderText(std::string_view text)
{
    m_view.setText(controls::kDataFolder, text);
}

void WindowProgress::setSizeText(std::string_view text)
{
    m_size.text.assign(text);
    m_size.pending = true;
}

void WindowProgress::setStatusText(std::string_view text)
{
    m_status.text.assign(text);
    m_status.pending = true;
}

void WindowProgress::showPendingTexts()
{
    for (PendingText* field : {&m_size, &m_status}) {
        if (field->pending) {
            m_view.setText(field->control, field->text);
            field->pending = false;
        }
    }
}

void WindowProgress::processPendingEvents()
{
    const auto now = std::chrono::steady_clock::now();
    if (m_lastEvents && now - *m_lastEvents < m_eventInterval) {
        return;
    }
    showPendingTexts();
    m_view.processPendingEvents();
    m_lastEvents = std::chrono::steady_clock::now();
}

} // namespace kqget
