#include "ui/DesktopNotifier.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QImage>
#include <QVariantMap>

namespace torvane {
namespace {

constexpr int kImageSide = 32;
constexpr int kServerDefaultTimeout = -1;

// The "image-data" hint: width, height, row stride, alpha, bits per sample, channels, bytes.
QDBusArgument ImageData(const QIcon& icon) {
    const QImage image =
        icon.pixmap(kImageSide, kImageSide).toImage().convertToFormat(QImage::Format_RGBA8888);
    QDBusArgument data;
    data.beginStructure();
    data << image.width() << image.height() << static_cast<int>(image.bytesPerLine()) << true << 8
         << 4
         << QByteArray(reinterpret_cast<const char*>(image.constBits()),
                       static_cast<int>(image.sizeInBytes()));
    data.endStructure();
    return data;
}

}  // namespace

DesktopNotifier::DesktopNotifier() : bus_(QDBusConnection::sessionBus()) {}

bool DesktopNotifier::Notify(const QString& title, const QString& text, const QIcon& icon,
                             NotificationUrgency urgency, int timeoutMs) {
    if (!bus_.isConnected()) return false;
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(static_cast<uchar>(urgency)));
    if (!icon.isNull())
        hints.insert(QStringLiteral("image-data"), QVariant::fromValue(ImageData(icon)));

    QDBusMessage call =
        QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath),
                                       QLatin1String(kInterface), QStringLiteral("Notify"));
    const bool critical = urgency == NotificationUrgency::Critical;
    call << QStringLiteral("Torvane") << shownId_ << QString() << title << text << QStringList()
         << hints << (critical ? kServerDefaultTimeout : timeoutMs);

    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* done) {
                const QDBusPendingReply<uint> reply = *done;
                if (reply.isValid()) shownId_ = reply.value();
                done->deleteLater();
            });
    return true;
}

}  // namespace torvane
