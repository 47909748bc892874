// The in-memory registry keeps the open/query/close contract: status codes, sizes, rights.
#include "platform/MemoryRegistry.h"

#include <gtest/gtest.h>

#include <array>

namespace tarnwick::platform {
namespace {

constexpr char kKey[] = "SOFTWARE\\Vendor\\Tool";

class MemoryRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        registry.SetValue(kHkeyLocalMachine, kKey, "Path", kRegSz, TextValueBytes("/usr/bin/x"));
        registry.SetValue(kHkeyLocalMachine, kKey, "Count", kRegDword, NumberValueBytes(7));
    }
    RegistryKey Open(const std::string& path, std::uint32_t mask = kKeyRead) {
        RegistryKey handle = -1;
        EXPECT_EQ(registry.RegOpenKeyExA(kHkeyLocalMachine, path, 0, mask, handle), kErrorSuccess);
        return handle;
    }
    MemoryRegistry registry;
};

TEST_F(MemoryRegistryTest, OpensKeysAndTheirParentsWithoutRegardToCase) {
    for (const char* path :
         {"SOFTWARE\\Vendor\\Tool", "software\\VENDOR\\tool", "SOFTWARE", "Software\\Vendor"}) {
        SCOPED_TRACE(path);
        const RegistryKey handle = Open(path);
        EXPECT_NE(handle, 0);
        EXPECT_EQ(registry.RegCloseKey(handle), kErrorSuccess);
    }
    EXPECT_EQ(registry.OpenKeyCount(), 0u);
}

TEST_F(MemoryRegistryTest, RefusesMissingKeysOtherRootsAndUnknownHandles) {
    RegistryKey handle = 99;
    EXPECT_EQ(
        registry.RegOpenKeyExA(kHkeyLocalMachine, "SOFTWARE\\Vendor\\Other", 0, kKeyRead, handle),
        kErrorFileNotFound);
    EXPECT_EQ(handle, 0);
    EXPECT_EQ(registry.RegOpenKeyExA(kHkeyCurrentUser, kKey, 0, kKeyRead, handle),
              kErrorFileNotFound);
    EXPECT_EQ(registry.RegOpenKeyExA(0x1234, kKey, 0, kKeyRead, handle), kErrorInvalidHandle);
    EXPECT_EQ(registry.RegOpenKeyExA(kHkeyLocalMachine, kKey, 1, kKeyRead, handle),
              kErrorInvalidParameter);
    EXPECT_EQ(registry.OpenKeyCount(), 0u);
}

TEST_F(MemoryRegistryTest, GrantsOnlyTheRightsTheKeyAllows) {
    registry.AddKey(kHkeyLocalMachine, kKey, kKeyRead);
    RegistryKey handle = 0;
    EXPECT_EQ(registry.RegOpenKeyExA(kHkeyLocalMachine, kKey, 0, 0x0002003F, handle),
              kErrorAccessDenied);
    EXPECT_EQ(handle, 0);
    EXPECT_EQ(registry.RegOpenKeyExA(kHkeyLocalMachine, kKey, 0, kKeyQueryValue, handle),
              kErrorSuccess);
    EXPECT_EQ(registry.RegCloseKey(handle), kErrorSuccess);
}

TEST_F(MemoryRegistryTest, QueryStoresTypeDataAndSize) {
    const RegistryKey handle = Open(kKey);
    std::array<std::uint8_t, 16> buffer{};
    std::uint32_t type = 0;
    std::uint32_t size = buffer.size();
    ASSERT_EQ(registry.RegQueryValueExA(handle, "PATH", 0, &type, buffer.data(), &size),
              kErrorSuccess);
    EXPECT_EQ(type, kRegSz);
    EXPECT_EQ(size, 11u); // ten characters and the terminating zero
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data())), "/usr/bin/x");

    size = buffer.size();
    ASSERT_EQ(registry.RegQueryValueExA(handle, "count", 0, &type, buffer.data(), &size),
              kErrorSuccess);
    EXPECT_EQ(type, kRegDword);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(buffer[0], 7);
    registry.RegCloseKey(handle);
}

TEST_F(MemoryRegistryTest, ValueLargerThanTheBufferIsNotReadButItsSizeIsTold) {
    const RegistryKey handle = Open(kKey);
    std::array<std::uint8_t, 11> buffer{};
    buffer.fill(0xEE);
    std::uint32_t size = 10;
    EXPECT_EQ(registry.RegQueryValueExA(handle, "Path", 0, nullptr, buffer.data(), &size),
              kErrorMoreData);
    EXPECT_EQ(size, 11u);
    EXPECT_EQ(buffer[0], 0xEE);
    size = 11; // an exact fit is read
    EXPECT_EQ(registry.RegQueryValueExA(handle, "Path", 0, nullptr, buffer.data(), &size),
              kErrorSuccess);
    // Without a buffer the query only tells the size.
    size = 0;
    EXPECT_EQ(registry.RegQueryValueExA(handle, "Path", 0, nullptr, nullptr, &size), kErrorSuccess);
    EXPECT_EQ(size, 11u);
    registry.RegCloseKey(handle);
}

TEST_F(MemoryRegistryTest, QueryRefusesMissingValuesBadHandlesAndReservedWords) {
    const RegistryKey handle = Open(kKey);
    std::array<std::uint8_t, 16> buffer{};
    std::uint32_t size = buffer.size();
    EXPECT_EQ(registry.RegQueryValueExA(handle, "Missing", 0, nullptr, buffer.data(), &size),
              kErrorFileNotFound);
    EXPECT_EQ(registry.RegQueryValueExA(handle, "Path", 1, nullptr, buffer.data(), &size),
              kErrorInvalidParameter);
    EXPECT_EQ(registry.RegQueryValueExA(handle, "Path", 0, nullptr, buffer.data(), nullptr),
              kErrorInvalidParameter);
    EXPECT_EQ(registry.RegQueryValueExA(handle + 4, "Path", 0, nullptr, buffer.data(), &size),
              kErrorInvalidHandle);
    EXPECT_EQ(registry.RegCloseKey(handle), kErrorSuccess);
    EXPECT_EQ(registry.RegQueryValueExA(handle, "Path", 0, nullptr, buffer.data(), &size),
              kErrorInvalidHandle);
}

TEST_F(MemoryRegistryTest, CloseAcceptsOpenKeysAndRootsOnly) {
    const RegistryKey handle = Open(kKey);
    EXPECT_EQ(registry.RegCloseKey(handle), kErrorSuccess);
    EXPECT_EQ(registry.RegCloseKey(handle), kErrorInvalidHandle);
    EXPECT_EQ(registry.RegCloseKey(0), kErrorInvalidHandle);
    EXPECT_EQ(registry.RegCloseKey(kHkeyLocalMachine), kErrorSuccess);
}

TEST_F(MemoryRegistryTest, OpensRelativeToAnOpenKey) {
    const RegistryKey vendor = Open("SOFTWARE\\Vendor");
    RegistryKey tool = 0;
    ASSERT_EQ(registry.RegOpenKeyExA(vendor, "Tool", 0, kKeyRead, tool), kErrorSuccess);
    std::uint32_t size = 0;
    EXPECT_EQ(registry.RegQueryValueExA(tool, "Path", 0, nullptr, nullptr, &size), kErrorSuccess);
    EXPECT_EQ(size, 11u);
    registry.RegCloseKey(tool);
    registry.RegCloseKey(vendor);
}

TEST_F(MemoryRegistryTest, RemovedKeyTakesItsSubkeysButNotItsParent) {
    registry.SetValue(kHkeyLocalMachine, "SOFTWARE\\Vendor\\Tool\\Deeper", "x", kRegSz,
                      TextValueBytes("y"));
    registry.RemoveKey(kHkeyLocalMachine, "software\\vendor\\tool");
    RegistryKey handle = 0;
    EXPECT_EQ(registry.RegOpenKeyExA(kHkeyLocalMachine, kKey, 0, kKeyRead, handle),
              kErrorFileNotFound);
    EXPECT_EQ(registry.RegOpenKeyExA(kHkeyLocalMachine, "SOFTWARE\\Vendor\\Tool\\Deeper", 0,
                                     kKeyRead, handle),
              kErrorFileNotFound);
    EXPECT_EQ(registry.RegOpenKeyExA(kHkeyLocalMachine, "SOFTWARE\\Vendor", 0, kKeyRead, handle),
              kErrorSuccess);
    registry.RegCloseKey(handle);
}

} // namespace
} // namespace tarnwick::platform
