// Shell for tests: records every request to open something instead of starting a browser.
#pragma once

#include "platform/Shell.h"

#include <string>
#include <vector>

namespace tarnwick::testing {

struct ShellRequest {
    platform::WindowHandle owner;
    std::string operation;
    std::string file;
    bool withoutParameters;
    bool withoutDirectory;
    int showCommand;
};

class RecordingShell final : public platform::Shell {
public:
    std::intptr_t ShellExecuteA(platform::WindowHandle owner, const char* operation,
                                const std::string& file, const char* parameters,
                                const char* directory, int showCommand) override {
        requests.push_back({owner, operation != nullptr ? operation : "", file,
                            parameters == nullptr, directory == nullptr, showCommand});
        return result;
    }
    std::vector<std::string> OpenedFiles() const {
        std::vector<std::string> files;
        for (const ShellRequest& request : requests)
            files.push_back(request.file);
        return files;
    }
    std::intptr_t result = platform::kShellStarted;
    std::vector<ShellRequest> requests;
};

} // namespace tarnwick::testing
