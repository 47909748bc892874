// Echo reply records to the six field texts, without a window.
#include "ui/main/EchoReplyTexts.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace tarnwick {
namespace {

struct RecordRow {
    const char* name;
    EchoReply reply;
    EchoReplyTexts texts;
    friend void PrintTo(const RecordRow& row, std::ostream* out) { *out << row.name; }
};

EchoReply Record(std::int32_t number, std::int16_t size, const char* data, std::size_t length) {
    EchoReply reply{};
    reply.Address = reply.RoundTripTime = reply.DataPointer = number;
    reply.DataSize = size;
    std::memcpy(reply.Data, data, length);
    return reply;
}

class FormatEchoReplyRows : public ::testing::TestWithParam<RecordRow> {};

// Guards the numbers as plain signed decimals with their suffixes, and the echo ending at its
// first NUL, absent when the data starts with one, and whole when it holds none.
TEST_P(FormatEchoReplyRows, GiveTheFieldTexts) {
    const EchoReplyTexts texts = FormatEchoReply(GetParam().reply);
    const EchoReplyTexts& expected = GetParam().texts;
    EXPECT_EQ(texts.status, expected.status);
    EXPECT_EQ(texts.lagTime, expected.lagTime);
    EXPECT_EQ(texts.portAddress, expected.portAddress);
    EXPECT_EQ(texts.size, expected.size);
    EXPECT_EQ(texts.echo, expected.echo);
    EXPECT_EQ(texts.pointer, expected.pointer);
}

const std::string k250(250, 'x');

INSTANTIATE_TEST_SUITE_P(
    Rows, FormatEchoReplyRows,
    ::testing::Values(
        RecordRow{"Zeros",
                  EchoReply{},
                  {"0   [ ip success ]", "0 (milliseconds)", "0", "0 (bytes)", std::nullopt, "0"}},
        RecordRow{"LargestNotGrouped",
                  Record(INT_MAX, SHRT_MAX, "Echo\0This", 9),
                  {"0   [ ip success ]", "2147483647 (milliseconds)", "2147483647", "32767 (bytes)",
                   "Echo", "2147483647"}},
        RecordRow{"SmallestKeepTheirSign",
                  Record(INT_MIN, SHRT_MIN, "\xE9\x01\x7F", 3),
                  {"0   [ ip success ]", "-2147483648 (milliseconds)", "-2147483648",
                   "-32768 (bytes)", "\xE9\x01\x7F", "-2147483648"}},
        RecordRow{"LeadingNulMeansNoEcho",
                  Record(1, 9, "\0Echo This", 10),
                  {"0   [ ip success ]", "1 (milliseconds)", "1", "9 (bytes)", std::nullopt, "1"}},
        RecordRow{"DataWithoutNulIsWhole",
                  Record(1, 250, k250.data(), 250),
                  {"0   [ ip success ]", "1 (milliseconds)", "1", "250 (bytes)", k250, "1"}}),
    [](const auto& info) { return std::string(info.param.name); });

// Guards the status line of a failure.
TEST(FormatEchoReply, FailedEchoShowsItsStatusLine) {
    EchoReply reply{};
    reply.Status = 11010;
    EXPECT_EQ(FormatEchoReply(reply).status, "11010   [ ip req timed out ]");
}

} // namespace
} // namespace tarnwick
