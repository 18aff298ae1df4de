#include <gtest/gtest.h>

#include <string>

#include "intake/PassingRecord.h"
#include "support/TestName.h"

namespace torvane {
namespace {

using Fault = PassingRecord::Fault;

constexpr const char* kToday = "20261209";

struct RecordCase {
    const char* name;
    std::string record;
    Fault fault;
    std::string chip;
    std::string time;  // as received
    std::string timeField;
    std::string boxDate;
};

void PrintTo(const RecordCase& c, std::ostream* out) {
    *out << c.name;
}

class PassingRecordTest : public ::testing::TestWithParam<RecordCase> {};

TEST_P(PassingRecordTest, ReadsChipTimeAndDate) {
    const RecordCase& c = GetParam();
    const PassingRecord read = ReadPassingRecord(c.record, kToday);
    EXPECT_EQ(read.fault, c.fault);
    EXPECT_EQ(read.IsUsable(), c.fault == Fault::None);
    EXPECT_EQ(read.chip, c.chip);
    EXPECT_EQ(read.time, c.time);
    EXPECT_EQ(read.timeField, c.timeField);
    EXPECT_EQ(read.boxDate, c.boxDate);
    if (c.record.size() <= kMaxQuotedRecordLength) {
        EXPECT_EQ(read.quoted, c.record);
    }
}

const std::string kLongChip = "E200001D5B0C0123456789AB";  // 24 characters

INSTANTIATE_TEST_SUITE_P(
    Records, PassingRecordTest,
    ::testing::Values(
        RecordCase{"TimeFirstWithTheDecoderKeys",
                   "t=13:11:30.904|c=0000041|ct=UH|d=120606|l=13|dv=4|re=0|an=00001111|g=0|b=41|"
                   "n=41",
                   Fault::None, "0000041", "13:11:30.904", "13:11:30.904", "20120606"},
        RecordCase{"ChipFirstSixDecimals", "c=41AA06C|t=23:00:17.105920|d=261208", Fault::None,
                   "41AA06C", "23:00:17.105920", "23:00:17.105", "20261208"},
        RecordCase{"DateFirst", "d=261208|t=08:00:00.001|c=X", Fault::None, "X", "08:00:00.001",
                   "08:00:00.001", "20261208"},
        RecordCase{"OneCharacterChip", "c=2|t=23:00:17.105920|d=261208", Fault::None, "2",
                   "23:00:17.105920", "23:00:17.105", "20261208"},
        RecordCase{"LongChipKeptWhole", "c=" + kLongChip + "|t=10:00:00.000|d=261208", Fault::None,
                   kLongChip, "10:00:00.000", "10:00:00.000", "20261208"},
        RecordCase{"OverLongChipCut", "c=" + std::string(100, 'K') + "|t=10:00:00.000", Fault::None,
                   std::string(kMaxChipLength, 'K'), "10:00:00.000", "10:00:00.000", kToday},
        RecordCase{"ExtraKeysEmptyPairsAndPairsWithoutEquals",
                   "|x|ct=c=9|=5|n=t=1|c=A1||t=10:00:00.000|d=261208|", Fault::None, "A1",
                   "10:00:00.000", "10:00:00.000", "20261208"},
        RecordCase{"FirstOfARepeatedKeyCounts", "c=A|t=10:00:00.000|c=B|t=11:00:00.000",
                   Fault::None, "A", "10:00:00.000", "10:00:00.000", kToday},
        RecordCase{"EqualsSignInsideAValue", "c=A=B|t=10:00:00.000", Fault::None, "A=B",
                   "10:00:00.000", "10:00:00.000", kToday},
        RecordCase{"FewerDecimalsAreTenthsAndHundredths", "c=A|t=10:00:00.9", Fault::None, "A",
                   "10:00:00.9", "10:00:00.900", kToday},
        RecordCase{"NoFraction", "c=A|t=10:00:00", Fault::None, "A", "10:00:00", "10:00:00.000",
                   kToday},
        RecordCase{"OneDigitHour", "c=A|t=9:08:07.065", Fault::None, "A", "9:08:07.065",
                   "09:08:07.065", kToday},
        RecordCase{"MissingDateIsToday", "c=A|t=10:00:00.000", Fault::None, "A", "10:00:00.000",
                   "10:00:00.000", kToday},
        RecordCase{"EmptyDateIsToday", "c=A|t=10:00:00.000|d=", Fault::None, "A", "10:00:00.000",
                   "10:00:00.000", kToday},
        RecordCase{"LongDateCutAsInAStore", "c=A|t=10:00:00.000|d=2612081234", Fault::None, "A",
                   "10:00:00.000", "10:00:00.000", "20261208"},
        RecordCase{"ShortDateKeptAsInAStore", "c=A|t=10:00:00.000|d=2612", Fault::None, "A",
                   "10:00:00.000", "10:00:00.000", "202612"},
        RecordCase{"EmptyRecord", "", Fault::NoChip, "", "", "", kToday},
        RecordCase{"NoChip", "t=10:00:00.000|d=261208", Fault::NoChip, "", "10:00:00.000", "",
                   "20261208"},
        RecordCase{"EmptyChip", "c=|t=10:00:00.000", Fault::NoChip, "", "10:00:00.000", "", kToday},
        RecordCase{"KeysAreCaseSensitive", "C=A|T=10:00:00.000", Fault::NoChip, "", "", "", kToday},
        RecordCase{"NoTime", "c=A|d=261208", Fault::NoTime, "A", "", "", "20261208"},
        RecordCase{"EmptyTime", "c=A|t=", Fault::NoTime, "A", "", "", kToday},
        RecordCase{"TimeThatIsNotATime", "c=A|t=soon", Fault::BadTime, "A", "soon", "", kToday}),
    test::PrintedName());

class TimeFieldTest : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(TimeFieldTest, ReadsATimeOfDayToThreeDecimals) {
    EXPECT_EQ(ThousandthsTimeField(GetParam().first), GetParam().second) << GetParam().first;
}

INSTANTIATE_TEST_SUITE_P(
    Times, TimeFieldTest,
    ::testing::Values(
        std::pair{"00:00:00.000", "00:00:00.000"}, std::pair{"23:59:59.999999", "23:59:59.999"},
        std::pair{"13:11:30.90", "13:11:30.900"},
        // Not times of day: out of range, incomplete or with something after.
        std::pair{"24:00:00.000", ""}, std::pair{"13:60:00.000", ""}, std::pair{"13:00:60.000", ""},
        std::pair{"130:00:00.000", ""}, std::pair{"13:1:30.904", ""}, std::pair{"13:11:3.904", ""},
        std::pair{"13:11:30.", ""}, std::pair{"13:11:30.904 ", ""}, std::pair{" 13:11:30.904", ""},
        std::pair{"13:11:30,904", ""}, std::pair{"13.11.30.904", ""}, std::pair{"-1:11:30.904", ""},
        std::pair{"13:11:30.9a4", ""}, std::pair{"13:11", ""}, std::pair{"", ""}),
    // Numbered, since texts that differ only in blanks give the same name.
    [](const auto& info) {
        return "Case" + std::to_string(info.index) + "_" + test::TestNameOf(info.param.first);
    });

TEST(PassingRecordLimitsTest, OverLongValuesAndRecordsAreCutOnlyWhereShown) {
    // A time with a megabyte of decimals is still a time; it is shown cut.
    const std::string manyDecimals = "10:00:00.123" + std::string(1 << 20, '4');
    PassingRecord read = ReadPassingRecord("c=A|t=" + manyDecimals, kToday);
    EXPECT_TRUE(read.IsUsable());
    EXPECT_EQ(read.timeField, "10:00:00.123");
    EXPECT_EQ(read.time, manyDecimals.substr(0, kMaxValueLength));

    // Cutting never turns a bad time into a good one.
    read = ReadPassingRecord("c=A|t=10:00:00.123" + std::string(100, '4') + "x", kToday);
    EXPECT_EQ(read.fault, Fault::BadTime);

    // A megabyte of other keys: the chip and time after them are still found, and the record
    // is quoted cut, its cut marked.
    const std::string filler = "n=" + std::string(1 << 20, 'z');
    read = ReadPassingRecord(filler + "|c=B|t=10:00:00.000", kToday);
    EXPECT_TRUE(read.IsUsable());
    EXPECT_EQ(read.chip, "B");
    ASSERT_EQ(read.quoted.size(), kMaxQuotedRecordLength);
    EXPECT_EQ(read.quoted.substr(0, 4), "n=zz");
    EXPECT_EQ(read.quoted.substr(kMaxQuotedRecordLength - 3), "...");
}

}  // namespace
}  // namespace torvane
