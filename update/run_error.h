#pragma once

#include <stdexcept>
#include <string>

namespace kqget {

// The numbers a run-ending failure carries. They are stable: scripts and the
// README refer to them.
enum class ErrorNumber : int
{
    DataFolder = 10,      // the data folder cannot be searched
    CardFolder = 11,      // a card folder cannot be examined
    LogFile = 20,         // the run log cannot be created, written or closed
    CardFile = 30,        // a fetched body cannot be stored in its card file
    Transfer = 40,        // a fetch failed: no connection, dropped, unresolved host
    TransferTimeout = 41, // a fetch got no byte for longer than the time-out
    TooManyRedirects = 42,
    Output = 50,      // what the command prints cannot be written (a full disk, a closed pipe)
    OutOfMemory = 60, // the system refused memory
    Unexpected = 70,  // an internal failure no other number covers
};

// The one failure that ends a run. Its description names the path or URL
// concerned and the system's reason.
class RunError : public std::runtime_error
{
public:
    RunError(ErrorNumber number, const std::string& description)
        : std::runtime_error(description), m_number(number)
    {}

    ErrorNumber number() const noexcept { return m_number; }
    int code() const noexcept { return static_cast<int>(m_number); }

private:
    ErrorNumber m_number;
};

} // namespace kqget
