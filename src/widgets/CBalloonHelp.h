#pragma once

#include <QIcon>
#include <QPainterPath>
#include <QPoint>
#include <QString>
#include <QTimer>
#include <QWidget>

class QVBoxLayout;

namespace torvane {

// A balloon tip pointing at a screen point: title, icon and text. It closes itself after its
// time-out, at any mouse button press or release in the program, or when the mouse moves away
// from where it was when the balloon opened.
class CBalloonHelp : public QWidget {
public:
    static constexpr int kDefaultTimeoutMs = 4000;
    // How far the mouse may move from where it was when the balloon opened.
    static constexpr int kMouseMoveTolerance = 12;
    // The mouse may move over other programs, which send us nothing: its place is looked at.
    static constexpr int kMousePollMs = 100;

    CBalloonHelp(const QString& title, const QString& text, const QIcon& icon,
                 QWidget* parent = nullptr);

    // Shows a new balloon; it deletes itself when it closes.
    static CBalloonHelp* LaunchBalloon(const QString& title, const QString& text, const QIcon& icon,
                                       const QPoint& anchor, int timeoutMs = kDefaultTimeoutMs,
                                       QWidget* parent = nullptr);

    // Places the balloon with its pointer on `anchor` (below it when there is room on the
    // anchor's screen, above it otherwise) and shows it. A time-out of 0 never closes it.
    void ShowAt(const QPoint& anchor, int timeoutMs);

    // The tip of the pointer in the balloon's own coordinates.
    QPoint PointerTip() const;
    bool PointsDown() const { return pointsDown_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void SetPointerSide(bool down);
    QPainterPath Outline() const;
    void UpdateMask();
    void CloseIfMouseMovedAway();

    QVBoxLayout* layout_ = nullptr;
    QTimer closeTimer_;
    QTimer mouseTimer_;
    QPoint mouseAtOpen_;
    bool pointsDown_ = false;
    int pointerX_ = 0;
};

}  // namespace torvane
