#include "ui/ActivityControls.h"

#include <QComboBox>
#include <QLabel>
#include <QListView>
#include <QPushButton>

#include "state/ActivityLists.h"
#include "ui/ControlIds.h"
#include "ui/Resources.h"
#include "ui/SummaryRowDelegate.h"
#include "ui/UiText.h"
#include "widgets/CButtonST.h"
#include "widgets/CLabelST.h"
#include "widgets/FitText.h"
#include "widgets/ScrollOnAppend.h"

namespace torvane {
namespace {

namespace activity = controls::activity;

constexpr int kIconPixels = 32;
constexpr int kHintIcon = 138;
constexpr int kDayOffsetIcon = 182;

// Creates controls on a window at places given in its dialog units.
class ControlBuilder {
public:
    ControlBuilder(QWidget& window, const DialogBaseUnits& base) : window_(window), base_(base) {}

    QLabel* AddLabel(const char* name, const QRect& dialogUnits, const QString& text,
                     Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter) const;
    QLabel* AddIcon(const char* name, const QRect& dialogUnits, int iconId) const;
    QPushButton* AddButton(const char* name, const QRect& dialogUnits, const QString& text) const;
    QListView* AddList(const char* name, const QRect& dialogUnits) const;
    void Place(QWidget* control, const QRect& dialogUnits) const;

private:
    QWidget& window_;
    const DialogBaseUnits& base_;
};

void ControlBuilder::Place(QWidget* control, const QRect& dialogUnits) const {
    control->setGeometry(DialogUnitsToPixels(dialogUnits, base_));
}

QLabel* ControlBuilder::AddLabel(const char* name, const QRect& dialogUnits, const QString& text,
                                 Qt::Alignment alignment) const {
    auto* label = new QLabel(text, &window_);
    label->setObjectName(QString::fromLatin1(name));
    label->setAlignment(alignment);
    Place(label, dialogUnits);
    return label;
}

QLabel* ControlBuilder::AddIcon(const char* name, const QRect& dialogUnits, int iconId) const {
    auto* icon = new QLabel(&window_);
    icon->setObjectName(QString::fromLatin1(name));
    icon->setAlignment(Qt::AlignCenter);
    icon->setPixmap(ResourceIcon(iconId).pixmap(QSize(kIconPixels, kIconPixels)));
    Place(icon, dialogUnits);
    return icon;
}

QPushButton* ControlBuilder::AddButton(const char* name, const QRect& dialogUnits,
                                       const QString& text) const {
    auto* button = new QPushButton(text, &window_);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    Place(button, dialogUnits);
    return button;
}

QListView* ControlBuilder::AddList(const char* name, const QRect& dialogUnits) const {
    auto* list = new QListView(&window_);
    list->setObjectName(QString::fromLatin1(name));
    list->setUniformItemSizes(true);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    Place(list, dialogUnits);
    return list;
}

}  // namespace

ActivityControls CreateActivityControls(QWidget& window, const DialogBaseUnits& base,
                                        ActivityLists& lists) {
    const ControlBuilder build(window, base);
    ActivityControls c;

    build.AddLabel("labelDetections", QRect(7, 7, 91, 8),
                   Text("Incoming MyLaps detections", "Détections MyLaps reçues"));
    c.detectionList = build.AddList(activity::kDetectionList, QRect(7, 17, 182, 132));
    c.detectionList->setModel(&lists.detections);

    build.AddLabel("labelSummary", QRect(199, 7, 174, 9),
                   Text("Direct connection information", "Informations connexion directe"));
    c.summaryList = build.AddList(activity::kSummaryList, QRect(198, 17, 272, 132));
    c.summaryList->setItemDelegate(new SummaryRowDelegate(c.summaryList));
    c.summaryList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    c.summaryList->setModel(&lists.summary);
    new ScrollOnAppend(c.summaryList);

    c.configureButton = build.AddButton(activity::kConfigure, QRect(477, 16, 76, 22),
                                        Text("Configuration...", "Configuration..."));
    c.hideButton =
        build.AddButton(activity::kHide, QRect(477, 43, 76, 22), Text("Hide", "Masquer"));

    c.hint = build.AddLabel(activity::kHint, QRect(475, 67, 78, 59), QString(),
                            Qt::AlignHCenter | Qt::AlignTop);
    c.hint->setWordWrap(true);
    build.AddIcon(activity::kHintIcon, QRect(509, 128, 21, 20), kHintIcon);

    c.insertButton = build.AddButton(activity::kInsert, QRect(477, 151, 76, 25),
                                     Text("Insert\na detection", "Insérer\nune détection"));

    c.flowButton = new CButtonST(&window);
    c.flowButton->setObjectName(QLatin1String(activity::kFlow));
    c.flowButton->setCheckable(true);
    c.flowButton->setAutoDefault(false);
    build.Place(c.flowButton, QRect(479, 181, 74, 23));

    c.dayOffsetLabel = new CLabelST(&window);
    c.dayOffsetLabel->setObjectName(QLatin1String(activity::kDayOffsetLabel));
    c.dayOffsetLabel->setText(QStringLiteral("+ 24h"));
    c.dayOffsetLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    build.Place(c.dayOffsetLabel, QRect(477, 206, 50, 13));
    c.dayOffsetIcon =
        build.AddIcon(activity::kDayOffsetIcon, QRect(532, 207, 21, 20), kDayOffsetIcon);

    c.exitButton =
        build.AddButton(activity::kExit, QRect(477, 228, 76, 22), Text("Exit", "Quitter"));
    QPushButton* clearLog = build.AddButton(activity::kClearLog, QRect(477, 254, 76, 15),
                                            Text("<<< Clear those logs", "<<< Effacer ces traces"));

    build.AddLabel("labelLogs", QRect(11, 161, 23, 9), Text("Logs", "Traces"));
    QPushButton* clearSummary =
        build.AddButton(activity::kClearSummary, QRect(395, 151, 76, 15),
                        Text("^^^ Clear those logs", "^^^ Effacer ces traces"));
    // Under the summary, beside its clear button: the hint above the right column needs its room.
    c.journalButton = build.AddButton(activity::kJournal, QRect(315, 151, 76, 15),
                                      Text("Journal...", "Journal..."));
    QPushButton* clearDetections =
        build.AddButton(activity::kClearDetections, QRect(114, 151, 76, 15),
                        Text("^^^ Clear those logs", "^^^ Effacer ces traces"));
    // The three low buttons have no room to grow: their text takes a smaller font instead of
    // touching the borders.
    ShrinkFontToFit({clearLog, clearSummary, clearDetections}, kSmallestControlPoints);

    c.logList = build.AddList(activity::kLogList, QRect(7, 172, 463, 96));
    c.logList->setModel(&lists.log);
    new ScrollOnAppend(c.logList);

    build.AddLabel(activity::kVersion, QRect(7, 273, 227, 9), QString());
    // Beside the version text, which ends well before this.
    c.waitingLabel = build.AddLabel("waitingDetections", QRect(130, 273, 190, 9), QString());
    c.waitingLabel->setStyleSheet(QStringLiteral("color: rgb(128, 0, 0); font-weight: bold;"));
    c.waitingLabel->hide();
    if (FrenchTexts()) {
        build.AddLabel(activity::kLevelLabel, QRect(330, 274, 60, 9),
                       Text("Log level:", "Niveau de traces :"));
    } else {
        build.AddLabel(activity::kLevelLabel, QRect(354, 274, 36, 9),
                       Text("Log level:", "Niveau de traces :"), Qt::AlignRight | Qt::AlignVCenter);
    }

    c.levelBox = new QComboBox(&window);
    c.levelBox->setObjectName(QLatin1String(activity::kLevelBox));
    c.levelBox->addItems({
        Text("  0    [Minimum]", "  0    [Minimum]"),
        Text(" 25   [Low]", " 25   [Faible]"),
        Text(" 50   [Medium]", " 50   [Moyen]"),
        Text(" 75   [High]", " 75   [Fort]"),
        Text("100  [Maximum]", "100  [Maximum]"),
    });
    // The designed height includes the dropped-down list; the closed box keeps its own.
    build.Place(c.levelBox, QRect(395, 271, 75, 111));
    c.levelBox->resize(c.levelBox->width(), c.levelBox->sizeHint().height());
    return c;
}

}  // namespace torvane
