#include "widgets/MonitorBounds.h"

#include <QGuiApplication>
#include <QScreen>

namespace torvane {
namespace {

constexpr int kAreaMargin = 5;
constexpr int kOffAreaOffset = 10;

}  // namespace

QRect AllMonitorsBounds() {
    QRect bounds;
    for (const QScreen* screen : QGuiApplication::screens())
        bounds = bounds.united(screen->geometry());
    return bounds;
}

QRect KeepOnMonitors(const QRect& window, const QRect& monitorsBounds) {
    const QRect area =
        monitorsBounds.adjusted(kAreaMargin, kAreaMargin, -kAreaMargin, -kAreaMargin);
    QRect placed = window;
    if (!placed.intersects(area)) {
        placed.moveTopLeft(area.topLeft() + QPoint(kOffAreaOffset, kOffAreaOffset));
        return placed;
    }
    if (placed.top() < area.top()) placed.moveTop(area.top());
    if (placed.left() < area.left()) placed.moveLeft(area.left());
    return placed;
}

}  // namespace torvane
