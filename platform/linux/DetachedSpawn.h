// Starting a process that runs on its own: no wait, no zombie, its own session.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tarnwick::platform {

// Starts arguments[0] (searched in PATH when it holds no slash) with the given arguments,
// in `directory` when that is not null. Returns 0 and the process id, or the errno value
// of the failed start. A background thread reaps the process when it ends.
int SpawnDetached(const std::vector<std::string>& arguments, const char* directory, pid_t& pid);

} // namespace tarnwick::platform
