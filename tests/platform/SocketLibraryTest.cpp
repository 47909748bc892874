// The Linux socket library layer: the start-up record and the start-up count.
#include "platform/SocketLibrary.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <cstring>

namespace tarnwick::platform {
namespace {

TEST(SystemSocketLibrary, GrantsVersion11AndTheOpenFileLimit) {
    SocketLibrary& library = SystemSocketLibrary();
    WsaData data;
    data.fill(0xAB);
    ASSERT_EQ(library.WSAStartup(0x0101, data), 0);
    EXPECT_EQ(ReadWord(data, kWsaVersionOffset), 0x0101);
    EXPECT_EQ(ReadWord(data, kWsaHighVersionOffset), 0x0101);
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    const auto expected =
        limit.rlim_cur == RLIM_INFINITY ? 65535 : std::min<rlim_t>(limit.rlim_cur, 65535);
    EXPECT_EQ(ReadWord(data, kWsaMaxSocketsOffset), expected);
    // The description is a terminated text inside its field.
    EXPECT_EQ(std::strlen(reinterpret_cast<const char*>(data.data() + 4)) < 257, true);
    EXPECT_EQ(library.WSACleanup(), 0);
}

TEST(SystemSocketLibrary, FollowsALoweredOpenFileLimit) {
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit lowered = saved;
    lowered.rlim_cur = std::min<rlim_t>(saved.rlim_cur, 123);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    WsaData data{};
    const auto result = SystemSocketLibrary().WSAStartup(0x0101, data);
    setrlimit(RLIMIT_NOFILE, &saved);
    ASSERT_EQ(result, 0);
    EXPECT_EQ(ReadWord(data, kWsaMaxSocketsOffset), lowered.rlim_cur);
    EXPECT_EQ(SystemSocketLibrary().WSACleanup(), 0);
}

TEST(SystemSocketLibrary, NeverGrantsMoreThanRequestedOrAbove11) {
    WsaData data{};
    ASSERT_EQ(SystemSocketLibrary().WSAStartup(0x0001, data), 0);
    EXPECT_EQ(ReadWord(data, kWsaVersionOffset), 0x0001);
    ASSERT_EQ(SystemSocketLibrary().WSAStartup(0x0202, data), 0);
    EXPECT_EQ(ReadWord(data, kWsaVersionOffset), 0x0101);
    EXPECT_EQ(SystemSocketLibrary().WSACleanup(), 0);
    EXPECT_EQ(SystemSocketLibrary().WSACleanup(), 0);
}

TEST(SystemSocketLibrary, RefusesVersionZero) {
    WsaData data{};
    EXPECT_NE(SystemSocketLibrary().WSAStartup(0x0100, data), 0);
    EXPECT_EQ(SystemSocketLibrary().WSACleanup(), -1);
}

TEST(SystemSocketLibrary, CleanupCountsStartups) {
    SocketLibrary& library = SystemSocketLibrary();
    WsaData data{};
    EXPECT_EQ(library.WSACleanup(), -1);
    ASSERT_EQ(library.WSAStartup(0x0101, data), 0);
    ASSERT_EQ(library.WSAStartup(0x0101, data), 0);
    EXPECT_EQ(library.WSACleanup(), 0);
    EXPECT_EQ(library.WSACleanup(), 0);
    EXPECT_EQ(library.WSACleanup(), -1);
}

} // namespace
} // namespace tarnwick::platform
