#pragma once

#include <QRect>

// Keeping a window reachable on the monitors of the desktop.
namespace torvane {

// The bounding rectangle of every monitor of the desktop.
QRect AllMonitorsBounds();

// Where a window must go to stay reachable: the monitors' bounds shrunk by 5 pixels on each side
// form the usable area. A window that does not overlap it goes 10 pixels right and below the
// area's top-left corner; otherwise a top above the area comes down to it and a left edge left
// of it comes right to it. Right and bottom edges are left alone, and the size never changes.
QRect KeepOnMonitors(const QRect& window, const QRect& monitorsBounds);

}  // namespace torvane
