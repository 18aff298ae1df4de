#pragma once

#include <QDBusConnection>
#include <QIcon>
#include <QObject>
#include <QString>

namespace torvane {

// The urgency levels of the freedesktop notification service.
enum class NotificationUrgency : unsigned char { Low = 0, Normal = 1, Critical = 2 };

// Notices on desktops without a notification area: the desktop's notification service
// (org.freedesktop.Notifications on the session bus). Each notice replaces the one before, as
// a new balloon closes the last. Nothing waits for the service: a desktop without one shows
// nothing, and the program goes on.
class DesktopNotifier : public QObject {
public:
    static constexpr const char* kService = "org.freedesktop.Notifications";
    static constexpr const char* kPath = "/org/freedesktop/Notifications";
    static constexpr const char* kInterface = "org.freedesktop.Notifications";

    DesktopNotifier();

    // Another bus than the session's (a private bus in tests).
    void UseBus(const QDBusConnection& bus) { bus_ = bus; }

    // Sends the notice; false when there is no bus to send it on. A critical notice stays until
    // the operator closes it, the others go after `timeoutMs`.
    bool Notify(const QString& title, const QString& text, const QIcon& icon,
                NotificationUrgency urgency, int timeoutMs);
    // The service's id of the last notice it showed (0 before any).
    uint ShownId() const { return shownId_; }

private:
    QDBusConnection bus_;
    uint shownId_ = 0;
};

}  // namespace torvane
