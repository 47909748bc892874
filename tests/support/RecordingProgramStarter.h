// Program starter for tests: records each start and fails, like a real one, for command lines
// that name no existing file.
#pragma once

#include "platform/ProgramStarter.h"

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace tarnwick::testing {

struct ProgramStart {
    std::string commandLine;
    int windowStyle;
    bool operator==(const ProgramStart&) const = default;
};

class RecordingProgramStarter final : public platform::ProgramStarter {
public:
    std::int64_t StartProgram(const std::string& commandLine, int windowStyle) override {
        attempts.push_back({commandLine, windowStyle});
        const std::vector<std::string> words = platform::SplitCommandLine(commandLine);
        if (words.empty() || !std::filesystem::is_regular_file(words.front()))
            throw std::system_error(ENOENT, std::generic_category(), "cannot start");
        started.push_back({commandLine, windowStyle});
        return 4242;
    }
    std::vector<ProgramStart> attempts;
    std::vector<ProgramStart> started;
};

} // namespace tarnwick::testing
