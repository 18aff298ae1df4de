#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QSizeGrip>

#include "support/TempFolder.h"
#include "ui/ActivityTestPorts.h"

namespace torvane::test {
namespace {

std::vector<QWidget*> VisibleControls(CTorvaneDlg& window) {
    std::vector<QWidget*> controls;
    for (QWidget* child : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!child->isHidden() && !qobject_cast<QSizeGrip*>(child)) controls.push_back(child);
    }
    return controls;
}

void ExpectNoOverlapInside(CTorvaneDlg& window, const char* when) {
    const std::vector<QWidget*> controls = VisibleControls(window);
    for (size_t i = 0; i < controls.size(); ++i) {
        EXPECT_TRUE(window.rect().contains(controls[i]->geometry()))
            << when << ": " << controls[i]->objectName().toStdString();
        for (size_t j = i + 1; j < controls.size(); ++j) {
            EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
                << when << ": " << controls[i]->objectName().toStdString() << " overlaps "
                << controls[j]->objectName().toStdString();
        }
    }
}

QAbstractButton* Control1009(CTorvaneDlg& window) {
    return window.findChild<QAbstractButton*>(QStringLiteral("1009"));
}

// Some content, so that a picture of the window shows what the operator sees.
void FillLists(Core& core) {
    ActivityLists& lists = core.Lists();
    for (int i = 0; i < 12; ++i) {
        lists.detections.Append("10:2" + std::to_string(i % 10) + ":31.25  Box 1  Bib " +
                                std::to_string(100 + i));
        lists.log.Append("10:21:3" + std::to_string(i % 10) + ": <<< Store@Bag@...@" +
                         std::to_string(i) + "$");
        auto item = std::make_unique<CSummaryItem>();
        item->bib = i == 0 ? 0 : 100 + i;
        item->name = "RUNNER " + std::to_string(i) + std::string(22, ' ');
        item->time = "01:0" + std::to_string(i % 10) + ":12.50";
        item->passage = std::to_string(1 + i % 3);
        item->status = i % 4 == 3 ? "Dossard inconnu" : std::to_string(i + 1) + "e";
        item->errorFlag = i % 4 == 3 ? 1 : (i % 5 == 4 ? -1 : 0);
        lists.summary.Append(std::move(item));
    }
}

// Texts fit with the room that the style gives them: a push button's text keeps the margins
// that its size hint asks for, so that it never touches the button's border.
void ExpectTextsFit(CTorvaneDlg& window) {
    for (QWidget* control : VisibleControls(window)) {
        const std::string name = control->objectName().toStdString();
        const QFontMetrics metrics(control->font());
        if (auto* label = qobject_cast<QLabel*>(control)) {
            if (label->wordWrap()) {
                EXPECT_LE(label->heightForWidth(label->width()), label->height()) << name;
                continue;
            }
            for (const QString& line : label->text().split('\n'))
                EXPECT_LE(metrics.horizontalAdvance(line), label->width()) << name;
            EXPECT_LE(metrics.height() * (label->text().count('\n') + 1), label->height()) << name;
        } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
            const int iconWidth = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
            for (const QString& line : button->text().split('\n'))
                EXPECT_LE(metrics.horizontalAdvance(line) + iconWidth + 4, button->width()) << name;
            EXPECT_LE(metrics.height() * (button->text().count('\n') + 1) + 4, button->height())
                << name;
            EXPECT_LE(button->sizeHint().width(), button->width()) << name;
        }
    }
}

TEST(ActivityLayoutTest, ControlsNeitherOverlapNorCutTheirTexts) {
    for (const bool trayAvailable : {true, false}) {
        SCOPED_TRACE(trayAvailable ? "with a notification area" : "without a notification area");
        ActivityWindowHarness harness;
        harness.core->State().daysToAdd = 2;
        harness.core->State().flowOpen = true;
        CTorvaneDlg& window = harness.MakeWindow(trayAvailable);
        window.show();
        ExpectNoOverlapInside(window, "designed size");
        ExpectTextsFit(window);

        window.resize(window.DesignedClientSize() + QSize(300, 200));
        ExpectNoOverlapInside(window, "grown");
    }
}

TEST(ActivityLayoutTest, RendersToAPicture) {
    ActivityWindowHarness harness;
    harness.core->State().daysToAdd = 1;
    CTorvaneDlg& window = harness.MakeWindow();
    FillLists(*harness.core);
    window.show();
    harness.DeliverPosted();

    const QPixmap picture = window.grab();
    ASSERT_EQ(picture.size(), window.size());
    const TempFolder folder;
    EXPECT_TRUE(picture.save(QString::fromStdString(folder.File("activity.png"))));

    Control1009(window)->click();  // reopens the flow
    window.resize(window.DesignedClientSize() + QSize(240, 120));
    EXPECT_TRUE(window.grab().save(QString::fromStdString(folder.File("activity-grown.png"))));
}

}  // namespace
}  // namespace torvane::test
