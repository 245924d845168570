#include "update/run_log.h"

#include "update/display_text.h"

#include <string>

namespace kqget {

namespace {
constexpr std::string_view kLineEnd = "\r\n";
}

RunLog::RunLog(std::unique_ptr<LogFile> file) : m_file(std::move(file)) {}

void RunLog::writeLine(std::string_view text)
{
    writePiece(text);
    m_file->write(kLineEnd);
}

void RunLog::writePiece(std::string_view text)
{
    if (isFreeOfControls(text)) {
        m_file->write(text);
    } else {
        m_file->write(escapeControls(text));
    }
}

void RunLog::flush()
{
    m_file->flush();
}

void RunLog::close()
{
    m_file->close();
}

} // namespace kqget
