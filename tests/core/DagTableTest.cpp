#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/TempFolder.h"
#include "tables/DagTable.h"

namespace torvane {
namespace {

struct Entry {
    std::string key;
    int value;
};

class DagTableTest : public ::testing::Test {
protected:
    void TearDown() override { DagTableEmpty(); }

    bool LoadText(const std::string& bytes, std::string& error) {
        folder_.Write("table.dtb", bytes);
        return DagTableLoadFile(folder_.File("table.dtb"), error);
    }

    void LoadTextExpectingSuccess(const std::string& bytes) {
        std::string error = "untouched";
        ASSERT_TRUE(LoadText(bytes, error));
        EXPECT_EQ(error, "untouched");
    }

    static void ExpectFound(const std::string& key, int expected) {
        int value = -7;
        EXPECT_TRUE(DagTableFindValue(key, value)) << key;
        EXPECT_EQ(value, expected) << key;
    }

    static void ExpectMissing(const std::string& key) {
        int value = -7;
        EXPECT_FALSE(DagTableFindValue(key, value)) << key;
        EXPECT_EQ(value, -1) << key;
    }

    test::TempFolder folder_;
};

TEST_F(DagTableTest, EveryLineLayout) {
    const struct {
        const char* line;
        const char* key;  // nullptr: the line gives no entry
        int value;
    } cases[] = {
        {"123 ABC", "ABC", 123},
        {"ABC 123", "ABC", 123},
        {"ABC;123", "ABC", 123},
        {"123;ABC", "ABC", 123},
        {"123 456", "456", 123},
        {"123;456", "456", 123},
        {"  ABC\t123  ", "ABC", 123},
        {"ABC 123 ignored", "ABC", 123},
        {"ABC;123\r", "ABC", 123},
        {"123; ABC", "ABC", 123},
        {"77;DEF;1", "DEF;1", 77},
        {"0 ABC", "ABC", 0},
        {"\"ABC\" 123", "\"ABC\"", 123},
        {"ABC DEF", nullptr, 0},
        {"ABC", nullptr, 0},
        {"123", nullptr, 0},
        {";123", nullptr, 0},
        {"ABC;", nullptr, 0},
        {"ABC;DEF;123", nullptr, 0},
        {"-5 ABC", nullptr, 0},
        {"", nullptr, 0},
        {"   ", nullptr, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        LoadTextExpectingSuccess(std::string("###\n") + c.line + "\n");
        if (c.key) {
            EXPECT_EQ(DagTableCount(), 1);
            ExpectFound(c.key, c.value);
        } else {
            EXPECT_EQ(DagTableCount(), 0);
        }
    }
}

TEST_F(DagTableTest, NumberTestOfEachToken) {
    const struct {
        const char* token;
        bool isNumber;
        int value;
    } cases[] = {
        {"123", true, 123},        {"\"123\",", true, 123},
        {"\"123,\"", true, 123},   {"\"123\"", true, 123},
        {"123;", true, 123},       {"12.5", true, 12},
        {"1,234", true, 1},        {"1.2,3", true, 1},
        {"007", true, 7},          {"2147483647", true, 2147483647},
        {"A12", false, 0},         {"12A", false, 0},
        {"\"\"", false, 0},        {",5", false, 0},
        {"+5", false, 0},          {"2147483648", false, 0},
        {"99999999999", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.token);
        // The key is not a number, so the token alone decides whether the line counts.
        LoadTextExpectingSuccess(std::string(c.token) + " CHIP\n");
        if (c.isNumber) {
            ExpectFound("CHIP", c.value);
        } else {
            EXPECT_EQ(DagTableCount(), 0);
        }
    }
}

TEST_F(DagTableTest, KeysAndTokensBeyondTheirLimitsAreSkipped) {
    const std::string key63(63, 'K');
    const std::string key64(64, 'L');
    const std::string number255 = std::string(252, '0') + "123";
    const std::string number256 = std::string(253, '0') + "456";
    ASSERT_EQ(number255.size(), 255u);
    LoadTextExpectingSuccess("1 " + key63 + "\n" + "2 " + key64 + "\n" + number255 + " SHORT\n" +
                             number256 + " LONG\n" + "3 LAST\n");
    EXPECT_EQ(DagTableCount(), 3);
    ExpectFound(key63, 1);
    ExpectMissing(key64);
    ExpectFound("SHORT", 123);
    ExpectMissing("LONG");
    ExpectFound("LAST", 3);

    EXPECT_TRUE(DagTableAdd(key63, 5));
    EXPECT_FALSE(DagTableAdd(key64, 6));
    EXPECT_FALSE(DagTableAdd(std::string("AB\0CD", 5), 7));
    EXPECT_EQ(DagTableCount(), 4);
}

// A line of more than 510 bytes (its line end not counted) is skipped whole: what lies past the
// 510th byte never becomes an entry of its own.
TEST_F(DagTableTest, LinesOver510BytesAreSkippedWhole) {
    const std::string fits = "1 A" + std::string(507, ' ');
    ASSERT_EQ(fits.size(), 510u);
    const struct {
        std::string line;
        bool loaded;
    } cases[] = {
        {fits + "\n", true},
        {fits + "\r\n", true},
        {fits + "2 B" + std::string(87, ' ') + "\n", false},
        {fits + " \n", false},
        {"1 A" + std::string(5000, ' ') + "2 B\r\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line.size());
        LoadTextExpectingSuccess(c.line + "3 C\n");
        EXPECT_EQ(DagTableCount(), c.loaded ? 2 : 1);
        if (c.loaded) ExpectFound("A", 1);
        if (!c.loaded) ExpectMissing("A");
        ExpectMissing("B");
        ExpectFound("C", 3);
    }
    // The last line, without a line end, follows the same rule.
    LoadTextExpectingSuccess("3 C\n" + fits + "9");
    EXPECT_EQ(DagTableCount(), 1);
    ExpectMissing("A");
}

TEST_F(DagTableTest, LineEndsOfEveryKind) {
    LoadTextExpectingSuccess("1 A\r\n2 B\n3 C\r\n4 D");
    EXPECT_EQ(DagTableCount(), 4);
    ExpectFound("A", 1);
    ExpectFound("D", 4);
}

TEST_F(DagTableTest, UnfitLinesDoNotStopTheLoad) {
    LoadTextExpectingSuccess("1 A\ngarbage line\n\nX Y\n2 B\n");
    EXPECT_EQ(DagTableCount(), 2);
    ExpectFound("B", 2);
}

TEST_F(DagTableTest, ByteOrderMarks) {
    LoadTextExpectingSuccess(
        "\xEF\xBB\xBF"
        "ABC 123\n");
    EXPECT_EQ(DagTableCount(), 1);
    ExpectFound("ABC", 123);
    ExpectMissing(
        "\xEF\xBB\xBF"
        "ABC");

    LoadTextExpectingSuccess("\xEF\xBB\xBF");
    EXPECT_EQ(DagTableCount(), 0);

    // Without a mark, the first bytes belong to the first line.
    LoadTextExpectingSuccess("1 A");
    ExpectFound("A", 1);
}

// A refused file leaves the table in use as it was.
TEST_F(DagTableTest, FileErrorsKeepTheTableInUse) {
    folder_.Write("empty.dtb", "");
    folder_.Write("two.dtb", "1 ");
    folder_.Write("utf16le.dtb", std::string("\xFF\xFE"
                                             "1\0 \0A\0",
                                             8));
    folder_.Write("utf16be.dtb", std::string("\xFE\xFF\0"
                                             "1\0 \0A",
                                             8));
    const std::string missing = folder_.File("missing.dtb");
    const struct {
        std::string path;
        std::string error;
    } cases[] = {
        {missing, "Erreur ouverture fichier: " + missing},
        {folder_.Path(), "Erreur ouverture fichier: " + folder_.Path()},
        {folder_.File("empty.dtb"), "Erreur fichier vide ou presque: " + folder_.File("empty.dtb")},
        {folder_.File("two.dtb"), "Erreur fichier vide ou presque: " + folder_.File("two.dtb")},
        {folder_.File("utf16le.dtb"),
         "Erreur encodage (UTF16) fichier: " + folder_.File("utf16le.dtb")},
        {folder_.File("utf16be.dtb"),
         "Erreur encodage (UTF16) fichier: " + folder_.File("utf16be.dtb")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        LoadTextExpectingSuccess("1 A\n2 B\n");
        ASSERT_EQ(DagTableCount(), 2);
        std::string error;
        EXPECT_FALSE(DagTableLoadFile(c.path, error));
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(DagTableCount(), 2);
        ExpectFound("a", 1);
        ExpectFound("B", 2);
    }
}

TEST_F(DagTableTest, LoadReplacesEarlierEntries) {
    LoadTextExpectingSuccess("1 A\n2 B\n");
    LoadTextExpectingSuccess("3 C\n");
    EXPECT_EQ(DagTableCount(), 1);
    ExpectMissing("A");
    ExpectFound("C", 3);
}

TEST_F(DagTableTest, FirstMatchIgnoringAsciiCase) {
    LoadTextExpectingSuccess("1 abc\n2 ABC\n3 AbC\n1 other\n4 \xC3\x89t\xC3\xA9\n5 Zulu\n6 [@\n");
    EXPECT_EQ(DagTableCount(), 7);
    ExpectFound("zULU", 5);
    ExpectFound("[@", 6);
    // Neighbours of the letters in ASCII are no letters.
    ExpectMissing("{`");
    ExpectFound("Abc", 1);
    ExpectFound("ABC", 1);
    ExpectFound("OTHER", 1);
    ExpectFound("\xC3\x89T\xC3\xA9", 4);
    // Only ASCII letters are folded.
    ExpectMissing("\xC3\xA9t\xC3\xA9");
    ExpectMissing("ab");
    ExpectMissing("abcd");
}

TEST_F(DagTableTest, OutValueRules) {
    int value = 42;
    EXPECT_FALSE(DagTableFindValue("ABC", value));
    EXPECT_EQ(value, 42);

    DagTableAdd("ABC", 9);
    value = 42;
    EXPECT_FALSE(DagTableFindValue("XYZ", value));
    EXPECT_EQ(value, -1);
    EXPECT_TRUE(DagTableFindValue("abc", value));
    EXPECT_EQ(value, 9);

    DagTableEmpty();
    value = 42;
    EXPECT_FALSE(DagTableFindValue("ABC", value));
    EXPECT_EQ(value, 42);
    EXPECT_EQ(DagTableCount(), 0);
}

TEST_F(DagTableTest, LargeTableGivesTheFirstMatchInTableOrder) {
    // Short keys over a tiny alphabet, so that many keys repeat with other letter cases.
    std::mt19937 random(20261208);
    const std::string alphabet = "aAbBcC1";
    std::vector<Entry> reference;
    for (int i = 0; i < 50000; ++i) {
        std::string key;
        const int length = 1 + static_cast<int>(random() % 5);
        for (int j = 0; j < length; ++j) key += alphabet[random() % alphabet.size()];
        reference.push_back({key, i});
        ASSERT_TRUE(DagTableAdd(key, i));
    }
    ASSERT_EQ(DagTableCount(), 50000);

    auto firstMatch = [&](const std::string& query) {
        for (const Entry& entry : reference) {
            if (entry.key.size() != query.size()) continue;
            bool equal = true;
            for (std::size_t k = 0; k < query.size() && equal; ++k) {
                equal = std::tolower(static_cast<unsigned char>(entry.key[k])) ==
                        std::tolower(static_cast<unsigned char>(query[k]));
            }
            if (equal) return entry.value;
        }
        return -1;
    };
    std::vector<std::string> queries = {"ABBA", "c1c1c", "1", "CCCCC", "zz", "aaaaaa"};
    for (int i = 0; i < 300; ++i) queries.push_back(reference[random() % reference.size()].key);
    for (std::string& query : queries) {
        for (char& c : query) c = static_cast<char>(random() % 2 ? std::toupper(c) : c);
        const int expected = firstMatch(query);
        int value = -7;
        EXPECT_EQ(DagTableFindValue(query, value), expected >= 0) << query;
        EXPECT_EQ(value, expected) << query;
    }

    // Emptying forgets every key; the next entries start a fresh table.
    DagTableEmpty();
    DagTableAdd("abba", 5);
    int value = -7;
    EXPECT_TRUE(DagTableFindValue("ABBA", value));
    EXPECT_EQ(value, 5);
    EXPECT_FALSE(DagTableFindValue("c", value));
}

TEST_F(DagTableTest, LockerKeepsOtherThreadsOut) {
    DagTableAdd("ABC", 1);
    std::atomic<bool> emptied = false;
    std::thread other;
    {
        CDagTableLocker locker;
        // The holder itself may still use the table.
        EXPECT_EQ(DagTableCount(), 1);
        other = std::thread([&] {
            DagTableEmpty();
            emptied = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(emptied);
        EXPECT_EQ(DagTableCount(), 1);
    }
    other.join();
    EXPECT_TRUE(emptied);
    EXPECT_EQ(DagTableCount(), 0);
}

}  // namespace
}  // namespace torvane
