#pragma once

#include <QIcon>
#include <QPoint>
#include <QString>
#include <QTimer>
#include <QWidget>

namespace torvane {

// A balloon tip pointing at a screen point: title, icon and text. It closes itself after its
// time-out, at any mouse button press or release, or when the mouse moves away.
class CBalloonHelp : public QWidget {
public:
    static constexpr int kDefaultTimeoutMs = 4000;
    // How far the mouse may move from where it was when the balloon opened.
    static constexpr int kMouseMoveTolerance = 12;

    CBalloonHelp(const QString& title, const QString& text, const QIcon& icon,
                 QWidget* parent = nullptr);

    // Shows a new balloon; it deletes itself when it closes.
    static CBalloonHelp* LaunchBalloon(const QString& title, const QString& text,
                                       const QIcon& icon, const QPoint& anchor,
                                       int timeoutMs = kDefaultTimeoutMs,
                                       QWidget* parent = nullptr);

    void ShowAt(const QPoint& anchor, int timeoutMs);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer closeTimer_;
    QPoint mouseAtOpen_;
};

}  // namespace torvane
