// Keys and values in memory, looked up without regard to case as the registry does.
#include "platform/MemoryRegistry.h"

#include <algorithm>
#include <cstring>

namespace tarnwick::platform {
namespace {

bool IsRoot(RegistryKey key) {
    return key == kHkeyClassesRoot || key == kHkeyCurrentUser || key == kHkeyLocalMachine ||
           key == kHkeyUsers;
}

std::string Folded(const std::string& text) {
    std::string folded = text;
    std::transform(folded.begin(), folded.end(), folded.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return folded;
}

} // namespace

void MemoryRegistry::AddKey(RegistryKey root, const std::string& path,
                            std::uint32_t grantedAccess) {
    const std::string folded = Folded(path);
    for (std::size_t end = folded.find('\\'); end != std::string::npos;
         end = folded.find('\\', end + 1))
        keys_.try_emplace({root, folded.substr(0, end)});
    keys_[{root, folded}].grantedAccess = grantedAccess;
}

void MemoryRegistry::SetValue(RegistryKey root, const std::string& path,
                              const std::string& valueName, std::uint32_t type,
                              std::vector<std::uint8_t> data) {
    if (!keys_.contains({root, Folded(path)}))
        AddKey(root, path);
    keys_[{root, Folded(path)}].values[Folded(valueName)] = Value{type, std::move(data)};
}

void MemoryRegistry::RemoveKey(RegistryKey root, const std::string& path) {
    const std::string folded = Folded(path);
    std::erase_if(keys_, [&](const auto& entry) {
        const auto& [keyRoot, keyPath] = entry.first;
        return keyRoot == root && (keyPath == folded || keyPath.starts_with(folded + "\\"));
    });
}

std::optional<MemoryRegistry::KeyName> MemoryRegistry::Resolve(RegistryKey key,
                                                               const std::string& subKey) const {
    if (IsRoot(key))
        return KeyName{key, Folded(subKey)};
    const auto open = openKeys_.find(key);
    if (open == openKeys_.end())
        return std::nullopt;
    // An open key's path is never empty: opening a root itself hands back the root.
    const auto& [root, path] = open->second;
    return KeyName{root, subKey.empty() ? path : path + "\\" + Folded(subKey)};
}

std::int32_t MemoryRegistry::RegOpenKeyExA(RegistryKey key, const std::string& subKey,
                                           std::uint32_t options, std::uint32_t accessMask,
                                           RegistryKey& result) {
    result = 0;
    const std::optional<KeyName> name = Resolve(key, subKey);
    if (!name)
        return kErrorInvalidHandle;
    if (options != 0)
        return kErrorInvalidParameter;
    if (name->second.empty() && IsRoot(name->first)) {
        result = name->first;
        return kErrorSuccess;
    }
    const auto found = keys_.find(*name);
    if (found == keys_.end())
        return kErrorFileNotFound;
    if ((accessMask & ~found->second.grantedAccess) != 0)
        return kErrorAccessDenied;
    result = nextHandle_;
    nextHandle_ += 4;
    openKeys_[result] = *name;
    return kErrorSuccess;
}

std::int32_t MemoryRegistry::RegQueryValueExA(RegistryKey key, const std::string& valueName,
                                              std::uint32_t reserved, std::uint32_t* type,
                                              std::uint8_t* data, std::uint32_t* dataSize) {
    const std::optional<KeyName> name = Resolve(key, "");
    if (!name)
        return kErrorInvalidHandle;
    if (reserved != 0 || (data != nullptr && dataSize == nullptr))
        return kErrorInvalidParameter;
    const auto found = keys_.find(*name);
    if (found == keys_.end())
        return kErrorFileNotFound;
    const auto value = found->second.values.find(Folded(valueName));
    if (value == found->second.values.end())
        return kErrorFileNotFound;
    const auto size = static_cast<std::uint32_t>(value->second.data.size());
    if (type != nullptr)
        *type = value->second.type;
    if (data != nullptr && size > *dataSize) {
        *dataSize = size;
        return kErrorMoreData;
    }
    if (data != nullptr && size > 0)
        std::memcpy(data, value->second.data.data(), size);
    if (dataSize != nullptr)
        *dataSize = size;
    return kErrorSuccess;
}

std::int32_t MemoryRegistry::RegCloseKey(RegistryKey key) {
    if (IsRoot(key))
        return kErrorSuccess;
    return openKeys_.erase(key) == 1 ? kErrorSuccess : kErrorInvalidHandle;
}

std::vector<std::uint8_t> TextValueBytes(const std::string& text) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

} // namespace tarnwick::platform
