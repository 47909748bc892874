// Read-only registry access with the open/query/close contract of the Windows registry API.
#pragma once

#include <cstdint>
#include <string>

namespace tarnwick::platform {

// Key handles are held as signed 32-bit numbers; predefined roots have the top bit set.
using RegistryKey = std::int32_t;
inline constexpr RegistryKey kHkeyClassesRoot = static_cast<RegistryKey>(0x80000000u);
inline constexpr RegistryKey kHkeyCurrentUser = static_cast<RegistryKey>(0x80000001u);
inline constexpr RegistryKey kHkeyLocalMachine = static_cast<RegistryKey>(0x80000002u);
inline constexpr RegistryKey kHkeyUsers = static_cast<RegistryKey>(0x80000003u);

// Status codes.
inline constexpr std::int32_t kErrorSuccess = 0;
inline constexpr std::int32_t kErrorFileNotFound = 2;
inline constexpr std::int32_t kErrorAccessDenied = 5;
inline constexpr std::int32_t kErrorInvalidHandle = 6;
inline constexpr std::int32_t kErrorInvalidParameter = 87;
inline constexpr std::int32_t kErrorMoreData = 234;

// Value types.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegDword = 4;

// Where the registry names the system-information program: its path, or the folder it is in.
inline constexpr char kSysInfoPathKey[] = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
inline constexpr char kSysInfoPathValue[] = "PATH";
inline constexpr char kSysInfoFolderKey[] = "SOFTWARE\\Microsoft\\Shared Tools Location";
inline constexpr char kSysInfoFolderValue[] = "MSINFO";

// Access rights. Reading is read control, query value, enumerate subkeys and notify.
inline constexpr std::uint32_t kKeyRead = 0x00020019;
inline constexpr std::uint32_t kKeyAllAccess = 0x000F003F;

class Registry {
public:
    virtual ~Registry() = default;
    // Opens `subKey` below `key` (a root or an open key). On success stores the new handle
    // in `result`; on failure stores 0.
    virtual std::int32_t RegOpenKeyExA(RegistryKey key, const std::string& subKey,
                                       std::uint32_t options, std::uint32_t accessMask,
                                       RegistryKey& result) = 0;
    // Reads the value `valueName` of an open key. `dataSize` holds the buffer's size on the
    // way in and the number of bytes stored (or needed, with kErrorMoreData) on the way out.
    // `type`, `data` and `dataSize` may be null where the Windows API allows it.
    virtual std::int32_t RegQueryValueExA(RegistryKey key, const std::string& valueName,
                                          std::uint32_t reserved, std::uint32_t* type,
                                          std::uint8_t* data, std::uint32_t* dataSize) = 0;
    virtual std::int32_t RegCloseKey(RegistryKey key) = 0;
};

// This platform's registry view; read only.
Registry& SystemRegistry();

} // namespace tarnwick::platform
