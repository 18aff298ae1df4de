#include "widgets/ResizeShares.h"

namespace torvane {

QRect ApplyResizeShares(const QRect& designed, const ResizeShares& shares, int dx, int dy) {
    const int left = designed.x() + dx * shares.left / 100;
    const int right = designed.x() + designed.width() + dx - dx * shares.right / 100;
    const int top = designed.y() + dy * shares.top / 100;
    const int bottom = designed.y() + designed.height() + dy - dy * shares.bottom / 100;
    return QRect(left, top, right - left, bottom - top);
}

ResizeShares SharesFromPosition(const QRect& designed, int clientWidth) {
    const int left = designed.x();
    const int right = designed.x() + designed.width();
    const bool coversMiddleThird = 3 * left <= clientWidth && 3 * right >= 2 * clientWidth;
    if (coversMiddleThird) return kWidenOnly;
    if (10 * right <= 8 * clientWidth) return kKeepPlaceAndSize;
    return kFollowRightEdge;
}

}  // namespace torvane
