#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "app/Configuration.h"
#include "base/Clock.h"
#include "base/SettingsStore.h"
#include "support/TempFolder.h"
#include "tables/DagTable.h"
#include "ui/CDlgConfig.h"
#include "ui/DialogTestHarness.h"
#include "widgets/CBalloonHelp.h"

namespace torvane::test {
namespace {

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

std::vector<CBalloonHelp*> OpenBalloons() {
    std::vector<CBalloonHelp*> balloons;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (auto* balloon = dynamic_cast<CBalloonHelp*>(window); balloon && balloon->isVisible())
            balloons.push_back(balloon);
    }
    return balloons;
}

QString BalloonPart(CBalloonHelp* balloon, const char* name) {
    auto* label = balloon->findChild<QLabel*>(QLatin1String(name));
    return label ? label->text() : QString();
}

// The operator opens the configuration at 14:03:27 on 8 December 2026.
class ConfigDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        clock::SetNowForTesting({clock::MakeLocal(2026, 12, 8, 14, 3, 27), 0});
        DagTableEmpty();
    }
    void TearDown() override {
        for (CBalloonHelp* balloon : OpenBalloons()) balloon->close();
        clock::UseSystemClock();
        DagTableEmpty();
    }

    // The dialog as Configure shows it, without its modal loop.
    CDlgConfig& Open() {
        dialog = std::make_unique<CDlgConfig>(*harness.core, LoadConfiguration(*harness.core));
        dialog->SetSoundPlayer([this](int id) { sounds.push_back(id); });
        dialog->show();
        return *dialog;
    }
    template <typename Widget = QWidget>
    Widget* Control(const char* name) {
        auto* control = Child<Widget>(*dialog, name);
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    void PressOk() { Click(Control<QPushButton>("1")); }

    DialogTestHarness harness;
    std::unique_ptr<CDlgConfig> dialog;
    std::vector<int> sounds;
};

TEST_F(ConfigDialogTest, ShowsEveryControlWithItsFrenchText) {
    Open();
    EXPECT_EQ(dialog->windowTitle(), Utf8("Configuration Torvane"));
    const struct {
        const char* name;
        const char* text;
    } cases[] = {
        {"groupConnections", " Connexions TCP/IP "},
        {"labelMyLaps", "MyLaps"},
        {"labelMyLapsPort", "Port :"},
        {"labelOstrak", "Ostrak-Pro "},
        {"labelHost", "Hôte :"},
        {"labelHostPort", "Port :"},
        {"groupOthers", " Divers "},
        {"labelLongRaces", "Longues (très très longues) courses"},
        {"1003", "Ouvrir la fenêtre de suivi au lancement"},
        {"1010", "Fermer le flux des détections au lancement"},
        {"1253", "Ignorer les puces non présentes dans la table de correspondance"},
        {"1249", "Recharger la table de correspondance"},
        {"1011", "Enregistrer les détections dans un fichier .DAG"},
        {"1012", "Transmette à Ostrak-Pro également\nalors qu'on enregistre dans le fichier DAG "},
        {"1", "OK"},
        {"2", "Annuler"},
    };
    for (const auto& c : cases) {
        QWidget* control = Control(c.name);
        ASSERT_NE(control, nullptr);
        QString text;
        if (auto* button = qobject_cast<QAbstractButton*>(control)) text = button->text();
        if (auto* label = qobject_cast<QLabel*>(control)) text = label->text();
        if (auto* group = qobject_cast<QGroupBox*>(control)) text = group->title();
        EXPECT_EQ(text, Utf8(c.text)) << c.name;
    }
    auto* list = Control<QComboBox>("1131");
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
    EXPECT_EQ(items,
              QStringList({Utf8("Utiliser l'heure d'aujourd'hui"), Utf8("Ajouter 24h aux temps"),
                           Utf8("Ajouter 48h aux temps"), Utf8("Ajouter 72h aux temps")}));
    EXPECT_TRUE(Control<QPushButton>("1")->isDefault());
}

TEST_F(ConfigDialogTest, ShowsStoredPortsAndHostAndTheRunningFlags) {
    WriteIniInt("MyLaps", "Port", 80);
    WriteIniString("Ostrak", "Host", "timing-pc");
    harness.core->State().openWindowAtStartup = false;
    harness.core->State().closeFlowAtStartup = true;
    harness.core->State().ignoreUnknownChips = true;
    harness.core->State().daysToAdd = 2;
    Open();

    EXPECT_EQ(Control<QLineEdit>("1000")->text(), "80");
    EXPECT_EQ(Control<QLineEdit>("1002")->text(), "8283");
    EXPECT_EQ(Control<QLineEdit>("1001")->text(), "timing-pc");
    EXPECT_FALSE(Control<QCheckBox>("1003")->isChecked());
    EXPECT_TRUE(Control<QCheckBox>("1010")->isChecked());
    EXPECT_TRUE(Control<QCheckBox>("1253")->isChecked());
    EXPECT_FALSE(Control<QCheckBox>("1011")->isChecked());
    EXPECT_TRUE(Control<QCheckBox>("1012")->isChecked());
    EXPECT_FALSE(Control<QCheckBox>("1012")->isEnabled());
    EXPECT_EQ(Control<QComboBox>("1131")->currentIndex(), 2);
}

TEST_F(ConfigDialogTest, RefusedOkShowsABalloonOnTheFieldAndKeepsTheDialogOpen) {
    const struct {
        const char* field;
        const char* typed;
        const char* message;
    } cases[] = {
        {"1000", "1023", "Port invalide !"},   {"1000", "", "Port invalide !"},
        {"1000", "port", "Port invalide !"},   {"1002", "65536", "Port invalide !"},
        {"1001", "   ", "Hôte Ostrak vide !"},
    };
    for (const auto& c : cases) {
        Open();
        QWidget* field = Control(c.field);
        TypeOver(field, Utf8(c.typed));
        PressOk();

        EXPECT_TRUE(dialog->isVisible()) << c.field << " " << c.typed;
        EXPECT_NE(dialog->result(), QDialog::Accepted);
        EXPECT_EQ(qobject_cast<QLineEdit*>(field)->text(), Utf8(c.typed));
        const auto balloons = OpenBalloons();
        ASSERT_EQ(balloons.size(), 1u) << c.field << " " << c.typed;
        EXPECT_EQ(BalloonPart(balloons[0], "balloonTitle"), "Torvane");
        EXPECT_EQ(BalloonPart(balloons[0], "balloonText"), Utf8(c.message));
        // The balloon points into the field, two thirds across and half way down.
        const QPoint anchor =
            field->mapToGlobal(QPoint(field->width() * 2 / 3, field->height() / 2));
        EXPECT_EQ(balloons[0]->y(), anchor.y()) << c.field;
        EXPECT_TRUE(QRect(field->mapToGlobal(QPoint()), field->size()).contains(anchor));
        EXPECT_EQ(sounds, std::vector<int>{140});

        balloons[0]->close();
        sounds.clear();
        dialog.reset();
    }
    // Nothing of the refused tries reached the settings.
    EXPECT_EQ(harness.IniLines(), (std::vector<std::string>{"[Settings]", "TDaysToAdd=0"}));
}

TEST_F(ConfigDialogTest, CorrectedFieldIsAcceptedOnTheNextOk) {
    Open();
    TypeOver(Control("1002"), "80");
    PressOk();
    ASSERT_TRUE(dialog->isVisible());

    TypeOver(Control("1002"), "8284 (spare)");
    PressOk();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(dialog->Values().hostPort, 8284);
}

TEST_F(ConfigDialogTest, RecordingBoxEnablesTheTransmitBoxWhichKeepsItsMark) {
    Open();
    auto* record = Control<QCheckBox>("1011");
    auto* transmit = Control<QCheckBox>("1012");
    ASSERT_FALSE(transmit->isEnabled());

    Click(transmit);  // disabled: the click does nothing
    EXPECT_TRUE(transmit->isChecked());

    Click(record);
    EXPECT_TRUE(record->isChecked());
    EXPECT_TRUE(transmit->isEnabled());
    Click(transmit);
    EXPECT_FALSE(transmit->isChecked());

    Click(record);
    EXPECT_FALSE(transmit->isEnabled());
    EXPECT_FALSE(transmit->isChecked());
}

TEST_F(ConfigDialogTest, OkAppliesWhatTheOperatorChoseToTheSettingsAndTheRunningState) {
    harness.dialogs.answers = {true};
    WhenModalOpens([](QDialog& shown) {
        TypeOver(Child(shown, "1000"), " 4000");
        TypeOver(Child(shown, "1002"), "9000");
        TypeOver(Child(shown, "1001"), "  ostrak-pc ");
        Click(Child(shown, "1003"));
        Click(Child(shown, "1253"));
        Child<QComboBox>(shown, "1131")->setCurrentIndex(1);
        Click(Child(shown, "1011"));
        Click(Child(shown, "1012"));
        Click(Child(shown, "1"));
    });
    Configure(*harness.core, nullptr);

    EXPECT_EQ(harness.IniLines(),
              (std::vector<std::string>{"[Settings]", "TDaysToAdd=1", "TorvIgnoreUnknownTags=YES",
                                        "[Ostrak]", "Port=9000", "Host=ostrak-pc", "[MyLaps]",
                                        "Port=4000", "[Torvane]", "BTorvOpenAtStartup=NO",
                                        "BTorvHaltedAtStartup=YES"}));
    const RunningState& state = harness.core->State();
    EXPECT_EQ(state.daysToAdd, 1);
    EXPECT_EQ(state.raceDays[1], "20261208");
    EXPECT_TRUE(state.ignoreUnknownChips);
    EXPECT_FALSE(state.alsoTransmit);
    EXPECT_TRUE(state.dagRecording);
    EXPECT_EQ(state.dagPath,
              harness.folders.DataFolder() + "/LogFiles/Logs-20261208/Dag-20261208-140327.dag");
    ASSERT_EQ(harness.dialogs.questions.size(), 1u);
    EXPECT_NE(harness.dialogs.questions[0].find("ne seront PLUS envoyées"), std::string::npos);
}

TEST_F(ConfigDialogTest, CancelChangesNothingButTheDaysToAddRewrittenAtOpening) {
    harness.core->State().daysToAdd = 5;
    WhenModalOpens([](QDialog& shown) {
        EXPECT_EQ(Child<QComboBox>(shown, "1131")->currentIndex(), -1);
        TypeOver(Child(shown, "1000"), "4000");
        Click(Child(shown, "1010"));
        Click(Child(shown, "2"));
    });
    Configure(*harness.core, nullptr);

    EXPECT_EQ(harness.IniLines(), (std::vector<std::string>{"[Settings]", "TDaysToAdd=5"}));
    EXPECT_TRUE(harness.core->State().closeFlowAtStartup);
}

// A value outside the list selects nothing; only an entry the operator picks replaces it.
TEST_F(ConfigDialogTest, DaysToAddOutsideTheListChangesOnlyWhenAnEntryIsChosen) {
    const struct {
        int chosen;  // −1: the list is left alone
        int daysToAdd;
        const char* firstRaceDay;
    } cases[] = {{-1, 9, "20261129"}, {2, 2, "20261206"}, {0, 0, "20261208"}};
    for (const auto& c : cases) {
        harness.core->State().daysToAdd = 9;
        WhenModalOpens([&c](QDialog& shown) {
            auto* list = Child<QComboBox>(shown, "1131");
            EXPECT_EQ(list->currentIndex(), -1);
            if (c.chosen >= 0) list->setCurrentIndex(c.chosen);
            Click(Child(shown, "1"));
        });
        Configure(*harness.core, nullptr);
        EXPECT_EQ(harness.core->State().daysToAdd, c.daysToAdd);
        EXPECT_EQ(ReadIniInt("Settings", "TDaysToAdd", -9), c.daysToAdd);
        EXPECT_EQ(harness.core->State().raceDays[0], c.firstRaceDay);
    }
}

// The dialog stays open over midnight while the race-day timer runs in its event loop; OK
// without a new choice in the list keeps the day change.
TEST(ConfigDialogMidnightTest, OkAfterMidnightKeepsTheDayChangeMadeWhileTheDialogWasOpen) {
    clock::SetNowForTesting({clock::MakeLocal(2026, 12, 8, 23, 59, 59), 500});
    DialogTestHarness harness(false);
    Core& core = *harness.core;
    core.LoadGeneralSettings();
    core.State().flowOpen = true;
    core.StartRaceDayTimer();

    QTimer::singleShot(50, [] { clock::AdvanceByForTesting(1000); });
    bool shownBeforeMidnight = false;
    WhenModalOpens(
        [&](QDialog& shown) {
            shownBeforeMidnight = Child<QComboBox>(shown, "1131")->currentIndex() == 0;
            Click(Child(shown, "1"));
        },
        5000, [&] { return core.State().daysToAdd == 1; });
    Configure(core, nullptr);

    EXPECT_TRUE(shownBeforeMidnight);
    EXPECT_EQ(core.State().daysToAdd, 1);
    EXPECT_EQ(ReadIniInt("Settings", "TDaysToAdd", -9), 1);
    EXPECT_EQ(core.State().raceDays[0], "20261208");

    clock::SetNowForTesting({clock::MakeLocal(2026, 12, 9, 0, 2, 0), 0});
    core.Processor().ProcessPassing(
        test::MakePassing("Loop1", "KV00007", "00:02:00.000", "20261209"));
    ASSERT_FALSE(core.HostOutbox().Waiting().empty());
    EXPECT_EQ(core.HostOutbox().Waiting().back().text,
              "AddDagClock(1\tLoop1\tKV00007\t1\t24:02:00.00)");
    clock::UseSystemClock();
}

TEST_F(ConfigDialogTest, ReloadShowsTheOutcomeWithTheNormalCursorBackAndStaysOpen) {
    Open();
    Click(Control("1249"));
    EXPECT_EQ(harness.dialogs.messages,
              (std::vector<std::string>{"### Pas de table de correspondance trouvée (fichier "
                                        "ChipTable.dtb ou MyLapsTable.dtb)"}));
    EXPECT_EQ(harness.dialogs.icons, std::vector<MessageIcon>{MessageIcon::Warning});
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(dialog->isVisible());

    const std::string path = harness.folders.DataFolder() + "/ChipTable.dtb";
    WriteFile(path, "7 KV00007\n");
    Click(Control("1249"));
    EXPECT_EQ(harness.dialogs.icons.back(), MessageIcon::Information);
    int bib = 0;
    EXPECT_TRUE(DagTableFindValue("KV00007", bib));
    EXPECT_EQ(bib, 7);

    // A refused file: the message box says why, and the table in use stays.
    WriteFile(path, std::string("\xFF\xFE"
                                "8\0 \0K\0",
                                8));
    Click(Control("1249"));
    EXPECT_EQ(harness.dialogs.icons.back(), MessageIcon::Warning);
    EXPECT_EQ(harness.dialogs.messages.back(),
              "### Table de correspondance non chargée (Erreur encodage (UTF16) fichier: " + path +
                  "). La table en service est conservée (1 entrées)");
    EXPECT_TRUE(DagTableFindValue("KV00007", bib));
    EXPECT_EQ(bib, 7);
}

TEST_F(ConfigDialogTest, RendersEveryControlInsideTheDialog) {
    Open();
    Click(Control("1011"));
    const TempFolder folder;
    ASSERT_TRUE(dialog->grab().save(QString::fromStdString(folder.File("config-dialog.png"))));

    const QRect inside = dialog->rect();
    for (QWidget* control : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (control->isWindow()) continue;
        EXPECT_TRUE(inside.contains(control->geometry())) << control->objectName().toStdString();
        // Texts fit their control.
        QString text;
        if (auto* label = qobject_cast<QLabel*>(control)) text = label->text();
        if (auto* box = qobject_cast<QCheckBox*>(control)) {
            EXPECT_LE(box->sizeHint().width(), box->width()) << box->objectName().toStdString();
            EXPECT_LE(box->sizeHint().height(), box->height()) << box->objectName().toStdString();
        }
        if (!text.isEmpty()) {
            EXPECT_LE(control->sizeHint().width(), control->width())
                << control->objectName().toStdString();
        }
    }
}

}  // namespace
}  // namespace torvane::test
