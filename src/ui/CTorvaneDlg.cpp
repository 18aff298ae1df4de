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
#include "ui/UiText.h"
#include "widgets/CButtonST.h"
#include "widgets/CLabelST.h"
#include "widgets/CTrayIcon.h"
#include "widgets/FitText.h"
#include "widgets/MonitorBounds.h"

namespace torvane {
namespace {

namespace activity = controls::activity;

constexpr int kProgramIcon = 128;
constexpr int kFlowOpenBitmap = 141;
constexpr int kFlowClosedBitmap = 142;
constexpr int kDialogFontPoints = 8;
constexpr int kDayOffsetPoints = 12;
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
      onJournal_([] {}),
      onInsert_([this] { core_.InsertManualDetection(); }),
      onExit_([] {}),
      isTrayAvailable_(&CTrayIcon::IsTrayAvailable) {
    setWindowTitle(QStringLiteral("Torvane"));
    setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);
    QFont dialogFont = font();
    dialogFont.setPointSize(kDialogFontPoints);
    setFont(dialogFont);
    base_ = BaseUnitsOf(dialogFont);

    controls_ = CreateActivityControls(*this, base_, core_.Lists());
    ShowHint();
    InitResize(QSize(HorizontalDialogUnitsToPixels(kDesignedDialogUnits.width(), base_),
                     VerticalDialogUnitsToPixels(kDesignedDialogUnits.height(), base_)));
    RegisterResizeRules();
    ConnectCommands();
    Initialise();
}

void CTorvaneDlg::RegisterResizeRules() {
    for (const char* name :
         {activity::kExit, activity::kClearLog, activity::kLevelBox, activity::kLevelLabel})
        AddResizeControl(findChild<QWidget*>(QLatin1String(name)), kFollowBottomRight);
    for (const char* name :
         {activity::kHide, activity::kHint, activity::kHintIcon, activity::kConfigure})
        AddResizeControl(findChild<QWidget*>(QLatin1String(name)), kFollowRightEdge);
    AddResizeControl(controls_.detectionList, kKeepPlaceAndSize);
    AddResizeControl(controls_.summaryList, kWidenOnly);
    AddResizeControl(controls_.logList, kWidenAndGrow);
    AddResizeControl(findChild<QWidget*>(QLatin1String(activity::kVersion)), kFollowBottomEdge);
    AddResizeControl(controls_.waitingLabel, kFollowBottomEdge);
    for (const char* name :
         {activity::kFlow, activity::kInsert, activity::kDayOffsetLabel, activity::kDayOffsetIcon,
          activity::kClearDetections, activity::kClearSummary, activity::kJournal,
          "labelDetections", "labelSummary", "labelLogs"})
        AddResizeControl(findChild<QWidget*>(QLatin1String(name)));
}

void CTorvaneDlg::ConnectCommands() {
    connect(controls_.configureButton, &QPushButton::clicked, this, [this] { onConfigure_(); });
    connect(controls_.journalButton, &QPushButton::clicked, this, [this] { onJournal_(); });
    connect(controls_.insertButton, &QPushButton::clicked, this, [this] { onInsert_(); });
    connect(controls_.exitButton, &QPushButton::clicked, this, [this] { onExit_(); });
    connect(controls_.hideButton, &QPushButton::clicked, this, [this] { HideWindow(); });
    connect(controls_.flowButton, &QPushButton::clicked, this,
            [this](bool checked) { OnFlowClicked(checked); });
    ActivityLists& lists = core_.Lists();
    connect(findChild<QPushButton*>(QLatin1String(activity::kClearDetections)),
            &QPushButton::clicked, this, [&lists] { lists.detections.Clear(); });
    connect(findChild<QPushButton*>(QLatin1String(activity::kClearSummary)), &QPushButton::clicked,
            this, [&lists] { lists.summary.Clear(); });
    connect(findChild<QPushButton*>(QLatin1String(activity::kClearLog)), &QPushButton::clicked,
            this, [&lists] { lists.log.Clear(); });
    connect(controls_.levelBox, &QComboBox::currentIndexChanged, this,
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
    controls_.hideButton->setFocus();
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
    for (int index = 0; index < controls_.levelBox->count(); ++index) {
        if (LeadingLevel(controls_.levelBox->itemText(index)) == windowLevel) {
            selected = index;
            break;
        }
    }
    const QSignalBlocker quiet(controls_.levelBox);
    controls_.levelBox->setCurrentIndex(selected);
}

void CTorvaneDlg::ShowFlowState(bool open) {
    controls_.flowButton->SetCheck(open);
    controls_.flowButton->setText(open ? Text("Detections\nopen", "Détections\nouvertes")
                                       : Text("Detections\nclosed", "Detections\nfermées"));
    controls_.flowButton->SetBitmap(ResourceBitmap(open ? kFlowOpenBitmap : kFlowClosedBitmap));
}

void CTorvaneDlg::OnFlowClicked(bool checked) {
    if (checked) {
        ShowFlowState(true);
    } else {
        controls_.flowButton->SetCheck(true);
        const bool close =
            core_.Dialogs().AskYesNo(Tr("Are you sure you want to close the detection flow?",
                                        "Etes vous sûr de fermer le flux des détections ?"));
        ShowFlowState(!close);
    }
    core_.SetFlowOpen(controls_.flowButton->GetCheck());
    controls_.flowButton->repaint();
}

void CTorvaneDlg::OnWindowLevelChosen(int index) {
    if (index >= 0) core_.ChooseWindowLevel(controls_.levelBox->itemText(index).toStdString());
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
        controls_.dayOffsetLabel->setText(QStringLiteral("+%1h").arg(daysToAdd * 24));
        controls_.dayOffsetLabel->SetTextColor(kDayOffsetColour);
        controls_.dayOffsetLabel->SetFontBold(true);
        controls_.dayOffsetLabel->SetFontSize(kDayOffsetPoints);
    }
    controls_.dayOffsetLabel->setVisible(shown);
    controls_.dayOffsetIcon->setVisible(shown);
}

void CTorvaneDlg::SetInsertButtonEnabled(bool enabled) {
    controls_.insertButton->setEnabled(enabled);
}

void CTorvaneDlg::ShowWaitingDetections(std::size_t count) {
    controls_.waitingLabel->setText(count == 1
                                        ? Text("1 detection waiting for Ostrak Pro",
                                               "1 détection en attente d'envoi à Ostrak Pro")
                                        : Text("%1 detections waiting for Ostrak Pro",
                                               "%1 détections en attente d'envoi à Ostrak Pro")
                                              .arg(count));
    controls_.waitingLabel->setVisible(count > 0);
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
    if (text == controls_.hint->text()) return;
    controls_.hint->setText(text);
    controls_.hint->setFont(font());
    ShrinkFontToFit(*controls_.hint, kSmallestControlPoints);
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
