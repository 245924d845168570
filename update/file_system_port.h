#pragma once

#include "update/card_entries.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kqget {

// A text file written front to back; the run log is the only one. Destroyed
// before close(), it closes without a word: a run that ends in an error still
// leaves every line written so far, and the error already in flight is the one
// worth reporting.
class LogFile
{
public:
    virtual ~LogFile() = default;
    virtual void write(std::string_view text) = 0; // throws RunError
    // Hands what was written to the system, so that it survives the process.
    virtual void flush() = 0; // throws RunError
    virtual void close() = 0; // throws RunError
};

// A card file's new content, written under a temporary name in the data
// folder (beside the card file only where a rename from there cannot reach
// it) and put in its place whole, so that a reader sees either the old file or
// the whole new one. Destroyed before commit(), it removes the temporary file.
class StagedFile
{
public:
    virtual ~StagedFile() = default;
    virtual void write(std::string_view bytes) = 0; // throws RunError naming the card file
    // No more bytes: the file may be looked into at temporaryPath().
    virtual void close() = 0; // throws RunError
    // Closes if need be and renames the file over the card file.
    virtual void commit() = 0; // throws RunError
    virtual std::string temporaryPath() const = 0;
};

// What a size query tells of a file: with `changed`, whether a file looked
// into earlier is still the one it was then.
struct FileStamp
{
    std::uint64_t size = 0;
    // When the file's content, name or mode last changed, in nanoseconds
    // since 1970 on the system's clock, as no program can set it; 0 where
    // the system does not tell it with the size.
    std::int64_t changed = 0;
};

// A run's hold on its folders, let go when destroyed, and by the system when
// the process ends however it ends, so that a crash leaves no stale claim.
class RunLock
{
public:
    virtual ~RunLock() = default;
};

// What the run needs of the file system.
class FileSystemPort
{
public:
    virtual ~FileSystemPort() = default;

    // The names of the entries in dataFolder that look like card ids starting
    // with `letter` (either case), in a reproducible order, each with its type
    // where the listing tells it as isDirectory() would. Files may be among
    // them; the run asks isDirectory() of those of unknown type. Throws
    // RunError when the folder cannot be searched. An adapter may keep the
    // folder open, to look at the paths below it from there.
    virtual CardEntries searchCardEntries(std::string_view dataFolder, char letter) = 0;

    // Whether path is a folder (following links). An absent path is not.
    virtual bool isDirectory(std::string_view path) = 0;

    // The length of a regular file and what else the query tells of it; all 0
    // when it cannot be sized: sizing never ends a run.
    virtual FileStamp fileStamp(std::string_view path) noexcept = 0;

    // Begins a new content for the file at path, a card file two levels below
    // the data folder. Throws RunError naming the path. May be called from a
    // transfer's thread: it touches no state.
    virtual std::unique_ptr<StagedFile> stageFile(std::string_view path) = 0;

    // Claims the data folder and the folder the log at logPath goes to for
    // this run, before anything is written: two runs in one log or one data
    // folder would garble both. Throws RunError (RunUnderWay) naming the folder
    // when another run holds either. A folder that cannot be opened is not
    // claimed: the walk or the log then names what is wrong with it. From
    // then on, a search of the letter A also removes the temporary files that
    // a run killed before its end left in the data folder: none of this run's
    // is there yet, as the run begins with that search.
    virtual std::unique_ptr<RunLock> lockRun(std::string_view /*logPath*/,
                                             std::string_view /*dataFolder*/)
    {
        return nullptr;
    }

    // Creates (or empties) a text file readable by its owner only.
    virtual std::unique_ptr<LogFile> createLog(std::string_view path) = 0;

    // The separator appended to a data folder typed as `dataFolder` and used
    // to form its card paths: a system may take another's form of path, and
    // card paths are then formed in that form.
    virtual char separatorFor(std::string_view dataFolder) const noexcept = 0;
};

} // namespace kqget
