#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kqget {

// What the headless command needs of the system beyond the run's ports; POSIX
// and Windows each provide it.

// The arguments after the program's name, as UTF-8. Also readies the console
// on systems where it needs it (the line-erasing sequence).
std::vector<std::string> commandArguments(int argc, char** argv);

// Whether `stream` is a terminal (a console window).
bool isTerminal(std::FILE* stream);

// Writes UTF-8 text to `stream`. A console gets it as characters, whatever
// its code page; anything else gets the bytes. False, with errno set, when
// not all of it was written.
bool writeText(std::FILE* stream, std::string_view text);

// Whether the terminal behind `stream` acts on the line-erasing escape
// sequence (CSI K); where it does not, a line is overwritten with spaces.
bool erasesWithEscapes(std::FILE* stream);

// Columns of the terminal behind `stream`, or 0 when unknown.
std::size_t terminalColumns(std::FILE* stream);

// Opens a file for reading in binary; null with errno set when it cannot.
std::FILE* openForReading(const std::string& path);

// The value of an environment variable as UTF-8, or none.
std::optional<std::string> environmentValue(const char* name);

} // namespace kqget
