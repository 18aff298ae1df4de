// Balloons on a desktop without a notification area reach the desktop's notification service:
// a service of our own owns its name on a private session bus and records every call.

#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QVariantMap>
#include <memory>
#include <vector>

#include "ui/ActivityTestPorts.h"
#include "ui/CMainFrame.h"
#include "ui/DesktopNotifier.h"

namespace torvane::test {
namespace {

// A message bus of the test's own, ended with the test.
class PrivateBus {
public:
    PrivateBus() {
        daemon_.setProgram(QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")));
        daemon_.setArguments({"--session", "--nofork", "--print-address"});
        if (daemon_.program().isEmpty()) return;
        daemon_.start();
        QElapsedTimer elapsed;
        elapsed.start();
        while (!daemon_.canReadLine() && elapsed.elapsed() < 5000) daemon_.waitForReadyRead(100);
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
    ~PrivateBus() {
        for (const QString& name : names_) QDBusConnection::disconnectFromBus(name);
        daemon_.kill();
        daemon_.waitForFinished();
    }

    bool IsRunning() const { return !address_.isEmpty(); }

    QDBusConnection Connect(const QString& name) {
        names_.push_back(name);
        return QDBusConnection::connectToBus(address_, name);
    }

private:
    QProcess daemon_;
    QString address_;
    std::vector<QString> names_;
};

struct Notice {
    QString application;
    uint replacesId;
    QString icon;
    QString title;
    QString text;
    QVariantMap hints;
    int timeoutMs;
};

class FakeNotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    std::vector<Notice> notices;

public slots:
    uint Notify(const QString& application, uint replacesId, const QString& icon,
                const QString& title, const QString& text, const QStringList&,
                const QVariantMap& hints, int timeoutMs) {
        notices.push_back({application, replacesId, icon, title, text, hints, timeoutMs});
        return static_cast<uint>(100 + notices.size());
    }
};

struct ImageData {
    int width = 0, height = 0, stride = 0, bitsPerSample = 0, channels = 0;
    bool alpha = false;
    QByteArray bytes;
};

ImageData ReadImageData(const QVariant& hint) {
    ImageData image;
    const QDBusArgument argument = hint.value<QDBusArgument>();
    argument.beginStructure();
    argument >> image.width >> image.height >> image.stride >> image.alpha >> image.bitsPerSample >>
        image.channels >> image.bytes;
    argument.endStructure();
    return image;
}

class DesktopNotificationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus.IsRunning()) << "dbus-daemon (Debian package dbus) is needed";
        QDBusConnection serviceSide = bus.Connect(QStringLiteral("notification-service"));
        ASSERT_TRUE(serviceSide.isConnected());
        ASSERT_TRUE(serviceSide.registerService(QLatin1String(DesktopNotifier::kService)));
        ASSERT_TRUE(serviceSide.registerObject(QLatin1String(DesktopNotifier::kPath), &service,
                                               QDBusConnection::ExportAllSlots));
        frame = std::make_unique<CMainFrame>(
            *harness.core,
            CMainFrame::ActivityWindowHooks{[] { return true; }, [] {}, [] {}, [] {}});
        frame->isTrayAvailable = [this] { return trayAvailable; };
        frame->Notifier().UseBus(bus.Connect(QStringLiteral("torvane")));
    }

    bool WaitForNotices(size_t count) {
        return WaitUntil([&] { return service.notices.size() >= count; });
    }

    PrivateBus bus;
    FakeNotificationService service;
    ActivityWindowHarness harness;
    std::unique_ptr<CMainFrame> frame;
    bool trayAvailable = false;
};

TEST_F(DesktopNotificationTest, BalloonsBecomeNoticesWithTheirTitleTextAndUrgency) {
    const struct {
        int iconId;
        const char* text;
        uchar urgency;  // 1 normal, 2 critical
        int timeoutMs;  // -1: the service's own (critical notices stay)
    } cases[] = {
        {136,
         "Ostrak Pro déconnecté : les détections sont gardées et seront envoyées au retour de la "
         "connexion.",
         2, -1},
        {133, "Ostrak perdu", 2, -1},
        {142, "Ostrak perdu, flux fermé", 2, -1},
        {134, "Connexion Ostrak - MyLaps effectuée", 1, 4000},
        {132, "Déconnexion Ostrak - MyLaps", 1, 4000},
        {0, "Application démarrée...", 1, 4000},
    };
    uint shownId = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.iconId);
        const size_t before = service.notices.size();
        frame->ShowTrayBalloon(c.iconId, c.text);
        ASSERT_TRUE(WaitForNotices(before + 1));
        const Notice& notice = service.notices.back();
        EXPECT_EQ(notice.application, "Torvane");
        EXPECT_EQ(notice.title, "Torvane");
        EXPECT_EQ(notice.text, QString::fromUtf8(c.text));
        EXPECT_EQ(notice.hints.value("urgency").value<uchar>(), c.urgency);
        EXPECT_EQ(notice.timeoutMs, c.timeoutMs);
        // Each notice takes the place of the one before, as a new balloon closes the last.
        EXPECT_EQ(notice.replacesId, shownId);
        ASSERT_TRUE(WaitUntil([&] { return frame->Notifier().ShownId() != shownId; }));
        shownId = frame->Notifier().ShownId();

        const ImageData image = ReadImageData(notice.hints.value("image-data"));
        EXPECT_EQ(image.width, 32);
        EXPECT_EQ(image.height, 32);
        EXPECT_TRUE(image.alpha);
        EXPECT_EQ(image.bitsPerSample, 8);
        EXPECT_EQ(image.channels, 4);
        EXPECT_GE(image.stride, image.width * 4);
        EXPECT_EQ(image.bytes.size(), image.stride * image.height);
        EXPECT_EQ(frame->ShownBalloon(), nullptr);
    }
}

TEST_F(DesktopNotificationTest, DesktopWithANotificationAreaKeepsItsBalloonsThere) {
    trayAvailable = true;
    frame->ShowTrayBalloon(134, "Connexion Ostrak - MyLaps effectuée");
    // A later notice arrives alone: the one before never went to the service.
    trayAvailable = false;
    frame->ShowTrayBalloon(132, "Déconnexion Ostrak - MyLaps");
    ASSERT_TRUE(WaitForNotices(1));
    ASSERT_EQ(service.notices.size(), 1u);
    EXPECT_EQ(service.notices[0].text, QString::fromUtf8("Déconnexion Ostrak - MyLaps"));
}

TEST(DesktopNotifierTest, WithoutABusNothingIsSent) {
    DesktopNotifier notifier;
    notifier.UseBus(QDBusConnection(QStringLiteral("never connected")));
    EXPECT_FALSE(notifier.Notify("Torvane", "Déconnexion Ostrak - MyLaps", QIcon(),
                                 NotificationUrgency::Normal, 4000));
}

}  // namespace
}  // namespace torvane::test

#include "DesktopNotificationTest.moc"
