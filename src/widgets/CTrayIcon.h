#pragma once

#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QSystemTrayIcon>
#include <optional>

namespace torvane {

// The icon in the notification area with its tooltip.
class CTrayIcon : public QObject {
public:
    static constexpr int kMaxTipLength = 127;

    explicit CTrayIcon(QObject* parent = nullptr);

    // The first call with an icon adds the icon to the notification area; later calls replace
    // icon and tip. A null icon keeps the current one, a null tip keeps the current tip.
    void SetStatus(const QIcon& icon, const QString& tip);
    // Takes the icon out of the notification area; nothing when none is shown.
    void Remove();
    bool IsShown() const { return shown_; }
    QString Tip() const { return tip_; }
    QIcon CurrentIcon() const { return icon_.icon(); }

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
// The task bar of a desktop: the strip of the screen that its available area leaves out
// (nothing when the available area is the whole screen).
std::optional<QRect> TaskBarRect(const QRect& screen, const QRect& available);
// The balloon's anchor: the icon's centre when the desktop tells where the icon is, otherwise
// the point that the task bar gives; nothing without either.
std::optional<QPoint> FindBalloonAnchor(const QRect& iconPlace, const QRect& screen,
                                        const QRect& available);

}  // namespace torvane
