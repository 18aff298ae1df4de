// Renders the program's windows into PNG files without a desktop, so that they can be looked
// at: the activity window after the start of a race played over loopback links (with and
// without a notification area), the configuration dialog (also with a refused port and its
// balloon), the manual detection dialog, the About box, the tray menu and a status balloon.
//
// Usage: torvane-screenshots [output folder]   (default: ./screenshots)

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QTableView>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "app/Configuration.h"
#include "app/Core.h"
#include "base/CalendarText.h"
#include "base/Clock.h"
#include "base/Logging.h"
#include "base/SettingsStore.h"
#include "base/Texts.h"
#include "support/CoreFakes.h"
#include "support/LoopbackPeer.h"
#include "tables/DagTable.h"
#include "ui/CDlgConfig.h"
#include "ui/CDlgInsertTimeNew.h"
#include "ui/CMainFrame.h"
#include "ui/CTorvaneDlg.h"
#include "ui/JournalWindow.h"
#include "ui/Resources.h"
#include "widgets/CBalloonHelp.h"
#include "widgets/CTrayIcon.h"

namespace torvane {
namespace {

constexpr int kCaptionHeight = 24;
const QColor kCaptionColour(214, 219, 233);
const QColor kBorderColour(120, 120, 140);

// The program's settings, log and data in a folder of their own that goes at the end.
class ScratchFolders {
public:
    ScratchFolders() {
        const QString root = folder_.path();
        QDir().mkpath(root + "/data");
        QDir().mkpath(root + "/runtime");
        QFile::setPermissions(root + "/runtime",
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QDir().mkpath(root + "/program");
        ::setenv("XDG_DATA_HOME", (root + "/data").toLocal8Bit().constData(), 1);
        ::setenv("XDG_RUNTIME_DIR", (root + "/runtime").toLocal8Bit().constData(), 1);
        SetProgramFolderForTesting((root + "/program").toStdString());
        ResetSettingsPathsForTesting();
        MakeDirectories(GetLogFolder());
        FixLogFilePath();
    }
    ~ScratchFolders() { ResetSettingsPathsForTesting(); }

private:
    QTemporaryDir folder_;
};

// Takes every posted message and shows every waiting row.
void Settle(Core& core) {
    for (int round = 0; round < 3; ++round) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
    core.DeliverPendingWork();
    QCoreApplication::processEvents();
}

// A window as a desktop would frame it: a caption with its icon and title, and a border.
QImage Framed(const QWidget& window, const QImage& content) {
    QImage framed(content.width() + 2, content.height() + kCaptionHeight + 2,
                  QImage::Format_ARGB32_Premultiplied);
    framed.fill(kBorderColour);
    QPainter painter(&framed);
    painter.fillRect(1, 1, content.width(), kCaptionHeight, kCaptionColour);
    const int iconSide = kCaptionHeight - 6;
    window.windowIcon().paint(&painter, QRect(5, 4, iconSide, iconSide));
    QFont captionFont = window.font();
    captionFont.setBold(true);
    painter.setFont(captionFont);
    painter.setPen(Qt::black);
    painter.drawText(QRect(iconSide + 10, 1, content.width() - iconSide - 10, kCaptionHeight),
                     Qt::AlignVCenter | Qt::AlignLeft, window.windowTitle());
    painter.drawImage(1, kCaptionHeight + 1, content);
    return framed;
}

QImage Grab(QWidget& window) {
    window.show();
    QCoreApplication::processEvents();
    return window.grab().toImage();
}

// The window with its caption, and a balloon over it at their places on the screen.
QImage WithBalloon(QWidget& window, QWidget& balloon) {
    const QImage framed = Framed(window, Grab(window));
    const QPoint framedAt = window.mapToGlobal(QPoint(0, 0)) - QPoint(1, kCaptionHeight + 1);
    const QRect framedPlace(framedAt, framed.size());
    const QRect balloonPlace(balloon.pos(), balloon.size());
    const QRect whole = framedPlace.united(balloonPlace);
    QImage image(whole.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.drawImage(framedPlace.topLeft() - whole.topLeft(), framed);
    painter.drawImage(balloonPlace.topLeft() - whole.topLeft(), balloon.grab().toImage());
    return image;
}

bool Save(const QImage& image, const QString& folder, const char* name) {
    const QString path = folder + "/" + name + ".png";
    const bool saved = image.save(path);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", path.toLocal8Bit().constData());
    return saved;
}

// Pumps the event loop until `done` holds or the deadline passes; returns `done()`.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done() && elapsed.elapsed() < timeoutMs) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

// A 39-character decoder record of today: chip, time, unused fields, date YYMMDD, checksum.
std::string Record(const std::string& chip, const std::string& time) {
    return chip + time + std::string(12, '0') + TodayDateText().substr(2) + "00";
}

// The start of a race on the program's own road: a source on its listener and a host on a
// loopback port, passings and the host's answers. Every line that the window then shows is
// one that the program wrote itself. The links stay up while the race object lives.
class RaceStart {
public:
    bool Play(Core& core, test::FakeTimers& timers) {
        WriteIniString("Ostrak", "Host", "127.0.0.1");
        WriteIniInt("Ostrak", "Port", host_.Port());
        std::ofstream(GetDataFolder() + "/ChipTable.dtb")
            << "7 KV00007\n8 KV00008\n142 KV00142\n213 KV00213\n";
        core.LoadChipTableAndLog();
        // As the program does: a message is acknowledged, and its passings leave for the host,
        // only once they are in the journal.
        if (!core.OpenJournal()) return Fail("no journal");
        if (core.StartListener(0) != 0 || !source_.Connect(core.Listener().ListeningPort()) ||
            !host_.WaitForConnection() ||
            !WaitUntil([&] { return core.State().hostLinkState == HostLinkState::Connected; }))
            return Fail("no links");

        timers.Advance(300);  // the host's questions after its connection
        constexpr size_t kQuestions = 7;
        if (!host_.WaitForLines(kQuestions)) return Fail("no questions to the host");
        host_.Send("NFO:24 Ostrak Pro\nNFO:5 Marathon de Lyon\n");

        const char* passings[][2] = {{"KV00007", "12:01:02.345"},
                                     {"KV00008", "12:01:03.400"},
                                     {"ZZ00001", "12:01:04.000"},
                                     {"KV00142", "12:02:17.910"},
                                     {"KV00213", "12:05:40.120"}};
        std::string store = "Loop1@Store@";
        for (const auto& passing : passings) store += Record(passing[0], passing[1]) + "@";
        if (!source_.Send(store + "1@$") || !source_.WaitFor("@AckStore@1$") ||
            !host_.WaitForLines(kQuestions + std::size(passings)))
            return Fail("the passings did not reach the host");

        const char* answers[] = {
            "RES:1\\L1\\L2\\1\\12.5\\t5\\t6\\1\\1\\1\\7\\Anne\\MARTIN\\F40\\Club "
            "Lyon\\t15\\t16\\01:02:03\\t18\\3",
            "RES:1\\L1\\L2\\2\\12.5\\t5\\t6\\4\\2\\3\\8\\Paul\\DURAND\\M40\\AC "
            "Villeurbanne\\t15\\t16\\01:02:04\\t18\\3",
            "RES:1\\L1\\L2\\0\\0\\t5\\t6\\0\\0\\0\\0\\\\\\\\\\t15\\t16\\00:00:00\\t18\\-5",
            "RES:1\\L1\\L2\\1\\12.5\\t5\\t6\\0\\0\\0\\142\\Luc\\BERNARD\\M20\\Elite\\t15\\t16"
            "\\--:--:--\\t18\\-7",
            "RES:1\\L1\\L2\\2\\12.5\\t5\\t6\\9\\3\\2\\213\\Claire\\LEROY\\F20\\Lyon "
            "Athle\\t15\\t16\\01:05:40\\t18\\3",
        };
        std::string lines;
        for (const char* answer : answers) lines.append(answer).push_back('\n');
        host_.Send(lines);
        if (!WaitUntil([&] {
                return core.Lists().summary.Count() == static_cast<int>(std::size(answers));
            }))
            return Fail("the host's answers did not reach the summary");
        return true;
    }

private:
    static bool Fail(const char* what) {
        std::fprintf(stderr, "race start: %s\n", what);
        return false;
    }

    test::TcpServer host_;
    test::TcpClient source_;
};

// The journal window after the race start, with a passing kept back while the flow was closed
// and the known chip's rows chosen.
bool SaveJournalWindow(Core& core, const QString& outputFolder) {
    ReceivedPassing held;
    held.source = "Loop1";
    held.chip = "KV00142";
    held.timeField = "12:06:01.500";
    held.record = Record(held.chip, held.timeField);
    held.boxDate = "20" + TodayDateText().substr(2);
    held.receivedUtcMs = clock::NowMs();
    core.SetFlowOpen(false);
    core.Processor().ProcessPassing(held);
    core.FlushJournal();
    core.SetFlowOpen(true);
    JournalWindow window(core);
    if (!WaitUntil([&] { return !window.IsSearching(); })) return false;
    window.Table()->selectRow(1);
    return Save(Framed(window, Grab(window)), outputFolder, "journal-window");
}

int Run(const QString& outputFolder) {
    QDir().mkpath(outputFolder);
    test::ScriptedDialogs dialogs;
    test::RecordingStatus status;
    test::ScriptedManualInput manual;
    test::FakeTimers timers;
    Core core(Core::Ports{dialogs, status, manual, &timers});
    core.LoadGeneralSettings();
    core.SetFlowOpen(true);
    core.AttachMessageTarget();
    bool ok = true;

    CTorvaneDlg activity(core);
    activity.SetTrayAvailability([] { return true; });
    {
        RaceStart race;
        ok &= race.Play(core, timers);
        activity.SetInsertButtonEnabled(core.IsAnyLinkActive());
        Settle(core);
        ok &= Save(Framed(activity, Grab(activity)), outputFolder, "activity-window");
        activity.SetTrayAvailability([] { return false; });
        ok &= Save(Framed(activity, Grab(activity)), outputFolder, "activity-window-no-tray");
        ok &= SaveJournalWindow(core, outputFolder);
    }
    activity.hide();

    {
        CDlgConfig config(core, LoadConfiguration(core));
        ok &= Save(Framed(config, Grab(config)), outputFolder, "configuration");
    }
    {
        CDlgConfig config(core, LoadConfiguration(core));
        config.SetSoundPlayer([](int) {});
        Grab(config);
        config.findChild<QLineEdit*>(QStringLiteral("1000"))->setText(QStringLiteral("80"));
        config.accept();
        QCoreApplication::processEvents();
        auto* balloon = config.findChild<QWidget*>(QStringLiteral("balloon"));
        if (balloon) {
            ok &= Save(WithBalloon(config, *balloon), outputFolder, "configuration-refused-port");
        } else {
            std::fputs("no balloon after a refused port\n", stderr);
            ok = false;
        }
    }
    {
        CDlgInsertTimeNew manualDialog(core,
                                       DetectionProcessor::DetectorList(kDefaultExtendedDetectors));
        manualDialog.findChild<QComboBox*>(QStringLiteral("1131"))->setCurrentIndex(1);
        ok &= Save(Framed(manualDialog, Grab(manualDialog)), outputFolder, "manual-detection");
    }

    CMainFrame frame(core, {[] { return true; }, [] {}, [] {}, [] {}});
    {
        const auto about = frame.CreateAboutBox();
        ok &= Save(Framed(*about, Grab(*about)), outputFolder, "about");
    }
    {
        const auto menu = frame.BuildTrayMenu();
        menu->popup(QPoint(20, 20));
        QCoreApplication::processEvents();
        ok &= Save(menu->grab().toImage(), outputFolder, "tray-menu");
        menu->hide();
    }
    {
        // A status balloon by the notification area of a panel at the bottom of the screen.
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        const QPoint anchor = BalloonAnchorFromTaskBar(
            QRect(screen.left(), screen.bottom() - 39, screen.width(), 40));
        auto* balloon = CBalloonHelp::LaunchBalloon(
            QStringLiteral("Torvane"), QStringLiteral("Connexion Ostrak - MyLaps effectuée"),
            ResourceIcon(134), anchor, 0);
        ok &= Save(balloon->grab().toImage(), outputFolder, "tray-balloon");
        balloon->close();
    }
    DagTableEmpty();
    return ok ? 0 : 1;
}

}  // namespace
}  // namespace torvane

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const torvane::ScratchFolders folders;
    QApplication application(argc, argv);
    const QString output =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    return torvane::Run(output);
}
