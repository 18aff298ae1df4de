#include "ui/CMainFrame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>

#include "app/Core.h"
#include "app/NewRace.h"
#include "base/Logging.h"
#include "base/SettingsStore.h"
#include "base/Texts.h"
#include "state/DisplayText.h"
#include "ui/ControlIds.h"
#include "ui/DialogUnitLayout.h"
#include "ui/Resources.h"
#include "ui/UiText.h"
#include "widgets/CBalloonHelp.h"

namespace torvane {
namespace {

constexpr int kProgramIcon = 128;
constexpr int kIconPixels = 32;
constexpr int kDefaultFontPoints = 8;
const QSize kAboutDialogUnits(235, 94);
const QColor kTextViewBackground(220, 220, 255);

QAction* AddCommand(QMenu& menu, const QString& text, CMainFrame::Command command) {
    QAction* action = menu.addAction(text);
    action->setData(static_cast<int>(command));
    return action;
}

QAction* FindCommand(const QMenu& menu, CMainFrame::Command command) {
    for (QAction* action : menu.actions())
        if (action->data().toInt() == command) return action;
    return nullptr;
}

// Balloons that warn (the warning icon, and the states where Ostrak Pro is lost while a source
// is connected) are critical notices; the others are normal ones.
NotificationUrgency UrgencyOfBalloon(int iconId) {
    constexpr int kWarningIcon = 136;
    constexpr int kHostLostFlowOpen = 133;
    constexpr int kHostLostFlowClosed = 142;
    const bool warns =
        iconId == kWarningIcon || iconId == kHostLostFlowOpen || iconId == kHostLostFlowClosed;
    return warns ? NotificationUrgency::Critical : NotificationUrgency::Normal;
}

}  // namespace

CMainFrame::CMainFrame(Core& core, ActivityWindowHooks activity)
    : core_(core), activity_(std::move(activity)) {
    setWindowTitle(QStringLiteral("Torvane"));
    setWindowIcon(ResourceIcon(kProgramIcon));
    RestorePlacement();
    CreateTextView();

    isCtrlHeld = [] {
        return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ControlModifier);
    };
    isTrayAvailable = &CTrayIcon::IsTrayAvailable;
    trayMenu_ = BuildTrayMenu();
    menuDelay_.setSingleShot(true);
    connect(&menuDelay_, &QTimer::timeout, this, [this] { ShowTrayMenu(); });
    connect(&tray_.Icon(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { OnTrayActivated(reason); });
}

CMainFrame::~CMainFrame() {
    tray_.Remove();
    if (balloon_) balloon_->close();
}

void CMainFrame::RestorePlacement() {
    const IniRect position = ReadIniRect("Mainframe", "Position", IniRect{});
    if (position.Width() > 0 && position.Height() > 0) {
        setGeometry(position.left, position.top, position.Width(), position.Height());
    }
    if (ReadIniBool("Mainframe", "BZoomed", false)) setWindowState(Qt::WindowMaximized);
}

void CMainFrame::CreateTextView() {
    textView_ = new QPlainTextEdit(this);
    textView_->setObjectName(QStringLiteral("textView"));
    textView_->setReadOnly(true);
    textView_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont font(QString::fromStdString(ReadIniString("Settings", "DisplayFontName", "Arial")));
    const int points = ReadIniInt("Settings", "DisplayFontSize", kDefaultFontPoints);
    font.setPointSize(points > 0 ? points : kDefaultFontPoints);
    font.setWeight(QFont::Normal);
    textView_->setFont(font);
    QPalette colours = textView_->palette();
    colours.setColor(QPalette::Base, kTextViewBackground);
    textView_->setPalette(colours);
    setCentralWidget(textView_);
}

void CMainFrame::SetTrayStatus(int iconId, const std::string& tip) {
    tray_.SetStatus(iconId ? ResourceIcon(iconId) : QIcon(),
                    tip.empty() ? QString() : DisplayText(tip));
}

void CMainFrame::ShowTrayBalloon(int iconId, const std::string& text) {
    const QIcon icon = ResourceIcon(iconId ? iconId : kProgramIcon);
    const QString title = QStringLiteral("Torvane");
    if (!(isTrayAvailable && isTrayAvailable())) {
        notifier_.Notify(title, DisplayText(text), icon, UrgencyOfBalloon(iconId),
                         CBalloonHelp::kDefaultTimeoutMs);
        return;
    }
    // Where the desktop tells the icon's place (a notification area on X), our own balloon
    // points at it: Qt's balloon there presses its text against its right edge. Elsewhere the
    // tray's own messages go to the desktop's notices.
    if (!tray_.Geometry().isValid() && tray_.SupportsMessages()) {
        tray_.ShowMessage(title, DisplayText(text), icon, CBalloonHelp::kDefaultTimeoutMs);
        return;
    }
    ShowBalloonWidget(title, DisplayText(text), icon);
}

void CMainFrame::ShowBalloonWidget(const QString& title, const QString& text, const QIcon& icon) {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const auto anchor =
        FindBalloonAnchor(tray_.Geometry(), screen->geometry(), screen->availableGeometry());
    if (!anchor) return;
    if (balloon_) balloon_->close();
    balloon_ = CBalloonHelp::LaunchBalloon(title, text, icon, *anchor);
}

bool CMainFrame::ActivityWindowExists() const {
    return activity_.exists && activity_.exists();
}

std::unique_ptr<QMenu> CMainFrame::BuildTrayMenu() {
    auto menu = std::make_unique<QMenu>();
    QAction* display = AddCommand(
        *menu, Text("Display Activity Window", "Afficher la fenêtre d'activité"), kDisplayActivity);
    QFont bold = menu->font();
    bold.setBold(true);
    display->setFont(bold);
    menu->setDefaultAction(display);
    AddCommand(*menu,
               Text("Disconnect from MyLaps and Ostrak Pro", "Déconnexion de MyLaps et Ostrak Pro"),
               kDisconnect);
    AddCommand(*menu, Text("Passing journal...", "Journal des passages..."), kJournal);
    AddCommand(*menu, Text("New race...", "Nouvelle course..."), kNewRace);
    menu->addSeparator();
    AddCommand(*menu, Text("Exit", "Quitter"), kExit);
    menu->addSeparator();
    AddCommand(*menu, Text("About Torvane...", "A Propos de Torvane..."), kAbout);
    RefreshTrayMenu(*menu);
    QMenu* shown = menu.get();
    connect(shown, &QMenu::aboutToShow, this, [this, shown] { RefreshTrayMenu(*shown); });
    connect(shown, &QMenu::triggered, this,
            [this](QAction* action) { OnCommand(action->data().toInt()); });
    return menu;
}

void CMainFrame::RefreshTrayMenu(QMenu& menu) {
    if (QAction* disconnect = FindCommand(menu, kDisconnect))
        disconnect->setEnabled(ActivityWindowExists() && core_.IsAnyLinkActive());
}

QMenu* CMainFrame::ShownMenu() const {
    return trayMenu_->isVisible() ? trayMenu_.get() : nullptr;
}

void CMainFrame::ShowTrayMenu() {
    trayMenu_->popup(QCursor::pos());
}

void CMainFrame::OnTrayActivated(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
        case QSystemTrayIcon::Trigger:
            // A menu opened at the first click would take the mouse, and the second click of a
            // double-click would only close it: the menu waits until no second click can come.
            menuDelay_.start(QApplication::doubleClickInterval());
            break;
        case QSystemTrayIcon::Context:
            menuDelay_.stop();
            ShowTrayMenu();
            break;
        case QSystemTrayIcon::DoubleClick:
            menuDelay_.stop();
            trayMenu_->hide();
            OnCommand(kDisplayActivity);
            break;
        default:
            break;
    }
}

void CMainFrame::OnCommand(int command) {
    switch (command) {
        case kDisplayActivity:
            DisplayActivityWindow();
            break;
        case kDisconnect:
            Disconnect();
            break;
        case kJournal:
            if (activity_.showJournal) activity_.showJournal();
            break;
        case kNewRace:
            NewRace();
            break;
        case kExit:
            Exit();
            break;
        case kAbout:
            ShowAbout();
            break;
        default:
            break;
    }
}

void CMainFrame::DisplayActivityWindow() {
    if (ActivityWindowExists() && activity_.show) activity_.show();
}

void CMainFrame::Disconnect() {
    if (!ActivityWindowExists()) return;
    core_.DisconnectAllAfterQuestion();
}

void CMainFrame::NewRace() {
    AskAndStartNewRace(core_);
}

void CMainFrame::Exit() {
    const bool ctrlHeld = isCtrlHeld && isCtrlHeld();
    if (!ctrlHeld && !core_.Dialogs().AskOkCancel(core_.ExitQuestion())) {
        return;
    }
    ExitWithoutQuestion();
}

void CMainFrame::ExitWithoutQuestion() {
    exitFlag_ = true;
    close();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (activity_.savePosition) activity_.savePosition();
    if (!exitFlag_) {
        hide();
        event->ignore();
        return;
    }
    event->accept();
    tray_.Remove();
    if (onClosedForGood) onClosedForGood();
}

std::unique_ptr<QDialog> CMainFrame::CreateAboutBox() {
    auto about = std::make_unique<QDialog>(this);
    about->setObjectName(QStringLiteral("aboutBox"));
    about->setWindowTitle(Text("About Torvane", "A propos de Torvane"));
    const DialogUnitLayout layout(*about, kAboutDialogUnits);

    auto* icon = layout.Add<QLabel>("aboutIcon", QRect(7, 7, 21, 20));
    icon->setPixmap(ResourceIcon(kProgramIcon).pixmap(kIconPixels, kIconPixels));
    icon->resize(kIconPixels, kIconPixels);
    const QString texts[] = {QStringLiteral("Torvane  - %1").arg(QString::fromUtf8(kVersionText)),
                             QStringLiteral("Proxy    MyLaps <-->  Ostrak Pro")};
    layout.AddLabel("aboutVersion", QRect(7, 32, 221, 10), texts[0], Qt::AlignCenter)
        ->setTextFormat(Qt::PlainText);
    layout.AddLabel("aboutProxy", QRect(7, 46, 221, 10), texts[1], Qt::AlignCenter)
        ->setTextFormat(Qt::PlainText);
    auto* ok = layout.Add<QPushButton>(controls::kOk, QRect(92, 70, 50, 14));
    ok->setText(QStringLiteral("OK"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, about.get(), &QDialog::accept);
    return about;
}

void CMainFrame::ShowAbout() {
    CreateAboutBox()->exec();
}

}  // namespace torvane
