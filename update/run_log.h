#pragma once

#include "update/file_system_port.h"

#include <memory>
#include <string_view>

namespace kqget {

inline constexpr std::string_view kRunLogFileName = "KQ-GET-PNG-XML.txt";

// The plain-text record of one run. Lines end in CR LF whatever the platform,
// so the log reads the same wherever it is opened.
class RunLog
{
public:
    explicit RunLog(std::unique_ptr<LogFile> file);
    ~RunLog();

    RunLog(const RunLog&) = delete;
    RunLog& operator=(const RunLog&) = delete;

    void writeLine(std::string_view text);
    // Continues the current line; the next write goes on after it.
    void writePiece(std::string_view text);
    void close();

private:
    std::unique_ptr<LogFile> m_file;
};

} // namespace kqget
