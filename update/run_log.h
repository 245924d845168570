#pragma once

#include "update/file_system_port.h"

#include <memory>
#include <string_view>

namespace kqget {

inline constexpr std::string_view kRunLogFileName = "KQ-GET-PNG-XML.txt";

// The plain-text record of one run. Lines end in CR LF whatever the platform,
// so the log reads the same wherever it is opened. A control character in what
// is written (a card folder's name can hold any) shows as \xHH, so that no
// name can break a line or forge one.
class RunLog
{
public:
    explicit RunLog(std::unique_ptr<LogFile> file);

    void writeLine(std::string_view text);
    // Continues the current line; the next write goes on after it.
    void writePiece(std::string_view text);
    // Hands the lines so far to the system.
    void flush();
    void close();

private:
    std::unique_ptr<LogFile> m_file;
};

} // namespace kqget
