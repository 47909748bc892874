// Registry view for tests: an in-memory registry that records every open and close.
#pragma once

#include "platform/MemoryRegistry.h"

#include <string>
#include <vector>

namespace tarnwick::testing {

struct KeyOpen {
    platform::RegistryKey root;
    std::string path;
    std::uint32_t accessMask;
    std::int32_t status;
};

class RecordingRegistry final : public platform::Registry {
public:
    std::int32_t RegOpenKeyExA(platform::RegistryKey key, const std::string& subKey,
                               std::uint32_t options, std::uint32_t accessMask,
                               platform::RegistryKey& result) override {
        const auto status = view.RegOpenKeyExA(key, subKey, options, accessMask, result);
        opens.push_back({key, subKey, accessMask, status});
        return status;
    }
    std::int32_t RegQueryValueExA(platform::RegistryKey key, const std::string& valueName,
                                  std::uint32_t reserved, std::uint32_t* type, std::uint8_t* data,
                                  std::uint32_t* dataSize) override {
        ++queries;
        return view.RegQueryValueExA(key, valueName, reserved, type, data, dataSize);
    }
    std::int32_t RegCloseKey(platform::RegistryKey key) override {
        closes.push_back(key);
        return view.RegCloseKey(key);
    }
    std::vector<std::string> OpenedPaths() const {
        std::vector<std::string> paths;
        for (const KeyOpen& open : opens)
            paths.push_back(open.path);
        return paths;
    }

    platform::MemoryRegistry view;
    std::vector<KeyOpen> opens;
    int queries = 0;
    std::vector<platform::RegistryKey> closes;
};

} // namespace tarnwick::testing
