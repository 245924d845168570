#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace kqget {

// The numbers a run-ending failure carries. They are stable: scripts and the
// README refer to them.
enum class ErrorNumber : int
{
    DataFolder = 10,      // the data folder cannot be searched
    CardFolder = 11,      // a card folder cannot be examined
    RunUnderWay = 12,     // another run holds the data folder or the log's folder
    LogFile = 20,         // the run log cannot be created, written or closed
    CardFile = 30,        // a fetched body cannot be stored: the disk is full or out of handles
    Transfer = 40,        // a fetch failed: no connection, dropped, unresolved host
    TransferTimeout = 41, // a fetch got no byte for longer than the time-out, or took too long
    TooManyRedirects = 42,
    ServiceRefusing = 43, // the service answered nothing but 429 or 503 for two minutes
    Output = 50,          // what the command prints cannot be written (a full disk, a closed pipe)
    OutOfMemory = 60,     // the system refused memory
    Unexpected = 70,      // an internal failure no other number covers
};

// How far a failure reaches. A card file's own (its folder not writable, its
// name taken by a folder or too long) leaves that file as it was and the run
// goes on; one that every later card would meet as well (a full disk, no file
// handle left) ends the run.
enum class FailureReach
{
    Run,
    OneCardFile,
};

// The one failure that ends a run, or with FailureReach::OneCardFile the one
// file it names. Its description names the path or URL concerned and the
// system's reason.
class RunError : public std::runtime_error
{
public:
    RunError(ErrorNumber number, const std::string& description,
             FailureReach reach = FailureReach::Run)
        : std::runtime_error(description), m_number(number), m_reach(reach)
    {}

    ErrorNumber number() const noexcept { return m_number; }
    int code() const noexcept { return static_cast<int>(m_number); }
    FailureReach reach() const noexcept { return m_reach; }

private:
    ErrorNumber m_number;
    FailureReach m_reach;
};

// The exception being handled, as the failure the user is told of: a RunError
// as it is, anything else as out of memory or an internal failure. Call it only
// inside a catch block; the description points into the exception and lives as
// long as the block. It allocates nothing, so it serves after a bad_alloc too.
struct CaughtFailure
{
    ErrorNumber number;
    std::string_view description;
};
CaughtFailure caughtFailure() noexcept;

} // namespace kqget
