#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace kqget::testing {

struct ChildResult
{
    int exitStatus = -1; // the exit code, or 128 + signal when a signal ended it
    std::string out;
    std::string err;
    long peakResidentKiB = 0; // the child's peak resident memory
};

struct ChildOptions
{
    std::vector<std::string> arguments;        // after the program's path
    std::map<std::string, std::string> setEnv; // set in the child
    std::vector<std::string> unsetEnv;         // removed in the child
    std::string workingDirectory;              // empty: the test's own
    std::string input;                         // written to stdin, then closed
    // Called about every 10 ms while the child runs, with its pid.
    std::function<void(int pid)> whileRunning;
    std::chrono::seconds timeout{60};
};

// Runs a program to its end and collects what it printed.
ChildResult runChild(const std::string& program, const ChildOptions& options);

// A program of the build, in the folder of the running test program. Found
// when the test runs, so that no build folder's path is compiled in and a
// second clone of the tree reuses what the compiler cache holds of the first.
inline std::string programBesideThisOne(std::string_view name)
{
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / name).string();
}

} // namespace kqget::testing
