// A registry held in memory: the Linux view of the system's registry and the tests' views.
#pragma once

#include "platform/Registry.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarnwick::platform {

class MemoryRegistry : public Registry {
public:
    // Adds the key and every key above it; `grantedAccess` is what an open may ask for.
    void AddKey(RegistryKey root, const std::string& path,
                std::uint32_t grantedAccess = kKeyAllAccess);
    // Adds the key if needed and stores the value's type and raw bytes.
    void SetValue(RegistryKey root, const std::string& path, const std::string& valueName,
                  std::uint32_t type, std::vector<std::uint8_t> data);
    // Removes the key with its values and every key below it.
    void RemoveKey(RegistryKey root, const std::string& path);
    std::size_t OpenKeyCount() const { return openKeys_.size(); }

    std::int32_t RegOpenKeyExA(RegistryKey key, const std::string& subKey, std::uint32_t options,
                               std::uint32_t accessMask, RegistryKey& result) override;
    std::int32_t RegQueryValueExA(RegistryKey key, const std::string& valueName,
                                  std::uint32_t reserved, std::uint32_t* type, std::uint8_t* data,
                                  std::uint32_t* dataSize) override;
    std::int32_t RegCloseKey(RegistryKey key) override;

private:
    struct Value {
        std::uint32_t type;
        std::vector<std::uint8_t> data;
    };
    struct Key {
        std::uint32_t grantedAccess = kKeyAllAccess;
        std::map<std::string, Value> values; // by lower-cased name
    };
    using KeyName = std::pair<RegistryKey, std::string>; // root, lower-cased path

    std::optional<KeyName> Resolve(RegistryKey key, const std::string& subKey) const;

    std::map<KeyName, Key> keys_;
    std::map<RegistryKey, KeyName> openKeys_;
    RegistryKey nextHandle_ = 0x100;
};

// The bytes of a text value with its terminating zero.
std::vector<std::uint8_t> TextValueBytes(const std::string& text);

} // namespace tarnwick::platform
