// What a soak compares before and after its rounds: the process's open descriptors and
// resident memory. Include it in one file of a test program only.
#pragma once

#include "tests/support/Descriptors.h"

#include <unistd.h>

#include <fstream>
#include <utility>

// AddressSanitizer holds freed blocks back (256 MiB by default) to catch late uses, which
// would look like growth here; a small hold-back keeps the memory figure meaningful.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=1";
}

namespace tarnwick::testing {

inline std::pair<long, long> DescriptorsAndResidentBytes() {
    const auto descriptors = static_cast<long>(OpenDescriptors(getpid()).size());
    long size = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> size >> resident;
    return {descriptors, resident * sysconf(_SC_PAGESIZE)};
}

} // namespace tarnwick::testing
