// Reading one registry value as text: trimming, number digits, size limits, the key's closing.
#include "support/RecordingProgramStarter.h"
#include "support/RecordingRegistry.h"
#include "support/RecordingShell.h"
#include "ui/about/frmAbout.h"

#include "platform/FileFinder.h"

#include <gtest/gtest.h>

#include <ostream>

namespace tarnwick {
namespace {

using platform::kHkeyLocalMachine;
using Bytes = std::vector<std::uint8_t>;

constexpr char kKey[] = "SOFTWARE\\Test\\Values";

class GetKeyValueTest : public ::testing::Test {
protected:
    bool Read(const std::string& valueName, std::string& value) {
        return about.GetKeyValue(kHkeyLocalMachine, kKey, valueName, value);
    }
    void Store(std::uint32_t type, Bytes data) {
        registry.view.SetValue(kHkeyLocalMachine, kKey, "V", type, std::move(data));
    }
    // The key is closed on every path: every handle that an open gave back is closed, and
    // no key of the view is left open.
    void ExpectEveryKeyClosed() {
        EXPECT_EQ(registry.view.OpenKeyCount(), 0u);
        EXPECT_EQ(registry.closes.size(), registry.opens.size());
    }

    testing::RecordingShell shell;
    testing::RecordingRegistry registry;
    testing::RecordingProgramStarter programs;
    frmAbout about{{shell, registry, platform::SystemFileFinder(), programs}};
};

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}
Bytes WithZero(const std::string& text) {
    Bytes bytes = Text(text);
    bytes.push_back(0);
    return bytes;
}

struct ValueRow {
    const char* name;
    std::uint32_t type;
    Bytes data;
    std::string before; // KeyVal on entry
    std::string after;
};
void PrintTo(const ValueRow& row, std::ostream* out) {
    *out << row.name;
}

class GetKeyValueRowsTest : public GetKeyValueTest,
                            public ::testing::WithParamInterface<ValueRow> {};

TEST_P(GetKeyValueRowsTest, ReadsTheValueAndClosesTheKey) {
    const ValueRow& row = GetParam();
    Store(row.type, row.data);
    std::string value = row.before;
    EXPECT_TRUE(Read("V", value));
    EXPECT_EQ(value, row.after);
    ExpectEveryKeyClosed();
}

const std::string k1023(1023, 'a');
const std::string k1024(1024, 'b');

INSTANTIATE_TEST_SUITE_P(
    Rows, GetKeyValueRowsTest,
    ::testing::Values(
        ValueRow{"TextLosesItsTerminatingZero", 1, WithZero("/usr/bin/hardinfo"), "",
                 "/usr/bin/hardinfo"},
        ValueRow{"TextWithoutZeroKeepsAllCharacters", 1, Text("/usr/bin/hardinfo"), "",
                 "/usr/bin/hardinfo"},
        ValueRow{"EmptyTextIsEmpty", 1, WithZero(""), "old", ""},
        ValueRow{"TextReplacesWhatWasHeld", 1, WithZero("x"), "old", "x"},
        ValueRow{"ZeroInsideTheTextStays", 1, WithZero(std::string("a\0b", 3)), "",
                 std::string("a\0b", 3)},
        ValueRow{"NumberKeepsFourNonZeroBytes", 4, {0x78, 0x56, 0x34, 0x12}, "", "&h12345678"},
        ValueRow{"NumberDigitsHaveNoLeadingZeros", 4, {0x05, 0x00, 0x01, 0x00}, "", "&h105"},
        ValueRow{"NumberZeroGivesThreeDigits", 4, {0x00, 0x00, 0x00, 0x00}, "", "&h000"},
        ValueRow{"NumberHighByteAboveSeven", 4, {0xAB, 0x00, 0x00, 0xFF}, "", "&hFF00AB"},
        ValueRow{"NumberDigitsFollowWhatWasHeld", 4, {0x05, 0x00, 0x01, 0x00}, "AB", "&hAB105"},
        ValueRow{"ExpandableTextLeavesTheValueAlone", 2, WithZero("/opt/x"), "kept", "kept"},
        ValueRow{"BinaryLeavesTheValueAlone", 3, {1, 2, 3}, "", ""},
        ValueRow{"TextOfExactly1024BytesWithZeroIsRead", 1, WithZero(k1023), "", k1023},
        ValueRow{"TextOfExactly1024BytesWithoutZeroIsRead", 1, Text(k1024), "", k1024},
        // A value of no bytes holds no character to look at: it reads as empty.
        ValueRow{"ZeroBytesOfTextAreEmpty", 1, {}, "old", ""},
        ValueRow{"ZeroBytesOfNumberGiveNoDigits", 4, {}, "", "&h"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(GetKeyValueTest, ValueOf1025BytesIsRefusedAndEmptiesTheText) {
    Store(1, WithZero(k1024));
    std::string value = "old";
    EXPECT_FALSE(Read("V", value));
    EXPECT_EQ(value, "");
    ExpectEveryKeyClosed();
}

TEST_F(GetKeyValueTest, MissingValueOrKeyGivesFalseAndEmptyText) {
    Store(1, WithZero("x"));
    std::string value = "old";
    EXPECT_FALSE(Read("Other", value));
    EXPECT_EQ(value, "");
    value = "old";
    EXPECT_FALSE(about.GetKeyValue(kHkeyLocalMachine, "SOFTWARE\\Missing", "V", value));
    EXPECT_EQ(value, "");
    ExpectEveryKeyClosed();
}

TEST_F(GetKeyValueTest, RefusedOpenGivesFalseAndEmptyText) {
    Store(1, WithZero("x"));
    registry.view.AddKey(kHkeyLocalMachine, kKey, platform::kKeyRead);
    std::string value = "old";
    EXPECT_FALSE(Read("V", value));
    EXPECT_EQ(value, "");
    ASSERT_EQ(registry.opens.size(), 1u);
    EXPECT_EQ(registry.opens[0].status, platform::kErrorAccessDenied);
    EXPECT_EQ(registry.queries, 0);
    ExpectEveryKeyClosed();
}

TEST_F(GetKeyValueTest, AsksForReadControlAndEveryKeyRight) {
    Store(1, WithZero("x"));
    std::string value;
    Read("V", value);
    ASSERT_EQ(registry.opens.size(), 1u);
    EXPECT_EQ(registry.opens[0].root, static_cast<platform::RegistryKey>(-2147483646));
    EXPECT_EQ(registry.opens[0].path, kKey);
    EXPECT_EQ(registry.opens[0].accessMask, 0x0002003Fu);
}

} // namespace
} // namespace tarnwick
