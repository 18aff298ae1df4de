#include "widgets/CTrayIcon.h"

namespace torvane {

CTrayIcon::CTrayIcon(QObject* parent) : QObject(parent) {}

void CTrayIcon::SetStatus(const QIcon& icon, const QString& tip) {
    if (!icon.isNull()) icon_.setIcon(icon);
    if (!tip.isNull()) {
        tip_ = tip.left(kMaxTipLength);
        icon_.setToolTip(tip_);
    }
    if (!shown_ && !icon_.icon().isNull()) {
        icon_.show();
        shown_ = true;
    }
}

void CTrayIcon::Remove() {
    if (!shown_) return;
    icon_.hide();
    shown_ = false;
}

bool CTrayIcon::IsTrayAvailable() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool CTrayIcon::SupportsMessages() const {
    return shown_ && IsTrayAvailable() && QSystemTrayIcon::supportsMessages();
}

void CTrayIcon::ShowMessage(const QString& title, const QString& text, const QIcon& icon,
                            int timeoutMs) {
    icon_.showMessage(title, text, icon, timeoutMs);
}

QRect CTrayIcon::Geometry() const {
    return icon_.geometry();
}

QPoint BalloonAnchorFromTaskBar(const QRect& taskBar) {
    // The edges as the task bar query gives them: right and bottom one past the last pixel.
    const int l = taskBar.left(), t = taskBar.top();
    const int r = taskBar.left() + taskBar.width(), b = taskBar.top() + taskBar.height();
    if (l <= 5 && t <= 5) return {r - l - 10, b - t - 10};
    if (l <= 5) return {r - l - 150, t + (b - t) / 2};
    if (t <= 5) return {l, b - t - 10};
    return {l - 10, t};
}

std::optional<QRect> TaskBarRect(const QRect& screen, const QRect& available) {
    if (available == screen || !screen.contains(available)) return std::nullopt;
    if (available.top() > screen.top())
        return QRect(screen.left(), screen.top(), screen.width(), available.top() - screen.top());
    if (available.bottom() < screen.bottom())
        return QRect(screen.left(), available.bottom() + 1, screen.width(),
                     screen.bottom() - available.bottom());
    if (available.left() > screen.left())
        return QRect(screen.left(), screen.top(), available.left() - screen.left(),
                     screen.height());
    if (available.right() < screen.right())
        return QRect(available.right() + 1, screen.top(), screen.right() - available.right(),
                     screen.height());
    return std::nullopt;
}

std::optional<QPoint> FindBalloonAnchor(const QRect& iconPlace, const QRect& screen,
                                        const QRect& available) {
    if (iconPlace.isValid()) return iconPlace.center();
    if (const auto taskBar = TaskBarRect(screen, available)) {
        return BalloonAnchorFromTaskBar(*taskBar);
    }
    return std::nullopt;
}

}  // namespace torvane
