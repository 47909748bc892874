// Opening a document or web address with the user's default handler (the shell's "open").
#pragma once

#include <cstdint>
#include <string>

namespace tarnwick::platform {

// A top-level window's native handle, passed along as the owner of what the shell shows.
using WindowHandle = std::uintptr_t;

inline constexpr int kShowWindow = 5; // SW_SHOW

// Results at or below this value are failures, as ShellExecuteA reports them.
inline constexpr std::intptr_t kShellFailureLimit = 32;
inline constexpr std::intptr_t kShellFileNotFound = 2;
inline constexpr std::intptr_t kShellNoAssociation = 31;
inline constexpr std::intptr_t kShellStarted = 42;

class Shell {
public:
    virtual ~Shell() = default;
    // Starts the handler for `file` without waiting for it; `parameters` and `directory` may
    // be null. Returns a value above kShellFailureLimit when the handler was started.
    virtual std::intptr_t ShellExecuteA(WindowHandle owner, const char* operation,
                                        const std::string& file, const char* parameters,
                                        const char* directory, int showCommand) = 0;
};

Shell& SystemShell();

} // namespace tarnwick::platform
