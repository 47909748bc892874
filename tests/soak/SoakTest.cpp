// Soak: many echoes in one process, every result correct, no descriptor or memory left behind.
#include "engine/EchoProbe.h"

#include "support/RecordingMessageDialog.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

// AddressSanitizer holds freed blocks back (256 MiB by default) to catch late uses, which
// would look like growth here; a small hold-back keeps the memory figure meaningful.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=1";
}

namespace tarnwick {
namespace {

constexpr std::int32_t kLoopbackValue = 16777343; // 127.0.0.1

// Resident memory may wander by a few pages as the allocator settles; a leak of even a few
// bytes per ping would pass this over 10,000 pings.
constexpr long kResidentGrowthBound = 512 * 1024;

struct Usage {
    long descriptors = 0;
    long residentBytes = 0;
};

Usage CurrentUsage() {
    Usage usage;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++usage.descriptors;
    long sizePages = 0;
    long residentPages = 0;
    std::ifstream("/proc/self/statm") >> sizePages >> residentPages;
    usage.residentBytes = residentPages * sysconf(_SC_PAGESIZE);
    return usage;
}

class Soak : public ::testing::Test {
protected:
    // One ping to 127.0.0.1; every way it can be wrong is counted by name.
    void Ping() {
        EchoReply reply{};
        const std::int32_t result = PingAddress("127.0.0.1", reply, services_);
        if (reply.Status != 0)
            ++wrong_["Status " + std::to_string(reply.Status)];
        else if (result != reply.RoundTripTime || result < 0)
            ++wrong_["result not the round trip"];
        if (reply.Address != kLoopbackValue)
            ++wrong_["Address " + std::to_string(reply.Address)];
        if (reply.DataSize != 9 || std::memcmp(reply.Data, "Echo This\0", 10) != 0)
            ++wrong_["Data"];
        ++pings_;
    }

    void ExpectAllCorrect() {
        for (const auto& [what, count] : wrong_)
            ADD_FAILURE() << count << " of " << pings_ << " pings: " << what;
        EXPECT_TRUE(messages_.shown.empty());
    }

    testing::RecordingMessageDialog messages_;
    EchoServices services_ = SystemEchoServices(messages_);
    std::map<std::string, int> wrong_;
    int pings_ = 0;
};

TEST_F(Soak, TenThousandPingsLeaveDescriptorsAndMemoryAsTheyWere) {
    // Warm-up: first-use allocations of the layer and libc, and under AddressSanitizer the
    // allocator's hold-back and caches, which fill over the first ten thousand or so pings.
    for (int i = 0; i < 10000; ++i)
        Ping();
    const Usage before = CurrentUsage();
    for (int i = 0; i < 10000; ++i)
        Ping();
    const Usage after = CurrentUsage();

    ExpectAllCorrect();
    EXPECT_EQ(after.descriptors, before.descriptors);
    EXPECT_LE(after.residentBytes - before.residentBytes, kResidentGrowthBound);
    std::printf("after warm-up: %ld descriptors, %ld KiB resident; after %d pings: %ld "
                "descriptors, %ld KiB resident\n",
                before.descriptors, before.residentBytes / 1024, pings_, after.descriptors,
                after.residentBytes / 1024);
}

} // namespace
} // namespace tarnwick
