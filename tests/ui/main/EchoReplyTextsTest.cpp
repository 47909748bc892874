// Echo reply records to the six field texts, without a window.
#include "ui/main/EchoReplyTexts.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace tarnwick {
namespace {

EchoReply LocalReply() {
    EchoReply reply{};
    reply.Address = 16777343;
    reply.RoundTripTime = 15;
    reply.DataSize = 9;
    reply.DataPointer = 1234567;
    std::memcpy(reply.Data, "Echo This", 9);
    return reply;
}

TEST(FormatEchoReply, SuccessfulLocalReplyGivesTheDocumentedTexts) {
    const EchoReplyTexts texts = FormatEchoReply(LocalReply());
    EXPECT_EQ(texts.status, "0   [ ip success ]");
    EXPECT_EQ(texts.lagTime, "15 (milliseconds)");
    EXPECT_EQ(texts.portAddress, "16777343");
    EXPECT_EQ(texts.size, "9 (bytes)");
    EXPECT_EQ(texts.echo, "Echo This");
    EXPECT_EQ(texts.pointer, "1234567");
}

TEST(FormatEchoReply, ZeroRecordShowsZerosWithSuffixesAndNoEcho) {
    const EchoReplyTexts texts = FormatEchoReply(EchoReply{});
    EXPECT_EQ(texts.status, "0   [ ip success ]");
    EXPECT_EQ(texts.lagTime, "0 (milliseconds)");
    EXPECT_EQ(texts.portAddress, "0");
    EXPECT_EQ(texts.size, "0 (bytes)");
    EXPECT_FALSE(texts.echo.has_value());
    EXPECT_EQ(texts.pointer, "0");
}

TEST(FormatEchoReply, FailedEchoShowsItsStatusLine) {
    EchoReply reply{};
    reply.Status = 11010;
    EXPECT_EQ(FormatEchoReply(reply).status, "11010   [ ip req timed out ]");
}

struct NumberCase {
    const char* name;
    std::int32_t address;
    std::int32_t roundTrip;
    std::int16_t dataSize;
    std::int32_t pointer;
    const char* portAddress;
    const char* lagTime;
    const char* size;
    const char* pointerText;
};

class FormatEchoReplyNumbers : public ::testing::TestWithParam<NumberCase> {};

TEST_P(FormatEchoReplyNumbers, AreSignedDecimalsWithoutPaddingOrGrouping) {
    const NumberCase& row = GetParam();
    EchoReply reply{};
    reply.Address = row.address;
    reply.RoundTripTime = row.roundTrip;
    reply.DataSize = row.dataSize;
    reply.DataPointer = row.pointer;
    const EchoReplyTexts texts = FormatEchoReply(reply);
    EXPECT_EQ(texts.portAddress, row.portAddress);
    EXPECT_EQ(texts.lagTime, row.lagTime);
    EXPECT_EQ(texts.size, row.size);
    EXPECT_EQ(texts.pointer, row.pointerText);
}

INSTANTIATE_TEST_SUITE_P(
    Records, FormatEchoReplyNumbers,
    ::testing::Values(NumberCase{"AddressWithHighLastPartIsNegative", -939415360, 1, 9, 0,
                                 "-939415360", "1 (milliseconds)", "9 (bytes)", "0"},
                      NumberCase{"LargestValues", INT_MAX, INT_MAX, SHRT_MAX, INT_MAX, "2147483647",
                                 "2147483647 (milliseconds)", "32767 (bytes)", "2147483647"},
                      NumberCase{"SmallestValues", INT_MIN, INT_MIN, SHRT_MIN, INT_MIN,
                                 "-2147483648", "-2147483648 (milliseconds)", "-32768 (bytes)",
                                 "-2147483648"},
                      NumberCase{"ThousandsAreNotGrouped", 1000000, 1000, 1000, -1000, "1000000",
                                 "1000 (milliseconds)", "1000 (bytes)", "-1000"}),
    [](const ::testing::TestParamInfo<NumberCase>& info) { return info.param.name; });

TEST(FormatEchoReply, EchoStopsAtTheFirstNul) {
    EchoReply reply{};
    std::memcpy(reply.Data, "Echo\0This", 9);
    EXPECT_EQ(FormatEchoReply(reply).echo, "Echo");
}

TEST(FormatEchoReply, EchoKeepsNonAsciiBytesAsTheyCame) {
    EchoReply reply{};
    std::memcpy(reply.Data, "\xE9\x01\x7F", 3);
    EXPECT_EQ(FormatEchoReply(reply).echo, "\xE9\x01\x7F");
}

TEST(FormatEchoReply, DataWithoutAnyNulIsShownWhole) {
    EchoReply reply{};
    std::memset(reply.Data, 'x', kEchoDataSize);
    reply.Data[kEchoDataSize - 1] = 'y';
    const auto echo = FormatEchoReply(reply).echo;
    ASSERT_TRUE(echo.has_value());
    EXPECT_EQ(echo->size(), kEchoDataSize);
    EXPECT_EQ(echo->back(), 'y');
}

TEST(FormatEchoReply, NulOnlyInTheLastCharacterGives249) {
    EchoReply reply{};
    std::memset(reply.Data, 'x', kEchoDataSize - 1);
    EXPECT_EQ(FormatEchoReply(reply).echo->size(), kEchoDataSize - 1);
}

TEST(FormatEchoReply, LeadingNulMeansNoEchoEvenWithBytesAfterIt) {
    EchoReply reply{};
    std::memcpy(reply.Data, "\0Echo This", 10);
    EXPECT_FALSE(FormatEchoReply(reply).echo.has_value());
}

} // namespace
} // namespace tarnwick
