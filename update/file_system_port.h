#pragma once

#include "update/card_entries.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kqget {

// A text file written front to back; the run log is the only one.
class LogFile
{
public:
    virtual ~LogFile() = default;
    virtual void write(std::string_view text) = 0; // throws RunError
    // Hands what was written to the system, so that it survives the process.
    virtual void flush() = 0; // throws RunError
    virtual void close() = 0; // throws RunError
};

// What the run needs of the file system.
class FileSystemPort
{
public:
    virtual ~FileSystemPort() = default;

    // The names of the entries in dataFolder that look like card ids starting
    // with `letter` (either case), in a reproducible order. Files may be among
    // them; the run tests each name. Throws RunError when the folder cannot be
    // searched.
    virtual CardEntries searchCardEntries(std::string_view dataFolder, char letter) = 0;

    // Whether path is a folder (following links). An absent path is not.
    virtual bool isDirectory(std::string_view path) = 0;

    // The length of a regular file, or 0 when it cannot be sized: sizing never
    // ends a run.
    virtual std::uint64_t fileSize(std::string_view path) noexcept = 0;

    // Replaces path with exactly `content`, so that a reader sees either the
    // old file or the whole new one. Throws RunError naming the path.
    virtual void replaceFile(std::string_view path, std::string_view content) = 0;

    // Creates (or empties) a text file readable by its owner only.
    virtual std::unique_ptr<LogFile> createLog(std::string_view path) = 0;

    // The separator appended to the data folder and used to form card paths.
    virtual char separator() const noexcept = 0;
};

} // namespace kqget
