#include "ui/QtTranslations.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTranslator>
#include <memory>

#include "ui/DesktopPorts.h"
#include "ui/DialogTestHarness.h"

namespace torvane::test {
namespace {

// The texts of a message box's buttons as the operator reads them (without mnemonics), and a
// click on the last one.
void ReadButtonsAndAnswerWithTheLast(QStringList& texts) {
    WhenModalOpens([&texts](QDialog& dialog) {
        auto* box = qobject_cast<QMessageBox*>(&dialog);
        ASSERT_NE(box, nullptr);
        const QList<QAbstractButton*> buttons = box->buttons();
        for (const QAbstractButton* button : buttons) texts << QString(button->text()).remove('&');
        texts.sort();
        box->button(box->standardButtons() & QMessageBox::No ? QMessageBox::No
                                                             : QMessageBox::Cancel)
            ->click();
    });
}

TEST(QtTranslationsTest, QuestionBoxesShowTheStandardButtonsInTheProgramsLanguage) {
    struct Case {
        bool french;
        QStringList yesNo;     // sorted
        QStringList okCancel;  // sorted
    };
    const Case cases[] = {{true, {"Non", "Oui"}, {"Annuler", "OK"}},
                          {false, {"No", "Yes"}, {"Cancel", "OK"}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.french ? "French" : "English");
        const std::unique_ptr<QTranslator> translator(
            InstallQtTranslations(*qApp, c.french));  // removed again when deleted
        EXPECT_EQ(translator != nullptr, c.french);
        QWidget parent;
        MessageBoxDialogs dialogs([&parent] { return &parent; });

        QStringList texts;
        ReadButtonsAndAnswerWithTheLast(texts);
        EXPECT_FALSE(dialogs.AskYesNo("Etes vous sûr ?"));
        EXPECT_EQ(texts, c.yesNo);

        texts.clear();
        ReadButtonsAndAnswerWithTheLast(texts);
        EXPECT_FALSE(dialogs.AskOkCancel("Voulez vous vraiment quitter Torvane ?"));
        EXPECT_EQ(texts, c.okCancel);
    }
}

}  // namespace
}  // namespace torvane::test
