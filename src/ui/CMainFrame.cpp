#include "ui/CMainFrame.h"

#include <QCloseEvent>
#include <QCursor>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScreen>
#include <QVBoxLayout>

#include "app/Core.h"
#include "app/DisplayText.h"
#include "app/Logging.h"
#include "app/SettingsStore.h"
#include "app/Texts.h"
#include "ui/Resources.h"
#include "widgets/CBalloonHelp.h"

namespace torvane {
namespace {

QString Text(const char* english, const char* french) { return QString::fromUtf8(Tr(english, french)); }

}  // namespace

CMainFrame::CMainFrame(Core& core, ActivityWindowHooks activity)
    : core_(core), activity_(std::move(activity)) {
    setWindowTitle("Torvane");
    setWindowIcon(ResourceIcon(128));
    const IniRect position = ReadIniRect("Mainframe", "Position", IniRect{});
    if (position.Width() != 0) {
        setGeometry(position.left, position.top, position.Width(), position.Height());
    }

    textView_ = new QPlainTextEdit(this);
    textView_->setReadOnly(true);
    textView_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont font(QString::fromStdString(ReadIniString("Settings", "DisplayFontName", "Arial")));
    font.setPointSize(std::max(1, ReadIniInt("Settings", "DisplayFontSize", 8)));
    font.setWeight(QFont::Normal);
    textView_->setFont(font);
    textView_->setStyleSheet("background-color: rgb(220, 220, 255);");
    setCentralWidget(textView_);

    isCtrlHeld = [] {
        return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ControlModifier);
    };
    connect(&tray_.Icon(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { OnTrayActivated(reason); });
}

CMainFrame::~CMainFrame() { tray_.Remove(); }

void CMainFrame::SetTrayStatus(int iconId, const std::string& tip) {
    tray_.SetStatus(iconId ? ResourceIcon(iconId) : QIcon(), QString::fromStdString(tip));
}

QPoint CMainFrame::BalloonAnchor() const {
    const QRect iconPlace = tray_.Geometry();
    if (iconPlace.isValid() && !iconPlace.isEmpty()) return iconPlace.center();
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return {};
    const auto taskBar = TaskBarRect(screen->geometry(), screen->availableGeometry());
    if (taskBar) return BalloonAnchorFromTaskBar(*taskBar);
    // A desktop without a panel: the balloon goes to the bottom-right corner.
    const QRect area = screen->availableGeometry();
    return {area.right() - 150, area.bottom() - 10};
}

void CMainFrame::ShowTrayBalloon(int iconId, const std::string& text) {
    const QIcon icon = iconId ? ResourceIcon(iconId) : ResourceIcon(128);
    if (tray_.SupportsMessages()) {
        tray_.ShowMessage("Torvane", DisplayText(text), icon, CBalloonHelp::kDefaultTimeoutMs);
        return;
    }
    if (!QGuiApplication::primaryScreen()) return;
    CBalloonHelp::LaunchBalloon("Torvane", DisplayText(text), icon, BalloonAnchor());
}

std::unique_ptr<QMenu> CMainFrame::BuildTrayMenu() {
    auto menu = std::make_unique<QMenu>();
    QAction* display = menu->addAction(Text("Display Activity Window", "Afficher la fenêtre d'activité"));
    display->setData(kDisplayActivity);
    QFont bold = display->font();
    bold.setBold(true);
    display->setFont(bold);
    menu->setDefaultAction(display);
    QAction* disconnect = menu->addAction(
        Text("Disconnect from MyLaps and Ostrak Pro", "Déconnexion de MyLaps et Ostrak Pro"));
    disconnect->setData(kDisconnect);
    disconnect->setEnabled(activity_.exists && activity_.exists() && core_.IsAnyLinkActive());
    menu->addSeparator();
    menu->addAction(Text("Exit", "Quitter"))->setData(kExit);
    menu->addSeparator();
    menu->addAction(Text("About Torvane...", "A Propos de Torvane..."))->setData(kAbout);
    connect(menu.get(), &QMenu::triggered, this,
            [this](QAction* action) { OnCommand(action->data().toInt()); });
    return menu;
}

void CMainFrame::OnTrayActivated(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
        case QSystemTrayIcon::DoubleClick: OnCommand(kDisplayActivity); break;
        case QSystemTrayIcon::Trigger:
        case QSystemTrayIcon::Context:
            shownMenu_ = BuildTrayMenu();
            activateWindow();
            shownMenu_->popup(QCursor::pos());
            break;
        default: break;
    }
}

void CMainFrame::OnCommand(int command) {
    switch (command) {
        case kDisplayActivity:
            if (activity_.exists && activity_.exists()) activity_.show();
            break;
        case kDisconnect: Disconnect(); break;
        case kExit: Exit(); break;
        case kAbout: ShowAbout(); break;
        default: break;
    }
}

void CMainFrame::Disconnect() {
    if (!activity_.exists || !activity_.exists()) return;
    core_.DisconnectAllAfterQuestion();
}

void CMainFrame::Exit() {
    if (!isCtrlHeld()) {
        const bool ok = core_.Dialogs().AskOkCancel(
            Tr("Do you really want to quit Torvane", "Voulez vous vraiment quitter Torvane ?"));
        if (!ok) return;
    }
    exitFlag_ = true;
    close();
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

void CMainFrame::ShowAbout() {
    QDialog about(this);
    about.setWindowTitle(Text("About Torvane", "A propos de Torvane"));
    auto* layout = new QVBoxLayout(&about);
    auto* icon = new QLabel;
    icon->setPixmap(ResourceIcon(128).pixmap(32, 32));
    layout->addWidget(icon, 0, Qt::AlignLeft);
    auto* version = new QLabel(QString("Torvane  - %1").arg(kVersionText));
    version->setAlignment(Qt::AlignCenter);
    version->setObjectName("aboutVersion");
    layout->addWidget(version);
    auto* label = new QLabel("Proxy    MyLaps <-->  Ostrak Pro");
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, &about, &QDialog::accept);
    layout->addWidget(buttons);
    about.resize(470, 190);
    about.exec();
}

}  // namespace torvane
