#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "base/Clock.h"
#include "base/SettingsStore.h"
#include "support/TempFolder.h"
#include "ui/CDlgInsertTimeNew.h"
#include "ui/DialogTestHarness.h"
#include "ui/ManualDetectionDialogInput.h"

namespace torvane::test {
namespace {

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

const std::vector<std::string> kDetectors = {"31     CLASSIC", "10", "11"};

QStringList Items(const QComboBox* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
    return items;
}

// The operator types a detection at 14:03:27.456 on 8 December 2026, the first race day.
class ManualDetectionDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        clock::SetNowForTesting({clock::MakeLocal(2026, 12, 8, 14, 3, 27), 456});
        SetRaceDaysFrom(0);
    }
    void TearDown() override { clock::UseSystemClock(); }

    // Today is race day `daysToAdd` (0 to 3).
    void SetRaceDaysFrom(int daysToAdd) {
        harness.core->State().daysToAdd = daysToAdd;
        harness.core->Processor().ComputeRaceDayDates();
    }
    CDlgInsertTimeNew& Open(const std::vector<std::string>& detectors = kDetectors) {
        dialog = std::make_unique<CDlgInsertTimeNew>(*harness.core, detectors);
        dialog->show();
        return *dialog;
    }
    template <typename Widget = QWidget>
    Widget* Control(const char* name) {
        auto* control = Child<Widget>(*dialog, name);
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    void Type(const char* bib, const char* time) {
        TypeOver(Control("1081"), Utf8(bib));
        TypeOver(Control("1240"), Utf8(time));
    }
    static int StoredDetectorIndex() { return ReadIniInt("Settings", "TorvLastDetectorIndex", 99); }

    DialogTestHarness harness;
    std::unique_ptr<CDlgInsertTimeNew> dialog;
};

TEST_F(ManualDetectionDialogTest, OpensWithTheFrenchTextsTheClockAndTheFocusOnTheBib) {
    Open();
    EXPECT_EQ(dialog->windowTitle(), Utf8("Saisie manuelle de dossard"));
    const struct {
        const char* name;
        const char* text;
    } cases[] = {
        {"1082", "Insertion du temps : 14:03:27"},     {"labelTime", "Temps à insérer :"},
        {"labelBib", "Numéro de dossard :"},           {"labelDetector", "Détecteur :"},
        {"labelCorrection", "Correction des temps :"},
    };
    for (const auto& c : cases) EXPECT_EQ(Control<QLabel>(c.name)->text(), Utf8(c.text)) << c.name;
    EXPECT_EQ(Control<QPushButton>("1")->text(), "OK");
    EXPECT_TRUE(Control<QPushButton>("1")->isDefault());
    EXPECT_EQ(Control<QPushButton>("2")->text(), "Annuler");
    EXPECT_EQ(Control<QLineEdit>("1240")->text(), "14:03:27.45");
    EXPECT_EQ(Control<QLineEdit>("1081")->text(), "");
    EXPECT_EQ(dialog->focusWidget(), Control("1081"));
    EXPECT_EQ(Items(Control<QComboBox>("1083")), QStringList({"31     CLASSIC", "10", "11"}));
    EXPECT_EQ(Items(Control<QComboBox>("1131")),
              QStringList({Utf8("Utiliser le temps tel quel"), Utf8("Ajouter 24h aux temps"),
                           Utf8("Ajouter 48h aux temps"), Utf8("Ajouter 72h aux temps")}));
    EXPECT_FALSE(Control("1223")->isVisible());
    EXPECT_FALSE(Control("1224")->isVisible());
}

TEST_F(ManualDetectionDialogTest, OkReturnsWhatWasTypedAndRemembersTheDetector) {
    Open();
    Type(" 007 ", "12.34.56.50");
    Control<QComboBox>("1083")->setCurrentIndex(2);
    Control<QComboBox>("1131")->setCurrentIndex(1);
    Click(Control("1"));

    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    ASSERT_TRUE(dialog->Detection());
    const ManualDetection& detection = *dialog->Detection();
    EXPECT_EQ(detection.detector, "11");
    EXPECT_EQ(detection.bib, 7u);
    EXPECT_EQ(detection.bibText, "7");
    EXPECT_EQ(detection.time.seconds, clock::MakeLocal(2026, 12, 8, 12, 34, 56));
    EXPECT_EQ(detection.time.milliseconds, 500);
    EXPECT_EQ(detection.dayOffset, 1);
    EXPECT_EQ(StoredDetectorIndex(), 2);
    EXPECT_TRUE(harness.dialogs.messages.empty());
}

TEST_F(ManualDetectionDialogTest, RefusedOkShowsAWarningBoxAndKeepsWhatWasTyped) {
    const struct {
        const char *bib, *time;
        const char* message;
    } cases[] = {
        {"12a", "12:34:56", "Dossard vide ou invalide !"},
        {"70000", "12:34:56", "Dossard vide ou invalide !"},
        {"12", "12:34", "Temps invalide !"},
    };
    for (const auto& c : cases) {
        harness.dialogs.messages.clear();
        harness.dialogs.icons.clear();
        Open();
        Type(c.bib, c.time);
        Click(Control("1"));

        EXPECT_TRUE(dialog->isVisible()) << c.bib << " " << c.time;
        EXPECT_FALSE(dialog->Detection());
        EXPECT_EQ(harness.dialogs.messages, std::vector<std::string>{c.message});
        EXPECT_EQ(harness.dialogs.icons, std::vector<MessageIcon>{MessageIcon::Warning});
        EXPECT_EQ(Control<QLineEdit>("1081")->text(), Utf8(c.bib));
        EXPECT_EQ(Control<QLineEdit>("1240")->text(), Utf8(c.time));
        dialog.reset();
    }
}

TEST_F(ManualDetectionDialogTest, WithoutDetectorsOkIsRefusedAndCancelStoresNone) {
    Open({});
    Type("12", "12:34:56");
    Click(Control("1"));
    EXPECT_EQ(harness.dialogs.messages, std::vector<std::string>{"Pas de n° de détecteur !"});
    EXPECT_TRUE(dialog->isVisible());

    Click(Control("2"));
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(StoredDetectorIndex(), -1);

    Open();
    EXPECT_EQ(Control<QComboBox>("1083")->currentIndex(), 0);
}

TEST_F(ManualDetectionDialogTest, PreselectsTheDetectorChosenLastWhileItIsOffered) {
    for (const auto& [stored, selected] : std::vector<std::pair<int, int>>{{2, 2}, {5, 0}}) {
        WriteIniInt("Settings", "TorvLastDetectorIndex", stored);
        Open();
        EXPECT_EQ(Control<QComboBox>("1083")->currentIndex(), selected) << stored;
    }
}

TEST_F(ManualDetectionDialogTest, CancelStoresTheDetectorTheOperatorPicked) {
    Open();
    Control<QComboBox>("1083")->setCurrentIndex(1);
    Click(Control("2"));
    EXPECT_EQ(StoredDetectorIndex(), 1);
    EXPECT_FALSE(dialog->Detection());
}

TEST_F(ManualDetectionDialogTest, SecondRaceDayPreselectsOneDayAndShowsTheDarkRedLabel) {
    SetRaceDaysFrom(1);
    Open();
    auto* days = Control<QComboBox>("1131");
    auto* label = Control<QLabel>("1223");
    EXPECT_EQ(days->currentIndex(), 1);
    EXPECT_TRUE(label->isVisible());
    EXPECT_TRUE(Control("1224")->isVisible());
    EXPECT_EQ(label->text(), "+24h");
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(128, 0, 0));
    EXPECT_TRUE(label->font().bold());
    EXPECT_EQ(label->font().pointSize(), 12);

    days->setCurrentIndex(3);
    EXPECT_EQ(label->text(), "+72h");
    days->setCurrentIndex(0);
    EXPECT_FALSE(label->isVisible());
    EXPECT_FALSE(Control("1224")->isVisible());
}

TEST_F(ManualDetectionDialogTest, DialogInputShowsTheDialogModallyAndReturnsItsOutcome) {
    ManualDetectionDialogInput input(*harness.core, nullptr);

    WhenModalOpens([](QDialog& shown) {
        TypeText(Child(shown, "1081"), "42");
        Click(Child(shown, "1"));
    });
    const auto detection = input.AskManualDetection(kDetectors);
    ASSERT_TRUE(detection);
    EXPECT_EQ(detection->bib, 42u);
    EXPECT_EQ(detection->detector, "31     CLASSIC");
    EXPECT_EQ(detection->time.seconds, clock::MakeLocal(2026, 12, 8, 14, 3, 27));
    EXPECT_EQ(detection->time.milliseconds, 450);

    WhenModalOpens([](QDialog& shown) { Click(Child(shown, "2")); });
    EXPECT_FALSE(input.AskManualDetection(kDetectors));
}

TEST_F(ManualDetectionDialogTest, RendersEveryControlInsideTheDialog) {
    SetRaceDaysFrom(2);
    Open();
    const TempFolder folder;
    ASSERT_TRUE(dialog->grab().save(QString::fromStdString(folder.File("dialog.png"))));

    const QRect inside = dialog->rect();
    for (QWidget* control : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (control->isWindow()) continue;
        const std::string name = control->objectName().toStdString();
        EXPECT_TRUE(inside.contains(control->geometry())) << name;
        if (auto* label = qobject_cast<QLabel*>(control); label && !label->text().isEmpty()) {
            EXPECT_LE(label->sizeHint().width(), label->width()) << name;
            EXPECT_LE(label->sizeHint().height(), label->height()) << name;
        }
    }
    // The labels on the left end before the fields on their right begin.
    const struct {
        const char *label, *field;
    } rows[] = {{"labelTime", "1240"},
                {"labelBib", "1081"},
                {"labelDetector", "1083"},
                {"labelCorrection", "1131"}};
    for (const auto& row : rows) {
        EXPECT_LT(Control(row.label)->geometry().right(), Control(row.field)->x()) << row.label;
    }
}

}  // namespace
}  // namespace torvane::test
