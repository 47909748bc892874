// The Linux socket library layer: the start-up record and the start-up count.
#include "platform/SocketLibrary.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

namespace tarnwick::platform {
namespace {

// Guards the version granted (never above 1.1 or what was asked), the socket count taken from
// the open-file limit, version 0 refused, and clean-up counting start-ups.
TEST(SystemSocketLibrary, GrantsWhatWasAskedUpTo11AndCountsStartups) {
    SocketLibrary& library = SystemSocketLibrary();
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit lowered = saved;
    lowered.rlim_cur = std::min<rlim_t>(saved.rlim_cur, 123);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    WsaData data;
    data.fill(0xAB);
    const auto result = library.WSAStartup(0x0202, data);
    setrlimit(RLIMIT_NOFILE, &saved);
    ASSERT_EQ(result, 0);
    EXPECT_EQ(ReadWord(data, kWsaVersionOffset), 0x0101);
    EXPECT_EQ(ReadWord(data, kWsaHighVersionOffset), 0x0101);
    EXPECT_EQ(ReadWord(data, kWsaMaxSocketsOffset), lowered.rlim_cur);
    ASSERT_EQ(library.WSAStartup(0x0001, data), 0);
    EXPECT_EQ(ReadWord(data, kWsaVersionOffset), 0x0001);
    EXPECT_NE(library.WSAStartup(0x0100, data), 0);
    EXPECT_EQ(library.WSACleanup(), 0);
    EXPECT_EQ(library.WSACleanup(), 0);
    EXPECT_EQ(library.WSACleanup(), -1);
}

} // namespace
} // namespace tarnwick::platform
