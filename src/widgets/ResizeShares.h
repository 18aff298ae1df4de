#pragma once

#include <QRect>

// How a control of a resizable dialog follows the growth of the client area.
namespace torvane {

// Percentages of the growth dx (left, right) and dy (top, bottom): the left share is added to
// the control's left edge, the right share to the free space at its right, so the control
// widens by the rest of dx; the same for top and bottom with dy.
struct ResizeShares {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const ResizeShares&) const = default;
};

inline constexpr ResizeShares kFollowBottomRight{100, 100, 0, 0};
inline constexpr ResizeShares kFollowRightEdge{100, 0, 0, 100};
inline constexpr ResizeShares kKeepPlaceAndSize{0, 0, 100, 100};
inline constexpr ResizeShares kWidenOnly{0, 0, 0, 100};
inline constexpr ResizeShares kWidenAndGrow{0, 0, 0, 0};
inline constexpr ResizeShares kFollowBottomEdge{0, 100, 100, 0};

// The designed rectangle of a control once the client area has grown by dx, dy.
QRect ApplyResizeShares(const QRect& designed, const ResizeShares& shares, int dx, int dy);

// Shares of a control that no table names, from where it sits in the designed client width:
// covering the middle third it widens; ending within the left 80 % it stays at the left;
// otherwise it follows the right edge. It always stays at the top with its height.
ResizeShares SharesFromPosition(const QRect& designed, int clientWidth);

}  // namespace torvane
