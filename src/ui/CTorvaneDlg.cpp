#include "ui/CTorvaneDlg.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <cstdio>
#include <optional>

#include "app/Core.h"
#include "base/Logging.h"
#include "base/Texts.h"
#include "ui/ControlIds.h"
#include "ui/Resources.h"
#include "ui/SummaryRowDelegate.h"
#include "ui/UiText.h"
#include "widgets/CButtonST.h"
#include "widgets/CLabelST.h"
#include "widgets/CTrayIcon.h"
#include "widgets/FitText.h"
#include "widgets/MonitorBounds.h"
#include "widgets/ScrollOnAppend.h"

namespace torvane {
namespace {

namespace activity = controls::activity;

constexpr int kProgramIcon = 128;
constexpr int kHintIcon = 138;
constexpr int kDayOffsetIcon = 182;
constexpr int kFlowOpenBitmap = 141;
constexpr int kFlowClosedBitmap = 142;
constexpr int kDialogFontPoints = 8;
constexpr int kDayOffsetPoints = 12;
constexpr int kIconPixels = 32;
constexpr double kSmallestHintPoints = 6;
const QSize kDesignedDialogUnits(560, 286);
const QColor kDayOffsetColour(128, 0, 0);

QString HintText(bool trayAvailable) {
    if (trayAvailable) {
        return Text(
            "If you hide Torvane activity panel,\nyou can display it again by clicking\nTorvane "
            "icon\nin Windows\nsystem tray.",
            "Si vous masquez cette fenêtre de suivi de Torvane,\nvous pourrez la "
            "réafficher\nen cliquant sur\nson icône\ndans la barre système,\nprès de "
            "l'horloge....");
    }
    return Text(
        "Hide minimises Torvane activity panel\n(there is no system tray):\nclick its "
        "button\nin the task bar\nto display it again.",
        "Masquer réduit cette fenêtre de suivi de Torvane\n(pas de barre système) :\ncliquez "
        "sur\nson bouton\ndans la barre des tâches\npour la réafficher.");
}

// The level of a level-box item: the number its text starts with.
std::optional<int> LeadingLevel(const QString& itemText) {
    int level = 0;
    if (std::sscanf(itemText.toUtf8().constData(), "%d", &level) != 1) return std::nullopt;
    return level;
}

QRect ToQRect(const IniRect& rect) {
    return QRect(rect.left, rect.top, rect.Width(), rect.Height());
}

IniRect ToIniRect(const QRect& rect) {
    return {rect.x(), rect.y(), rect.x() + rect.width(), rect.y() + rect.height()};
}

}  // namespace

CTorvaneDlg::CTorvaneDlg(Core& core, QWidget* parent)
    : CResizeDialog(parent),
      core_(core),
      onConfigure_([] {}),
      onInsert_([this] { core_.InsertManualDetection(); }),
      onExit_([] {}),
      isTrayAvailable_(&CTrayIcon::IsTrayAvailable) {
    setWindowTitle(QStringLiteral("Torvane"));
    setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);
    QFont dialogFont = font();
    dialogFont.setPointSize(kDialogFontPoints);
    setFont(dialogFont);
    base_ = BaseUnitsOf(dialogFont);

    CreateControls();
    InitResize(QSize(HorizontalDialogUnitsToPixels(kDesignedDialogUnits.width(), base_),
                     VerticalDialogUnitsToPixels(kDesignedDialogUnits.height(), base_)));
    RegisterResizeRules();
    ConnectCommands();
    Initialise();
}

void CTorvaneDlg::Place(QWidget* control, const QRect& dialogUnits) {
    control->setGeometry(DialogUnitsToPixels(dialogUnits, base_));
}

QLabel* CTorvaneDlg::AddLabel(const char* name, const QRect& dialogUnits, const QString& text,
                              Qt::Alignment alignment) {
    auto* label = new QLabel(text, this);
    label->setObjectName(QString::fromLatin1(name));
    label->setAlignment(alignment);
    Place(label, dialogUnits);
    return label;
}

QLabel* CTorvaneDlg::AddIcon(const char* name, const QRect& dialogUnits, int iconId) {
    auto* icon = new QLabel(this);
    icon->setObjectName(QString::fromLatin1(name));
    icon->setAlignment(Qt::AlignCenter);
    icon->setPixmap(ResourceIcon(iconId).pixmap(QSize(kIconPixels, kIconPixels)));
    Place(icon, dialogUnits);
    return icon;
}

QPushButton* CTorvaneDlg::AddButton(const char* name, const QRect& dialogUnits,
                                    const QString& text) {
    auto* button = new QPushButton(text, this);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    Place(button, dialogUnits);
    return button;
}

QListView* CTorvaneDlg::AddList(const char* name, const QRect& dialogUnits) {
    auto* list = new QListView(this);
    list->setObjectName(QString::fromLatin1(name));
    list->setUniformItemSizes(true);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    Place(list, dialogUnits);
    return list;
}

void CTorvaneDlg::CreateControls() {
    ActivityLists& lists = core_.Lists();

    AddLabel("labelDetections", QRect(7, 7, 91, 8),
             Text("Incoming MyLaps detections", "Détections MyLaps reçues"));
    detectionList_ = AddList(activity::kDetectionList, QRect(7, 17, 182, 132));
    detectionList_->setModel(&lists.detections);

    AddLabel("labelSummary", QRect(199, 7, 174, 9),
             Text("Direct connection information", "Informations connexion directe"));
    summaryList_ = AddList(activity::kSummaryList, QRect(198, 17, 272, 132));
    summaryList_->setItemDelegate(new SummaryRowDelegate(summaryList_));
    summaryList_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    summaryList_->setModel(&lists.summary);
    new ScrollOnAppend(summaryList_);

    configureButton_ = AddButton(activity::kConfigure, QRect(477, 16, 76, 22),
                                 Text("Configuration...", "Configuration..."));
    hideButton_ = AddButton(activity::kHide, QRect(477, 43, 76, 22), Text("Hide", "Masquer"));

    hint_ = AddLabel(activity::kHint, QRect(475, 67, 78, 59), QString(),
                     Qt::AlignHCenter | Qt::AlignTop);
    hint_->setWordWrap(true);
    ShowHint();
    AddIcon(activity::kHintIcon, QRect(509, 128, 21, 20), kHintIcon);

    insertButton_ = AddButton(activity::kInsert, QRect(477, 151, 76, 25),
                              Text("Insert\na detection", "Insérer\nune détection"));

    flowButton_ = new CButtonST(this);
    flowButton_->setObjectName(QLatin1String(activity::kFlow));
    flowButton_->setCheckable(true);
    flowButton_->setAutoDefault(false);
    Place(flowButton_, QRect(479, 181, 74, 23));

    dayOffsetLabel_ = new CLabelST(this);
    dayOffsetLabel_->setObjectName(QLatin1String(activity::kDayOffsetLabel));
    dayOffsetLabel_->setText(QStringLiteral("+ 24h"));
    dayOffsetLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Place(dayOffsetLabel_, QRect(477, 206, 50, 13));
    dayOffsetIcon_ = AddIcon(activity::kDayOffsetIcon, QRect(532, 207, 21, 20), kDayOffsetIcon);

    exitButton_ = AddButton(activity::kExit, QRect(477, 228, 76, 22), Text("Exit", "Quitter"));
    QPushButton* clearLog = AddButton(activity::kClearLog, QRect(477, 254, 76, 15),
                                      Text("<<< Clear those logs", "<<< Effacer ces traces"));

    AddLabel("labelLogs", QRect(11, 161, 23, 9), Text("Logs", "Traces"));
    QPushButton* clearSummary = AddButton(activity::kClearSummary, QRect(395, 151, 76, 15),
                                          Text("^^^ Clear those logs", "^^^ Effacer ces traces"));
    QPushButton* clearDetections =
        AddButton(activity::kClearDetections, QRect(114, 151, 76, 15),
                  Text("^^^ Clear those logs", "^^^ Effacer ces traces"));
    // The three low buttons have no room to grow: their text takes a smaller font instead of
    // touching the borders.
    ShrinkFontToFit({clearLog, clearSummary, clearDetections}, kSmallestHintPoints);

    logList_ = AddList(activity::kLogList, QRect(7, 172, 463, 96));
    logList_->setModel(&lists.log);
    new ScrollOnAppend(logList_);

    AddLabel(activity::kVersion, QRect(7, 273, 227, 9), QString());
    // Beside the version text, which ends well before this.
    waitingLabel_ = AddLabel("waitingDetections", QRect(130, 273, 190, 9), QString());
    waitingLabel_->setStyleSheet(QStringLiteral("color: rgb(128, 0, 0); font-weight: bold;"));
    waitingLabel_->hide();
    if (FrenchTexts()) {
        AddLabel(activity::kLevelLabel, QRect(330, 274, 60, 9),
                 Text("Log level:", "Niveau de traces :"));
    } else {
        AddLabel(activity::kLevelLabel, QRect(354, 274, 36, 9),
                 Text("Log level:", "Niveau de traces :"), Qt::AlignRight | Qt::AlignVCenter);
    }

    levelBox_ = new QComboBox(this);
    levelBox_->setObjectName(QLatin1String(activity::kLevelBox));
    levelBox_->addItems({
        Text("  0    [Minimum]", "  0    [Minimum]"),
        Text(" 25   [Low]", " 25   [Faible]"),
        Text(" 50   [Medium]", " 50   [Moyen]"),
        Text(" 75   [High]", " 75   [Fort]"),
        Text("100  [Maximum]", "100  [Maximum]"),
    });
    // The designed height includes the dropped-down list; the closed box keeps its own.
    Place(levelBox_, QRect(395, 271, 75, 111));
    levelBox_->resize(levelBox_->width(), levelBox_->sizeHint().height());
}

void CTorvaneDlg::RegisterResizeRules() {
    for (const char* name :
         {activity::kExit, activity::kClearLog, activity::kLevelBox, activity::kLevelLabel})
        AddResizeControl(findChild<QWidget*>(QLatin1String(name)), kFollowBottomRight);
    for (const char* name :
         {activity::kHide, activity::kHint, activity::kHintIcon, activity::kConfigure})
        AddResizeControl(findChild<QWidget*>(QLatin1String(name)), kFollowRightEdge);
    AddResizeControl(detectionList_, kKeepPlaceAndSize);
    AddResizeControl(summaryList_, kWidenOnly);
    AddResizeControl(logList_, kWidenAndGrow);
    AddResizeControl(findChild<QWidget*>(QLatin1String(activity::kVersion)), kFollowBottomEdge);
    AddResizeControl(waitingLabel_, kFollowBottomEdge);
    for (const char* name :
         {activity::kFlow, activity::kInsert, activity::kDayOffsetLabel, activity::kDayOffsetIcon,
          activity::kClearDetections, activity::kClearSummary, "labelDetections", "labelSummary",
          "labelLogs"})
        AddResizeControl(findChild<QWidget*>(QLatin1String(name)));
}

void CTorvaneDlg::ConnectCommands() {
    connect(configureButton_, &QPushButton::clicked, this, [this] { onConfigure_(); });
    connect(insertButton_, &QPushButton::clicked, this, [this] { onInsert_(); });
    connect(exitButton_, &QPushButton::clicked, this, [this] { onExit_(); });
    connect(hideButton_, &QPushButton::clicked, this, [this] { HideWindow(); });
    connect(flowButton_, &QPushButton::clicked, this,
            [this](bool checked) { OnFlowClicked(checked); });
    ActivityLists& lists = core_.Lists();
    connect(findChild<QPushButton*>(QLatin1String(activity::kClearDetections)),
            &QPushButton::clicked, this, [&lists] { lists.detections.Clear(); });
    connect(findChild<QPushButton*>(QLatin1String(activity::kClearSummary)), &QPushButton::clicked,
            this, [&lists] { lists.summary.Clear(); });
    connect(findChild<QPushButton*>(QLatin1String(activity::kClearLog)), &QPushButton::clicked,
            this, [&lists] { lists.log.Clear(); });
    connect(levelBox_, &QComboBox::currentIndexChanged, this,
            [this](int index) { OnWindowLevelChosen(index); });
}

void CTorvaneDlg::Initialise() {
    windowIcon_ = ResourceIcon(kProgramIcon);
    setWindowIcon(windowIcon_);
    RestorePosition();
    core_.LoadLogLevels();
    SelectWindowLevelItem(core_.Logs().WindowLevel());
    ShowFlowState(core_.State().flowOpen);
    findChild<QLabel*>(QLatin1String(activity::kVersion))->setText(QString::fromUtf8(kVersionText));
    RefreshButtons();
    Log(0, StartLineText());
    ShowDayOffset(core_.State().daysToAdd);
    core_.StartRaceDayTimer();
    // A list with the focus draws a frame around its first row, which looks like a selection.
    hideButton_->setFocus();
}

void CTorvaneDlg::RestorePosition() {
    const IniRect stored = ReadIniRect("Torvane", "Position", rememberedPosition_);
    QRect placed;
    if (stored.Width() <= 0 || stored.Height() <= 0) {
        placed = QRect(QPoint(), DesignedClientSize());
        if (const QScreen* desktop = QGuiApplication::primaryScreen())
            placed.moveCenter(desktop->geometry().center());
    } else {
        placed = ToQRect(stored);
        placed.setSize(placed.size().expandedTo(minimumSize()));
    }
    setGeometry(KeepOnMonitors(placed, AllMonitorsBounds()));
}

void CTorvaneDlg::SelectWindowLevelItem(int windowLevel) {
    int selected = 1;
    for (int index = 0; index < levelBox_->count(); ++index) {
        if (LeadingLevel(levelBox_->itemText(index)) == windowLevel) {
            selected = index;
            break;
        }
    }
    const QSignalBlocker quiet(levelBox_);
    levelBox_->setCurrentIndex(selected);
}

void CTorvaneDlg::ShowFlowState(bool open) {
    flowButton_->SetCheck(open);
    flowButton_->setText(open ? Text("Detections\nopen", "Détections\nouvertes")
                              : Text("Detections\nclosed", "Detections\nfermées"));
    flowButton_->SetBitmap(ResourceBitmap(open ? kFlowOpenBitmap : kFlowClosedBitmap));
}

void CTorvaneDlg::OnFlowClicked(bool checked) {
    if (checked) {
        ShowFlowState(true);
    } else {
        flowButton_->SetCheck(true);
        const bool close =
            core_.Dialogs().AskYesNo(Tr("Are you sure you want to close the detection flow?",
                                        "Etes vous sûr de fermer le flux des détections ?"));
        ShowFlowState(!close);
    }
    core_.SetFlowOpen(flowButton_->GetCheck());
    flowButton_->repaint();
}

void CTorvaneDlg::OnWindowLevelChosen(int index) {
    if (index >= 0) core_.ChooseWindowLevel(levelBox_->itemText(index).toStdString());
    RefreshButtons();
}

// The window sets its button itself: the core's status display may not reach it yet while it
// is being created.
void CTorvaneDlg::RefreshButtons() {
    SetInsertButtonEnabled(core_.IsAnyLinkActive());
}

void CTorvaneDlg::ShowDayOffset(int daysToAdd) {
    const bool shown = daysToAdd > 0;
    if (shown) {
        dayOffsetLabel_->setText(QStringLiteral("+%1h").arg(daysToAdd * 24));
        dayOffsetLabel_->SetTextColor(kDayOffsetColour);
        dayOffsetLabel_->SetFontBold(true);
        dayOffsetLabel_->SetFontSize(kDayOffsetPoints);
    }
    dayOffsetLabel_->setVisible(shown);
    dayOffsetIcon_->setVisible(shown);
}

void CTorvaneDlg::SetInsertButtonEnabled(bool enabled) {
    insertButton_->setEnabled(enabled);
}

void CTorvaneDlg::ShowWaitingDetections(std::size_t count) {
    waitingLabel_->setText(count == 1 ? Text("1 detection waiting for Ostrak Pro",
                                             "1 détection en attente d'envoi à Ostrak Pro")
                                      : Text("%1 detections waiting for Ostrak Pro",
                                             "%1 détections en attente d'envoi à Ostrak Pro")
                                            .arg(count));
    waitingLabel_->setVisible(count > 0);
}

void CTorvaneDlg::SaveWindowPosition() {
    rememberedPosition_ = ToIniRect(geometry());
    WriteIniRect("Torvane", "Position", rememberedPosition_);
}

void CTorvaneDlg::HideWindow() {
    SaveWindowPosition();
    if (isTrayAvailable_()) {
        hide();
    } else {
        showMinimized();
    }
}

void CTorvaneDlg::PopFront() {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void CTorvaneDlg::ShowAtStart(bool open) {
    if (open) {
        show();
    } else if (!isTrayAvailable_()) {
        showMinimized();
    }
}

void CTorvaneDlg::SetTrayAvailability(std::function<bool()> isTrayAvailable) {
    isTrayAvailable_ = std::move(isTrayAvailable);
    ShowHint();
}

void CTorvaneDlg::ShowHint() {
    const QString text = HintText(isTrayAvailable_());
    if (text == hint_->text()) return;
    hint_->setText(text);
    hint_->setFont(font());
    ShrinkFontToFit(*hint_, kSmallestHintPoints);
}

void CTorvaneDlg::showEvent(QShowEvent* event) {
    // A notification area may have come or gone since the window was last shown.
    ShowHint();
    CResizeDialog::showEvent(event);
}

void CTorvaneDlg::keyPressEvent(QKeyEvent* event) {
    // The window has no default button: Enter presses the focused push button, and anywhere
    // else it hides the window.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && !(event->modifiers() & ~Qt::KeypadModifier)) {
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            button->click();
        } else {
            accept();
        }
        return;
    }
    CResizeDialog::keyPressEvent(event);
}

}  // namespace torvane
