#include "intake/ManualDetectionForm.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/SettingsStore.h"
#include "support/CoreHarness.h"

namespace torvane {
namespace {

const std::vector<std::string> kDetectors = {"31     CLASSIC", "10", "11"};

// The dialog used at 14:03:27.456 on 8 December 2026.
class ManualDetectionFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        clock::SetNowForTesting({clock::MakeLocal(2026, 12, 8, 14, 3, 27), 456});
    }
    void TearDown() override { clock::UseSystemClock(); }

    static std::int64_t TodayAt(int hour, int minute, int second) {
        return clock::MakeLocal(2026, 12, 8, hour, minute, second);
    }
    static int StoredDetectorIndex() { return ReadIniInt("Settings", "TorvLastDetectorIndex", 99); }

    test::IsolatedFolders folders;
};

TEST_F(ManualDetectionFormTest, BibMustBeDigitsOnlyFrom1To65535) {
    const struct {
        const char* typed;
        std::optional<unsigned> bib;
        const char* bibText;
    } cases[] = {
        {" 12 ", 12, "12"},
        {"\t12", 12, "12"},
        {"007", 7, "7"},
        {"65535", 65535, "65535"},
        {"0", std::nullopt, ""},
        {"000", std::nullopt, ""},
        {"-5", std::nullopt, ""},
        {"+5", std::nullopt, ""},
        {"12a", std::nullopt, ""},
        {"1 2", std::nullopt, ""},
        {"", std::nullopt, ""},
        {"   ", std::nullopt, ""},
        {"70000", std::nullopt, ""},
        {"65536", std::nullopt, ""},
        {"99999999999999999999999", std::nullopt, ""},
    };
    for (const auto& c : cases) {
        const auto result = ValidateManualDetection(c.typed, "12:34:56", 0, kDetectors, 0);
        ASSERT_EQ(result.value.has_value(), c.bib.has_value()) << '"' << c.typed << '"';
        if (c.bib) {
            EXPECT_EQ(result.value->bib, *c.bib);
            EXPECT_EQ(result.value->bibText, c.bibText);
        } else {
            EXPECT_EQ(result.error, "Dossard vide ou invalide !") << '"' << c.typed << '"';
        }
    }
}

TEST_F(ManualDetectionFormTest, TimeIsReadInItsFourFormsAndMadeATimeOfToday) {
    const struct {
        const char* typed;
        std::optional<std::int64_t> seconds;
        int milliseconds;
    } cases[] = {
        {"12:34:56", TodayAt(12, 34, 56), 0},
        {"12.34.56.50", TodayAt(12, 34, 56), 500},
        {" 8:05:00.07 ", TodayAt(8, 5, 0), 70},
        {"12.34.56", TodayAt(12, 34, 56), 0},
        {"12:34", std::nullopt, 0},
        {"", std::nullopt, 0},
        {"noon", std::nullopt, 0},
    };
    for (const auto& c : cases) {
        const auto result = ValidateManualDetection("12", c.typed, 0, kDetectors, 0);
        ASSERT_EQ(result.value.has_value(), c.seconds.has_value()) << '"' << c.typed << '"';
        if (c.seconds) {
            EXPECT_EQ(result.value->time.seconds, *c.seconds) << c.typed;
            EXPECT_EQ(result.value->time.milliseconds, c.milliseconds) << c.typed;
        } else {
            EXPECT_EQ(result.error, "Temps invalide !") << '"' << c.typed << '"';
        }
    }
}

TEST_F(ManualDetectionFormTest, ChecksBibThenTimeThenDetector) {
    const struct {
        const char *bib, *time;
        int detector;
        std::vector<std::string> detectors;
        const char* error;
    } cases[] = {
        {"x", "x", -1, {}, "Dossard vide ou invalide !"},
        {"12", "x", -1, {}, "Temps invalide !"},
        {"12", "12:00:00", 0, {}, "Pas de n° de détecteur !"},
        {"12", "12:00:00", -1, kDetectors, "Pas de n° de détecteur !"},
        {"12", "12:00:00", 3, kDetectors, "Pas de n° de détecteur !"},
    };
    for (const auto& c : cases) {
        const auto result = ValidateManualDetection(c.bib, c.time, c.detector, c.detectors, 0);
        EXPECT_FALSE(result.value) << c.error;
        EXPECT_EQ(result.error, c.error);
    }
    // A refused OK does not move the remembered detector.
    EXPECT_EQ(StoredDetectorIndex(), 99);
}

TEST_F(ManualDetectionFormTest, AcceptedDetectionCarriesTheChoicesAndRemembersTheDetector) {
    const auto result = ValidateManualDetection("42", "23:59:59.99", 2, kDetectors, 1);
    ASSERT_TRUE(result.value);
    EXPECT_EQ(result.value->detector, "11");
    EXPECT_EQ(result.value->bib, 42u);
    EXPECT_EQ(result.value->bibText, "42");
    EXPECT_EQ(result.value->dayOffset, 1);
    EXPECT_EQ(result.value->time.seconds, TodayAt(23, 59, 59));
    EXPECT_EQ(result.value->time.milliseconds, 990);
    EXPECT_EQ(StoredDetectorIndex(), 2);
}

TEST_F(ManualDetectionFormTest, OpensWithTheClockAndTheDetectorChosenLast) {
    const auto opening = OpenManualDetectionForm(RunningState{}, kDetectors.size());
    EXPECT_EQ(opening.insertTimeLabel, "Insertion du temps : 14:03:27");
    EXPECT_EQ(opening.timeText, "14:03:27.45");

    const struct {
        std::optional<int> stored;
        std::size_t detectorCount;
        int selected;
    } cases[] = {
        {std::nullopt, 3, 0}, {2, 3, 2}, {1, 3, 1}, {3, 3, 0}, {5, 3, 0},
        {-1, 3, 0},           {0, 3, 0}, {1, 0, 0},
    };
    for (const auto& c : cases) {
        if (c.stored) WriteIniInt("Settings", "TorvLastDetectorIndex", *c.stored);
        EXPECT_EQ(OpenManualDetectionForm(RunningState{}, c.detectorCount).detectorIndex,
                  c.selected)
            << c.stored.value_or(-99) << " of " << c.detectorCount;
    }
}

TEST_F(ManualDetectionFormTest, PreselectsTodaysPlaceAmongTheRaceDays) {
    const struct {
        std::array<std::string, 4> raceDays;
        int selected;
    } cases[] = {
        {{"20261208", "20261209", "20261210", "20261211"}, 0},
        {{"20261207", "20261208", "20261209", "20261210"}, 1},
        {{"20261205", "20261206", "20261207", "20261208"}, 3},
        {{"20261201", "20261202", "20261203", "20261204"}, 0},
        {{"", "", "", ""}, 0},
    };
    for (const auto& c : cases) {
        RunningState state;
        state.raceDays = c.raceDays;
        EXPECT_EQ(OpenManualDetectionForm(state, 3).dayOffsetIndex, c.selected) << c.raceDays[0];
    }
}

TEST_F(ManualDetectionFormTest, CancelRemembersThePickedDetectorOrNone) {
    CancelManualDetection(2);
    EXPECT_EQ(StoredDetectorIndex(), 2);
    EXPECT_EQ(OpenManualDetectionForm(RunningState{}, 3).detectorIndex, 2);

    CancelManualDetection(-1);
    EXPECT_EQ(StoredDetectorIndex(), -1);
    EXPECT_EQ(OpenManualDetectionForm(RunningState{}, 3).detectorIndex, 0);
}

}  // namespace
}  // namespace torvane
