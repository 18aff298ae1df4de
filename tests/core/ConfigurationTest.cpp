#include "app/Configuration.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>
#include <sstream>
#include <string>

#include "base/Clock.h"
#include "base/Logging.h"
#include "base/SettingsStore.h"
#include "support/CoreHarness.h"
#include "support/LoopbackPeer.h"
#include "support/LoopbackSockets.h"
#include "tables/DagTable.h"

namespace torvane {
namespace {

using test::CoreHarness;
using test::ReadFile;

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(ConfigurationPortTest, AcceptsDecimalPortsFrom1024To65535ReadFromTheStart) {
    const struct {
        const char* typed;
        std::optional<int> port;
    } cases[] = {
        {"1024", 1024},
        {"1023", std::nullopt},
        {"65535", 65535},
        {"65536", std::nullopt},
        {"3097abc", 3097},
        {"  8283", 8283},
        {"\t3097 ", 3097},
        {"abc", std::nullopt},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"-3097", std::nullopt},
        {"0", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"a3097", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto result = ValidatePort(c.typed);
        EXPECT_EQ(result.value, c.port) << '"' << c.typed << '"';
        EXPECT_EQ(result.error, c.port ? "" : "Port invalide !") << '"' << c.typed << '"';
    }
}

TEST(ConfigurationHostTest, TrimsTheHostAndRefusesBlanks) {
    const struct {
        const char* typed;
        std::optional<std::string> host;
    } cases[] = {
        {"ostrak.local", "ostrak.local"},
        {"  192.168.1.20\t ", "192.168.1.20"},
        {"", std::nullopt},
        {"   \t  ", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto result = ValidateHost(c.typed);
        EXPECT_EQ(result.value, c.host) << '"' << c.typed << '"';
        EXPECT_EQ(result.error, c.host ? "" : "Hôte Ostrak vide !") << '"' << c.typed << '"';
    }
}

TEST(ConfigurationFieldsTest, StopsAtTheFirstRefusalInTheDialogsOrder) {
    const struct {
        const char *myLaps, *hostPort, *host;
        std::optional<ConfigurationField> refused;
    } cases[] = {
        {"80", "80", "", ConfigurationField::MyLapsPort},
        {"3097", "1023", "", ConfigurationField::HostPort},
        {"3097", "8283", "  ", ConfigurationField::Host},
        {"4000x", " 9000", " ostrak ", std::nullopt},
    };
    for (const auto& c : cases) {
        ConfigurationValues values;
        values.hostAddress = "before";
        const auto refusal = AcceptTypedFields(c.myLaps, c.hostPort, c.host, values);
        ASSERT_EQ(refusal.has_value(), c.refused.has_value()) << c.myLaps << '/' << c.hostPort;
        if (refusal) {
            EXPECT_EQ(refusal->field, *c.refused);
            EXPECT_EQ(values.hostAddress, "before");
            EXPECT_EQ(values.myLapsPort, 3097);
        }
    }

    ConfigurationValues values;
    ASSERT_FALSE(AcceptTypedFields("4000x", " 9000", " ostrak ", values));
    EXPECT_EQ(values.myLapsPort, 4000);
    EXPECT_EQ(values.hostPort, 9000);
    EXPECT_EQ(values.hostAddress, "ostrak");
}

// The dialog opened at 14:03:27 on 8 December 2026.
class ConfigurationTest : public ::testing::Test {
protected:
    void SetUp() override {
        clock::SetNowForTesting({clock::MakeLocal(2026, 12, 8, 14, 3, 27), 0});
        DagTableEmpty();
    }
    void TearDown() override {
        clock::UseSystemClock();
        DagTableEmpty();
    }

    Core& core() { return harness.core(); }
    RunningState& state() { return core().State(); }
    // The settings file's lines without the blank lines between sections.
    std::vector<std::string> IniLines() const {
        std::vector<std::string> lines;
        std::istringstream file(ReadFile(harness.folders.IniPath()));
        for (std::string line; std::getline(file, line);)
            if (!line.empty()) lines.push_back(line);
        return lines;
    }
    std::string DayFolder() const {
        return harness.folders.DataFolder() + "/LogFiles/Logs-20261208";
    }

    // Opens the dialog, lets `edit` play the operator, and presses OK.
    template <typename Edit>
    void OpenEditAndAccept(Edit edit) {
        ConfigurationValues values = LoadConfiguration(core());
        edit(values);
        ApplyConfiguration(core(), values);
    }

    CoreHarness harness;
};

TEST_F(ConfigurationTest, ShowsDefaultsOrStoredValuesAndTheRunningFlags) {
    state().openWindowAtStartup = false;
    state().closeFlowAtStartup = true;
    state().dagRecording = true;
    state().alsoTransmit = false;
    state().ignoreUnknownChips = true;
    state().daysToAdd = 2;

    ConfigurationValues values = LoadConfiguration(core());
    EXPECT_EQ(values.hostAddress, LoopbackHostName());
    EXPECT_EQ(values.hostPort, 8283);
    EXPECT_EQ(values.myLapsPort, 3097);
    EXPECT_FALSE(values.openWindowAtStartup);
    EXPECT_TRUE(values.closeFlowAtStartup);
    EXPECT_TRUE(values.dagWanted);
    EXPECT_FALSE(values.alsoTransmit);
    EXPECT_TRUE(values.ignoreUnknownChips);
    EXPECT_EQ(values.daysToAdd, 2);

    // A port below 1024 in the file is shown as it is.
    WriteIniString("Ostrak", "Host", "timing-pc");
    WriteIniInt("Ostrak", "Port", 9000);
    WriteIniInt("MyLaps", "Port", 80);
    values = LoadConfiguration(core());
    EXPECT_EQ(values.hostAddress, "timing-pc");
    EXPECT_EQ(values.hostPort, 9000);
    EXPECT_EQ(values.myLapsPort, 80);
}

TEST_F(ConfigurationTest, OpeningRewritesDaysToAddAndTheRaceDaysEvenWhenCancelled) {
    state().daysToAdd = 1;
    state().raceDays = {"20000101", "20000102", "20000103", "20000104"};

    LoadConfiguration(core());  // and Cancel: nothing more

    EXPECT_EQ(IniLines(), (std::vector<std::string>{"[Settings]", "TDaysToAdd=1"}));
    EXPECT_EQ(state().raceDays,
              (std::array<std::string, 4>{"20261207", "20261208", "20261209", "20261210"}));
}

TEST_F(ConfigurationTest, OkWritesEverySettingInTheApplyOrder) {
    OpenEditAndAccept([](ConfigurationValues& values) {
        ASSERT_FALSE(AcceptTypedFields("4000", "9000", "  ostrak-pc ", values));
        values.openWindowAtStartup = false;
        values.closeFlowAtStartup = false;
        values.daysToAdd = 3;
        values.ignoreUnknownChips = true;
    });

    EXPECT_EQ(IniLines(), (std::vector<std::string>{
                              "[Settings]", "TDaysToAdd=3", "TorvIgnoreUnknownTags=YES", "[Ostrak]",
                              "Port=9000", "Host=ostrak-pc", "[MyLaps]", "Port=4000", "[Torvane]",
                              "BTorvOpenAtStartup=NO", "BTorvHaltedAtStartup=NO"}));
    EXPECT_FALSE(state().openWindowAtStartup);
    EXPECT_FALSE(state().closeFlowAtStartup);
    EXPECT_TRUE(state().ignoreUnknownChips);
    EXPECT_EQ(state().daysToAdd, 3);
    EXPECT_EQ(state().raceDays,
              (std::array<std::string, 4>{"20261205", "20261206", "20261207", "20261208"}));
    EXPECT_TRUE(harness.dialogs.questions.empty());
}

TEST_F(ConfigurationTest, NoDaysToAddSelectedIsStoredAsMinusOneAndCountsAsTheFirstDay) {
    state().daysToAdd = 7;
    ConfigurationValues values = LoadConfiguration(core());
    EXPECT_EQ(values.daysToAdd, 7);  // outside the list: the dialog selects nothing

    values.daysToAdd = -1;
    ApplyConfiguration(core(), values);
    EXPECT_EQ(ReadIniInt("Settings", "TDaysToAdd", 99), -1);
    EXPECT_EQ(state().raceDays,
              (std::array<std::string, 4>{"20261208", "20261209", "20261210", "20261211"}));
}

TEST_F(ConfigurationTest, StartingTheDagRecordingAsksFirstWithTheFileAndTheTransmitNote) {
    const std::string path = DayFolder() + "/Dag-20261208-140327.dag";
    const std::string question =
        "Toutes les détections vont être maintenant enregistrées dans le fichier DAG :\n\n" + path +
        "\n\nÊtes-vous d'accord ?\n\n";
    const struct {
        bool alsoTransmit;
        bool answer;
        const char* note;
    } cases[] = {
        {true, false, "Notez que les détections continueront à être envoyées à Ostrak-Pro"},
        {false, false, "Notez que les détections ne seront PLUS envoyées à Ostrak-Pro"},
        {false, true, "Notez que les détections ne seront PLUS envoyées à Ostrak-Pro"},
    };
    for (const auto& c : cases) {
        harness.dialogs.questions.clear();
        harness.dialogs.answers = {c.answer};
        state().dagCounter = 9;
        OpenEditAndAccept([&](ConfigurationValues& values) {
            values.dagWanted = true;
            values.alsoTransmit = c.alsoTransmit;
        });

        EXPECT_EQ(harness.dialogs.questions, (std::vector<std::string>{question + c.note}));
        // The transmit choice holds whatever the answer.
        EXPECT_EQ(state().alsoTransmit, c.alsoTransmit);
        EXPECT_EQ(state().dagRecording, c.answer);
        EXPECT_EQ(state().dagPath, c.answer ? path : "");
        EXPECT_EQ(state().dagCounter, c.answer ? 1 : 9);
        EXPECT_EQ(IsFolder(DayFolder()), c.answer);
        // The next opening shows what is really running.
        EXPECT_EQ(LoadConfiguration(core()).dagWanted, c.answer);
    }
}

// Midnight passes while the operator reads the question: the recording goes to the file the
// question named, in a folder that exists.
TEST_F(ConfigurationTest, DagQuestionAnsweredAfterMidnightRecordsInTheNamedFile) {
    clock::SetNowForTesting({clock::MakeLocal(2026, 12, 8, 23, 59, 58), 0});
    harness.dialogs.whileAsking = [] {
        clock::SetNowForTesting({clock::MakeLocal(2026, 12, 9, 0, 0, 5), 0});
    };
    OpenEditAndAccept([](ConfigurationValues& values) { values.dagWanted = true; });

    const std::string path = DayFolder() + "/Dag-20261208-235958.dag";
    ASSERT_EQ(state().dagPath, path);
    core().Dag().AppendDagRecord("Loop1", "ZZ99999", "24:00:05.00");
    EXPECT_EQ(ReadFile(path), "1\tLoop1\tZZ99999\t1\t24:00:05.00\r\n");
}

// The race-day timer may move days-to-add while the dialog is open; OK writes the list's value
// only when the operator chose another entry than the one shown at opening.
TEST_F(ConfigurationTest, OkKeepsADaysToAddMovedWhileTheDialogWasOpen) {
    const struct {
        std::optional<int> chosen;
        int expected;
    } cases[] = {{std::nullopt, 1}, {2, 2}, {3, 3}};
    for (const auto& c : cases) {
        state().daysToAdd = 0;
        OpenEditAndAccept([&](ConfigurationValues& values) {
            state().daysToAdd = 1;  // midnight, while the dialog is open
            if (c.chosen) values.daysToAdd = *c.chosen;
        });
        EXPECT_EQ(state().daysToAdd, c.expected);
        EXPECT_EQ(ReadIniInt("Settings", "TDaysToAdd", -9), c.expected);
    }
}

TEST_F(ConfigurationTest, StoppingTheDagRecordingAsksAndKeepsRecordingOnNo) {
    const std::string path = DayFolder() + "/Dag-20261208-120000.dag";
    for (const bool answer : {false, true}) {
        core().Dag().StartRecording(path);
        state().dagCounter = 4;
        harness.dialogs.questions.clear();
        harness.dialogs.answers = {answer};

        OpenEditAndAccept([](ConfigurationValues& values) { values.dagWanted = false; });

        EXPECT_EQ(harness.dialogs.questions,
                  (std::vector<std::string>{"Souhaitez vous vraiment arrêtez l'enregistrement "
                                            "des détections dans un fichier DAG ?"}));
        EXPECT_EQ(state().dagRecording, !answer);
        EXPECT_EQ(state().dagPath, answer ? "" : path);
        EXPECT_EQ(state().dagCounter, answer ? 1 : 4);
    }
}

TEST_F(ConfigurationTest, ChangingOnlyAlsoTransmitAsksNothingAndAppliesAtOnce) {
    core().Dag().StartRecording(DayFolder() + "/Dag-20261208-120000.dag");
    state().dagCounter = 3;

    OpenEditAndAccept([](ConfigurationValues& values) { values.alsoTransmit = false; });

    EXPECT_TRUE(harness.dialogs.questions.empty());
    EXPECT_FALSE(state().alsoTransmit);
    EXPECT_TRUE(state().dagRecording);
    EXPECT_EQ(state().dagCounter, 3);
}

TEST_F(ConfigurationTest, ReloadShowsTheLoadOutcomeWithItsIconAfterTheCursorIsBack) {
    int cursorRestored = 0;
    std::size_t messagesWhenRestored = 99;
    auto restore = [&] {
        ++cursorRestored;
        messagesWhenRestored = harness.dialogs.messages.size();
    };

    const std::string path = harness.folders.DataFolder() + "/MyLapsTable.dtb";
    EXPECT_FALSE(ReloadChipTable(core(), restore));
    test::WriteFile(path, "7 KV00007\n42 KV00042\n");
    EXPECT_TRUE(ReloadChipTable(core(), restore));
    test::WriteFile(path, "\xFE\xFF");
    EXPECT_FALSE(ReloadChipTable(core(), restore));

    EXPECT_EQ(cursorRestored, 3);
    EXPECT_EQ(messagesWhenRestored, 2u);
    const std::vector<std::string> expected = {
        "### Pas de table de correspondance trouvée (fichier ChipTable.dtb ou MyLapsTable.dtb)",
        "+++ Table de correspondance chargée (2 entrées). Fichier " + path,
        "### Table de correspondance non chargée (Erreur fichier vide ou presque: " + path +
            "). La table en service est conservée (2 entrées)"};
    EXPECT_EQ(harness.dialogs.messages, expected);
    EXPECT_EQ(harness.dialogs.icons,
              (std::vector<MessageIcon>{MessageIcon::Warning, MessageIcon::Information,
                                        MessageIcon::Warning}));
    int bib = 0;
    EXPECT_TRUE(DagTableFindValue("KV00042", bib));
    EXPECT_EQ(bib, 42);
    test::DeliverPosted();
    EXPECT_EQ(harness.ShownLog(), expected);
}

}  // namespace
}  // namespace torvane

namespace torvane {
namespace {

// A host corrected in the dialog while the link keeps failing is tried at once, not after the
// long retry delay nor with the old address.
TEST(ConfigurationHostLinkTest, ACorrectedHostIsTriedAtTheLinksNextAttempt) {
    CoreHarness harness;
    test::TcpServer host;
    harness.core().Host().StartHostLink("127.0.0.1", test::FreeLoopbackPort(), 30);
    ASSERT_TRUE(test::WaitUntil([&] {
        const auto log = harness.ShownLog();
        return std::find(log.begin(), log.end(), "+ Déconnecté de Ostrak Pro") != log.end();
    }));
    ConfigurationValues values = LoadConfiguration(harness.core());
    values.hostAddress = "127.0.0.1";
    values.hostPort = host.Port();
    ApplyConfiguration(harness.core(), values);
    EXPECT_TRUE(host.WaitForConnection(2000));
    harness.core().Host().StopHostLink();
}

}  // namespace
}  // namespace torvane
