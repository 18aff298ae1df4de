#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "base/SettingsStore.h"
#include "support/TempFolder.h"
#include "tables/ChipTable.h"
#include "tables/DagTable.h"

namespace torvane {
namespace {

class ChipTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* xdg = std::getenv("XDG_DATA_HOME")) savedXdg_ = xdg;
        PointDataHomeAt(dataHome_.Path());
        SetProgramFolderForTesting(programFolder_.Path());
        dataFolder_ = dataHome_.Path() + "/Holtmar/Torvane";
        ASSERT_EQ(GetDataFolder(), dataFolder_);
    }

    void TearDown() override {
        if (savedXdg_) {
            ::setenv("XDG_DATA_HOME", savedXdg_->c_str(), 1);
        } else {
            ::unsetenv("XDG_DATA_HOME");
        }
        ResetSettingsPathsForTesting();
        DagTableEmpty();
    }

    static void PointDataHomeAt(const std::string& folder) {
        ::setenv("XDG_DATA_HOME", folder.c_str(), 1);
        ResetSettingsPathsForTesting();
    }

    void WriteData(const std::string& name, const std::string& bytes) const {
        test::WriteFile(dataFolder_ + "/" + name, bytes);
    }

    void WriteProgram(const std::string& name, const std::string& bytes) const {
        programFolder_.Write(name, bytes);
    }

    static int Bib(const std::string& chip) {
        int bib = -7;
        DagTableFindValue(chip, bib);
        return bib;
    }

    static std::string Loaded(int count, const std::string& path) {
        return "+++ Table de correspondance chargée (" + std::to_string(count) +
               " entrées). Fichier " + path;
    }

    static std::string Refused(const std::string& reason, int kept) {
        return "### Table de correspondance non chargée (" + reason +
               "). La table en service est conservée (" + std::to_string(kept) + " entrées)";
    }

    test::TempFolder dataHome_;
    test::TempFolder programFolder_;
    std::string dataFolder_;
    std::optional<std::string> savedXdg_;
};

TEST_F(ChipTableTest, SearchOrderOverTheFourPlaces) {
    // Each place holds a table whose one chip names the place; the test removes the winner
    // each round, so the next place in the order must be chosen.
    WriteData("ChipTable.dtb", "1 DATA_FIRST\n");
    WriteData("MyLapsTable.dtb", "2 DATA_SECOND\n");
    WriteProgram("ChipTable.dtb", "3 PROGRAM_FIRST\n");
    WriteProgram("MyLapsTable.dtb", "4 PROGRAM_SECOND\n");
    const struct {
        std::string path;
        const char* chip;
        int bib;
    } places[] = {
        {dataFolder_ + "/ChipTable.dtb", "DATA_FIRST", 1},
        {dataFolder_ + "/MyLapsTable.dtb", "DATA_SECOND", 2},
        {programFolder_.File("ChipTable.dtb"), "PROGRAM_FIRST", 3},
        {programFolder_.File("MyLapsTable.dtb"), "PROGRAM_SECOND", 4},
    };
    for (const auto& place : places) {
        SCOPED_TRACE(place.path);
        std::string message;
        EXPECT_TRUE(LoadChipTable(kChipTableSecondName, message));
        EXPECT_EQ(message, Loaded(1, place.path));
        EXPECT_EQ(DagTableCount(), 1);
        EXPECT_EQ(Bib(place.chip), place.bib);
        ASSERT_EQ(std::remove(place.path.c_str()), 0);
    }
}

TEST_F(ChipTableTest, DataFolderSecondNameBeatsProgramFolderFirstName) {
    WriteData("MyLapsTable.dtb", "5 DATA\n");
    WriteProgram("ChipTable.dtb", "6 PROGRAM\n");
    std::string message;
    EXPECT_TRUE(LoadChipTable(kChipTableSecondName, message));
    EXPECT_EQ(message, Loaded(1, dataFolder_ + "/MyLapsTable.dtb"));
    EXPECT_EQ(Bib("data"), 5);
}

TEST_F(ChipTableTest, AnyFileSystemObjectIsChosen) {
    WriteProgram("ChipTable.dtb", "3 PROGRAM\n");
    std::string message;
    ASSERT_TRUE(LoadChipTable(kChipTableSecondName, message));
    // A folder in the first place is chosen, and then fails to load.
    ASSERT_EQ(::mkdir((dataFolder_ + "/ChipTable.dtb").c_str(), 0755), 0);
    WriteData("MyLapsTable.dtb", "5 DATA\n");
    EXPECT_FALSE(LoadChipTable(kChipTableSecondName, message));
    EXPECT_EQ(message, Refused("Erreur ouverture fichier: " + dataFolder_ + "/ChipTable.dtb", 1));
    EXPECT_EQ(Bib("PROGRAM"), 3);
}

TEST_F(ChipTableTest, NoFileFoundKeepsTheOldEntries) {
    WriteData("ChipTable.dtb", "7 OLD\n8 OLDER\n");
    std::string message;
    ASSERT_TRUE(LoadChipTable(kChipTableSecondName, message));
    ASSERT_EQ(std::remove((dataFolder_ + "/ChipTable.dtb").c_str()), 0);

    EXPECT_FALSE(LoadChipTable(kChipTableSecondName, message));
    EXPECT_EQ(message,
              "### Pas de table de correspondance trouvée (fichier ChipTable.dtb ou "
              "MyLapsTable.dtb)");
    EXPECT_EQ(DagTableCount(), 2);
    EXPECT_EQ(Bib("old"), 7);
}

// A reload that refuses its file keeps the table in use and says why, with the path.
TEST_F(ChipTableTest, RefusedFileKeepsTheTableInUseAndGivesTheReason) {
    const std::string path = dataFolder_ + "/MyLapsTable.dtb";
    const struct {
        std::string bytes;
        std::string reason;
    } cases[] = {
        {"1", "Erreur fichier vide ou presque: " + path},
        {std::string("\xFF\xFE"
                     "9\0 \0N\0E\0W\0",
                     12),
         "Erreur encodage (UTF16) fichier: " + path},
    };
    for (const auto& c : cases) {
        WriteProgram("MyLapsTable.dtb", "9 KEPT\n10 ALSO\n");
        std::string message;
        ASSERT_TRUE(LoadChipTable(kChipTableSecondName, message));
        WriteData("MyLapsTable.dtb", c.bytes);

        EXPECT_FALSE(LoadChipTable(kChipTableSecondName, message));
        EXPECT_EQ(message, Refused(c.reason, 2));
        EXPECT_EQ(DagTableCount(), 2);
        EXPECT_EQ(Bib("KEPT"), 9);
        ASSERT_EQ(std::remove(path.c_str()), 0);
    }
}

TEST_F(ChipTableTest, NoEntriesIsStillASuccess) {
    WriteData("ChipTable.dtb", "no entry on this line\n");
    std::string message;
    EXPECT_TRUE(LoadChipTable(kChipTableSecondName, message));
    EXPECT_EQ(message, Loaded(0, dataFolder_ + "/ChipTable.dtb"));
    EXPECT_EQ(DagTableCount(), 0);
}

TEST_F(ChipTableTest, OtherSecondNameIsSearchedAndReported) {
    std::string message;
    EXPECT_FALSE(LoadChipTable("Other.dtb", message));
    EXPECT_EQ(message,
              "### Pas de table de correspondance trouvée (fichier ChipTable.dtb ou Other.dtb)");
    WriteProgram("Other.dtb", "ABC;12\n");
    EXPECT_TRUE(LoadChipTable("Other.dtb", message));
    EXPECT_EQ(message, Loaded(1, programFolder_.File("Other.dtb")));
    EXPECT_EQ(Bib("abc"), 12);
}

TEST_F(ChipTableTest, WithoutDataFolderTheProgramFolderStillServes) {
    // A data home that is a plain file leaves no data folder.
    dataHome_.Write("not-a-folder", "x");
    PointDataHomeAt(dataHome_.File("not-a-folder"));
    ASSERT_EQ(GetDataFolder(), "");
    struct stat st {};
    if (::stat("/ChipTable.dtb", &st) == 0 || ::stat("/MyLapsTable.dtb", &st) == 0) {
        GTEST_SKIP() << "a chip table lies in the root folder";
    }
    WriteProgram("MyLapsTable.dtb", "3 PROGRAM\n");
    std::string message;
    EXPECT_TRUE(LoadChipTable(kChipTableSecondName, message));
    EXPECT_EQ(message, Loaded(1, programFolder_.File("MyLapsTable.dtb")));
}

}  // namespace
}  // namespace torvane
