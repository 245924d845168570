#include "app/window_progress.h"

#include "update/display_text.h"

namespace kqget {

WindowProgress::WindowProgress(WindowView& view, std::chrono::milliseconds eventInterval,
                               std::string_view key)
    : m_view(view), m_eventInterval(eventInterval), m_key(key)
{}

void WindowProgress::runStarted()
{
    m_view.setEnabled(Control::Update, false);
    m_view.setEnabled(Control::Confirm, false);
    // No "DONE !" of the run before may stand under this run's failure.
    m_view.setText(Control::Status, "");
    processPendingEvents();
}

void WindowProgress::dataFolderNormalised(std::string_view dataFolder)
{
    m_view.setText(Control::DataFolder, dataFolder);
    processPendingEvents();
}

void WindowProgress::fileSized(std::string_view /*path*/, std::string_view sizeText)
{
    show(m_size, sizeText);
}

void WindowProgress::fetchApplied(const FetchActivity& activity)
{
    // The screen may be shared or filmed; the log is the user's own record.
    show(m_status, std::string("Get ").append(escapeControls(hideKey(activity.url, m_key))));
}

void WindowProgress::show(PendingText& field, std::string_view text)
{
    field.text.assign(text);
    field.pending = true;
    processPendingEvents();
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
