#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTableView>
#include <cstdio>

#include "app/NewRace.h"
#include "journal/SqliteDatabase.h"
#include "support/CoreHarness.h"
#include "tables/DagTable.h"
#include "ui/JournalWindow.h"

namespace torvane::test {
namespace {

constexpr int kRaceRows = 1000000;
constexpr int kBibs = 2000;

// A race's journal as the program writes it, filled in one statement: passing i has bib
// i % 2000 + 1, race time i / 10 seconds after 09:00 and one host line, sent but for the last
// ten.
void FillRows(SqliteDatabase& database) {
    std::string error;
    const std::string sql =
        "BEGIN; WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
        "FROM n WHERE i < " +
        std::to_string(kRaceRows) +
        ") INSERT INTO passing(id, kind, source, record, token, "
        "received_ms, utc_offset, chip, bib, race_time, box_date, "
        "record_key, time_key) SELECT i, 0, 'Loop1', printf('KV%07d', i), "
        "'1', 1796733000000 + i * 100, 3600, printf('KV%05d', i % 2000 + 1), "
        "i % 2000 + 1, printf('%02d:%02d:%02d.%02d', 9 + i / 36000, "
        "i / 600 % 60, i / 10 % 60, i % 10 * 10), '20261208', i, '' FROM n;"
        "INSERT INTO host_line(seq, passing_id, line, sent_ms) SELECT id, id, "
        "'AddDagClock(' || bib || ')', CASE WHEN id > " +
        std::to_string(kRaceRows - 10) +
        " THEN NULL ELSE received_ms + 5 END FROM passing; COMMIT;";
    ASSERT_TRUE(database.Execute(sql.c_str(), error)) << error;
}

// The program's journal is closed while it is filled, so that the filling may skip the safety
// of its writes (a test's file). It is filled as the layout before the search indexes, which the
// program then adds when it opens the journal again, as after an update in the middle of a race:
// how long that takes is printed.
void FillRace(Core& core) {
    const std::string path = core.PassingJournal().Path();
    core.PassingJournal().Close();
    {
        SqliteDatabase database;
        std::string error;
        ASSERT_TRUE(database.Open(path, error)) << error;
        ASSERT_TRUE(
            database.Execute("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; "
                             "DROP INDEX passing_by_bib; DROP INDEX passing_by_chip; "
                             "DROP INDEX passing_by_race_time; PRAGMA user_version = 4",
                             error))
            << error;
        FillRows(database);
        ASSERT_TRUE(database.Execute("PRAGMA journal_mode = WAL", error)) << error;
    }
    QElapsedTimer upgrade;
    upgrade.start();
    ASSERT_TRUE(core.OpenJournal());
    std::printf("[ figures  ] %d passings: search indexes (layout 5) added in %lld ms\n", kRaceRows,
                static_cast<long long>(upgrade.elapsed()));
}

bool Searched(JournalWindow& window) {
    return WaitUntil([&] { return !window.IsSearching(); }, 30000);
}

void SetField(JournalWindow& window, const char* name, const char* text) {
    window.findChild<QLineEdit*>(QLatin1String(name))->setText(QString::fromUtf8(text));
}

// The window on a race of a million passings: it opens at once and a bib search answers at
// once (both printed, for the record); an export of the whole journal runs with its bar while
// a search still answers, and a cancelled export leaves no half file.
TEST(JournalWindowTest, AMillionPassingsOpenAtOnceAndStaySearchable) {
    CoreHarness harness;
    FillRace(harness.core());

    QElapsedTimer elapsed;
    elapsed.start();
    JournalWindow window(harness.core());
    window.show();
    ASSERT_TRUE(Searched(window));
    window.Table()->scrollToBottom();
    const JournalRow* last = window.Model().RowAt(kRaceRows - 1);
    const qint64 openMs = elapsed.elapsed();
    ASSERT_EQ(window.Model().rowCount(), kRaceRows);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->id, kRaceRows);
    EXPECT_EQ(last->state, PassingState::Waiting);
    EXPECT_EQ(window.Model().RowAt(0)->state, PassingState::Sent);

    SetField(window, "term", "412");
    elapsed.restart();
    ASSERT_TRUE(window.Search());
    ASSERT_TRUE(Searched(window));
    const qint64 searchMs = elapsed.elapsed();
    ASSERT_EQ(window.Model().rowCount(), kRaceRows / kBibs);
    for (int row = 0; row < window.Model().rowCount(); ++row) {
        ASSERT_EQ(window.Model().RowAt(row)->bib, "412") << row;
    }
    std::printf(
        "[ figures  ] journal window, %d passings: opened in %lld ms, bib search in "
        "%lld ms (%d rows)\n",
        kRaceRows, static_cast<long long>(openMs), static_cast<long long>(searchMs),
        window.Model().rowCount());

    // The whole journal goes out while a span search answers.
    SetField(window, "term", "");
    ASSERT_TRUE(window.Search() && Searched(window));
    const QString csv = QString::fromStdString(harness.folders.DataFolder() + "/race.csv");
    window.askExportPath = [&] { return csv; };
    window.ExportShown();
    ASSERT_TRUE(window.IsExporting());
    SetField(window, "from", "10:00");
    SetField(window, "to", "10:00:59");
    ASSERT_TRUE(window.Search() && Searched(window));
    EXPECT_TRUE(window.IsExporting()) << "the search waited for the export";
    EXPECT_EQ(window.Model().rowCount(), 600);
    ASSERT_TRUE(WaitUntil([&] { return !window.IsExporting(); }, 60000));
    QFile written(csv);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    int lines = 0;
    while (!written.readLine().isEmpty()) ++lines;
    EXPECT_EQ(lines, kRaceRows + 1);
    written.close();

    // Cancelled: no half file.
    QFile::remove(csv);
    SetField(window, "from", "");
    SetField(window, "to", "");
    ASSERT_TRUE(window.Search() && Searched(window));
    window.ExportShown();
    window.findChild<QProgressDialog*>(QStringLiteral("exportProgress"))->cancel();
    ASSERT_TRUE(WaitUntil([&] { return !window.IsExporting(); }, 60000));
    EXPECT_FALSE(QFile::exists(csv));
    EXPECT_TRUE(window.StatusText().contains(QStringLiteral("annulée")))
        << window.StatusText().toStdString();
}

class JournalWindowRaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        DagTableEmpty();
        CDagTableLocker lock;
        DagTableAdd("KV00007", 7);
    }
    void TearDown() override { DagTableEmpty(); }
    void Pass(const char* chip, const char* time, bool flowOpen) {
        harness.core().State().flowOpen = flowOpen;
        harness.core().Processor().ProcessPassing(MakePassing("Loop1", chip, time, "20261208"));
        harness.core().FlushJournal();
    }
    void Choose(JournalWindow& window, std::initializer_list<int> rows) {
        QItemSelectionModel* selection = window.Table()->selectionModel();
        selection->clear();
        for (int row : rows) {
            selection->select(window.Model().index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }
    CoreHarness harness;
};

// Chosen rows are sent again once each after the operator's yes, through the outbox; rows never
// forwarded are told apart and left alone; a search's forwarded rows are sent again likewise;
// a row kept back while the flow was closed is sent on purpose, once.
TEST_F(JournalWindowRaceTest, ChosenRowsAndSearchesAreSentAgainOnceAfterAYes) {
    Pass("KV00007", "12:00:01.000", true);
    Pass("ZZ00001", "12:00:02.000", true);   // unknown: sent as its chip code
    Pass("KV00007", "12:00:03.000", false);  // kept back: the flow is closed
    JournalWindow window(harness.core());
    ASSERT_TRUE(Searched(window));
    ASSERT_EQ(window.Model().rowCount(), 3);
    EXPECT_EQ(window.Model().RowAt(2)->state, PassingState::FlowClosed);
    EXPECT_EQ(window.Model().data(window.Model().index(1, JournalTableModel::kBib)), QString());
    const std::size_t before = harness.WaitingHostLines().size();

    const struct {
        const char* name;
        std::initializer_list<int> rows;
        bool answer;
        const char* question;  // empty: nothing asked
        std::size_t added;
    } cases[] = {
        {"nothing chosen", {}, true, "", 0},
        {"only a row kept back", {2}, true, "", 0},
        {"declined", {0, 1}, false, "Détections choisies à renvoyer à Ostrak Pro : 2.", 0},
        {"accepted, with a row kept back",
         {0, 1, 2},
         true,
         "Lignes choisies jamais transmises, laissées telles quelles : 1.",
         2},
    };
    std::size_t expected = before;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        harness.dialogs.questions.clear();
        harness.dialogs.answers = {c.answer};
        Choose(window, c.rows);
        window.ResendSelection();
        if (*c.question == '\0') {
            EXPECT_TRUE(harness.dialogs.questions.empty());
        } else {
            ASSERT_EQ(harness.dialogs.questions.size(), 1u);
            EXPECT_NE(harness.dialogs.questions[0].find(c.question), std::string::npos)
                << harness.dialogs.questions[0];
        }
        expected += c.added;
        if (c.added > 0) {
            EXPECT_TRUE(WaitUntil([&] { return window.StatusText().contains("remises en file"); }));
        }
        EXPECT_EQ(harness.WaitingHostLines().size(), expected);
    }
    const auto waiting = harness.WaitingHostLines();
    EXPECT_EQ(waiting[waiting.size() - 2], waiting[0]);
    EXPECT_EQ(waiting.back(), waiting[1]);

    // The chip finds the row kept back too (it has no bib yet); only the forwarded one goes.
    SetField(window, "term", "KV00007");
    ASSERT_TRUE(window.Search() && Searched(window));
    ASSERT_EQ(window.Model().rowCount(), 2);
    harness.dialogs.questions.clear();
    window.ResendSearch();
    ASSERT_EQ(harness.dialogs.questions.size(), 1u);
    EXPECT_NE(harness.dialogs.questions[0].find(": 1."), std::string::npos);
    EXPECT_TRUE(WaitUntil([&] { return window.StatusText().contains("remises en file"); }));
    EXPECT_EQ(harness.WaitingHostLines().size(), expected + 1);

    // The row kept back goes on purpose, once, with the bib and race time it would have had.
    SetField(window, "term", "");
    ASSERT_TRUE(window.Search() && Searched(window));
    for (int round = 0; round < 2; ++round) {
        harness.dialogs.questions.clear();
        Choose(window, {2});
        window.ForwardHeld();
        EXPECT_EQ(harness.dialogs.questions.size(), round == 0 ? 1u : 0u);
        if (round == 0) {
            ASSERT_TRUE(WaitUntil([&] { return window.StatusText().contains("retenues"); }));
        }
        EXPECT_EQ(harness.WaitingHostLines().size(), expected + 2);
        ASSERT_TRUE(window.Search() && Searched(window));
    }
    EXPECT_EQ(harness.WaitingHostLines().back(), "AddDagClock(1\tLoop1\t7\t1\t12:00:03.00)");
    EXPECT_EQ(window.Model().RowAt(2)->state, PassingState::Waiting);
    EXPECT_EQ(window.Model().RowAt(2)->bib, "7");
}

// An open window adds the passings journaled since below its rows, whose choice stays.
TEST_F(JournalWindowRaceTest, PassingsJournaledSinceAppearWithoutASearch) {
    Pass("KV00007", "12:00:01.000", true);
    JournalWindow window(harness.core());
    ASSERT_TRUE(Searched(window));
    Choose(window, {0});
    Pass("KV00007", "12:00:02.000", false);
    Pass("ZZ00001", "12:00:03.000", true);
    window.RefreshShown();
    ASSERT_TRUE(WaitUntil([&] { return window.Model().rowCount() == 3; }));
    EXPECT_EQ(window.Table()->selectionModel()->selectedRows(),
              QModelIndexList{window.Model().index(0, 0)});
    EXPECT_EQ(window.Model().RowAt(1)->state, PassingState::FlowClosed);
    EXPECT_EQ(window.StatusText().toStdString(), "Passages dans le journal : 3");
}

// An open window does not stand in the way of a new race: it lets the file go, then shows the
// new race's journal; the ended race's journal opens in it read only.
TEST_F(JournalWindowRaceTest, ANewRaceGoesAheadWithTheWindowOpenWhichThenShowsTheNewJournal) {
    Pass("KV00007", "12:00:01.000", false);  // kept back: nothing waits for the host
    JournalWindow window(harness.core());
    ASSERT_TRUE(Searched(window));
    ASSERT_EQ(window.Model().rowCount(), 1);
    const std::size_t shown = harness.dialogs.messages.size();
    harness.dialogs.answers = {true};
    window.findChild<QPushButton*>("newRace")->click();
    ASSERT_EQ(harness.dialogs.messages.size(), shown + 1);
    const std::string message = harness.dialogs.messages.back();
    ASSERT_EQ(harness.dialogs.icons.back(), MessageIcon::Information) << message;
    EXPECT_TRUE(WaitUntil([&] { return !window.IsSearching() && window.Model().rowCount() == 0; }));
    Pass("KV00007", "12:00:02.000", false);
    ASSERT_TRUE(window.Search() && Searched(window));
    ASSERT_EQ(window.Model().rowCount(), 1);
    EXPECT_EQ(window.Model().RowAt(0)->state, PassingState::FlowClosed);

    // The ended race's journal opens read only; a file that is no journal is told.
    const QString kept = QString::fromStdString(message.substr(message.find(KeptJournalsFolder())));
    window.OpenKeptJournal(kept);
    ASSERT_TRUE(Searched(window));
    ASSERT_EQ(window.Model().rowCount(), 1);
    EXPECT_EQ(window.Model().RowAt(0)->raceTime, "");
    Choose(window, {0});
    harness.dialogs.questions.clear();
    window.ForwardHeld();
    EXPECT_TRUE(harness.dialogs.questions.empty());
    EXPECT_TRUE(window.StatusText().contains("lit seulement")) << window.StatusText().toStdString();
    const QString notJournal = kept + ".txt";
    QFile text(notJournal);
    ASSERT_TRUE(text.open(QIODevice::WriteOnly) && text.write(QByteArray(4096, 'x')) == 4096);
    text.close();
    window.OpenKeptJournal(notJournal);
    ASSERT_TRUE(Searched(window));
    EXPECT_EQ(window.Model().rowCount(), 0);
    EXPECT_TRUE(window.StatusText().contains("ne peut pas être lu"))
        << window.StatusText().toStdString();
    window.Reopen();
    ASSERT_TRUE(Searched(window));
    EXPECT_EQ(window.Model().rowCount(), 1);
}

// A span that is not one is told, and the table keeps what it showed.
TEST_F(JournalWindowRaceTest, ASpanThatIsNotOneIsToldAndNothingIsSearched) {
    Pass("KV00007", "12:00:01.000", true);
    JournalWindow window(harness.core());
    ASSERT_TRUE(Searched(window));
    const struct {
        const char* from;
        const char* to;
    } cases[] = {{"12h", ""}, {"", "25:61"}, {"12:00:02", "12:00:01"}, {"-1:00", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.from) + " / " + c.to);
        SetField(window, "from", c.from);
        SetField(window, "to", c.to);
        EXPECT_FALSE(window.Search());
        EXPECT_FALSE(window.IsSearching());
        EXPECT_TRUE(window.StatusText().contains(QStringLiteral("HH:MM")))
            << window.StatusText().toStdString();
        EXPECT_EQ(window.Model().rowCount(), 1);
    }
}

}  // namespace
}  // namespace torvane::test
