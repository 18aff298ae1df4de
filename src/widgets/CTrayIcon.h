#pragma once

#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QSystemTrayIcon>
#include <optional>

class QMenu;

namespace torvane {

// The icon in the notification area, with its tooltip and pop-up menu.
class CTrayIcon : public QObject {
public:
    static constexpr int kMaxTipLength = 127;

    explicit CTrayIcon(QObject* parent = nullptr);

    // The first call adds the icon, later calls replace icon and tip; a null icon keeps the
    // current one when one is shown; `remove` takes the icon away.
    void SetStatus(const QIcon& icon, const QString& tip);
    void Remove();
    bool IsShown() const { return shown_; }
    QString Tip() const { return tip_; }

    // Whether the desktop has a notification area, and whether it shows balloons of its own.
    static bool IsTrayAvailable();
    bool SupportsMessages() const;
    void ShowMessage(const QString& title, const QString& text, const QIcon& icon, int timeoutMs);
    // The icon's place on the screen, when the desktop tells it.
    QRect Geometry() const;

    QSystemTrayIcon& Icon() { return icon_; }

private:
    QSystemTrayIcon icon_;
    QString tip_;
    bool shown_ = false;
};

// Where a balloon next to the notification area points, from the task bar's rectangle.
QPoint BalloonAnchorFromTaskBar(const QRect& taskBar);
// The task bar of a desktop: the part of the screen that its available area leaves out
// (nothing when the available area is the whole screen).
std::optional<QRect> TaskBarRect(const QRect& screen, const QRect& available);

}  // namespace torvane
