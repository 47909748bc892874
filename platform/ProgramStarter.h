// Starting a program from a command line without waiting for it, as the Shell function does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::platform {

inline constexpr int kNormalFocusWindow = 1; // vbNormalFocus

class ProgramStarter {
public:
    virtual ~ProgramStarter() = default;
    // Starts the program and returns its task number at once. Throws std::system_error
    // when it cannot be started, also for an empty command line.
    virtual std::int64_t StartProgram(const std::string& commandLine, int windowStyle) = 0;
};

// Splits a command line into the program and its arguments: words are separated by blanks
// and tabs, double quotes group blanks into a word and are removed. Backslashes in the
// program word read as folder separators.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

ProgramStarter& SystemProgramStarter();

} // namespace tarnwick::platform
