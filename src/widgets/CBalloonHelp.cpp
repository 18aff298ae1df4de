#include "widgets/CBalloonHelp.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QVBoxLayout>

namespace torvane {
namespace {

constexpr int kPointerHeight = 10;

}  // namespace

CBalloonHelp::CBalloonHelp(const QString& title, const QString& text, const QIcon& icon,
                           QWidget* parent)
    : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint) {
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_TranslucentBackground);
    setObjectName("balloon");

    auto* iconLabel = new QLabel;
    iconLabel->setPixmap(icon.pixmap(24, 24));
    auto* titleLabel = new QLabel(title);
    QFont bold = titleLabel->font();
    bold.setBold(true);
    titleLabel->setFont(bold);
    titleLabel->setObjectName("balloonTitle");
    auto* textLabel = new QLabel(text);
    textLabel->setObjectName("balloonText");

    auto* header = new QHBoxLayout;
    header->addWidget(iconLabel);
    header->addWidget(titleLabel, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 8 + kPointerHeight, 10, 8);
    layout->addLayout(header);
    layout->addWidget(textLabel);

    closeTimer_.setSingleShot(true);
    connect(&closeTimer_, &QTimer::timeout, this, &QWidget::close);
}

CBalloonHelp* CBalloonHelp::LaunchBalloon(const QString& title, const QString& text,
                                          const QIcon& icon, const QPoint& anchor, int timeoutMs,
                                          QWidget* parent) {
    auto* balloon = new CBalloonHelp(title, text, icon, parent);
    balloon->ShowAt(anchor, timeoutMs);
    return balloon;
}

void CBalloonHelp::ShowAt(const QPoint& anchor, int timeoutMs) {
    adjustSize();
    // The pointer sits at the top left, on the anchor; keep the body on the anchor's screen.
    QPoint topLeft(anchor.x() - 20, anchor.y());
    if (QScreen* screen = QGuiApplication::screenAt(anchor)) {
        const QRect area = screen->availableGeometry();
        topLeft.setX(std::clamp(topLeft.x(), area.left(), std::max(area.left(), area.right() - width())));
        if (topLeft.y() + height() > area.bottom()) topLeft.setY(anchor.y() - height());
    }
    move(topLeft);
    mouseAtOpen_ = QCursor::pos();
    qApp->installEventFilter(this);
    show();
    if (timeoutMs > 0) closeTimer_.start(timeoutMs);
}

bool CBalloonHelp::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::NonClientAreaMouseButtonPress:
            close();
            break;
        case QEvent::MouseMove:
            if ((QCursor::pos() - mouseAtOpen_).manhattanLength() > kMouseMoveTolerance) close();
            break;
        default: break;
    }
    return QWidget::eventFilter(watched, event);
}

void CBalloonHelp::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF body = QRectF(rect()).adjusted(0.5, kPointerHeight + 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(body, 6, 6);
    QPainterPath pointer;
    pointer.moveTo(14, kPointerHeight + 1);
    pointer.lineTo(20, 0.5);
    pointer.lineTo(30, kPointerHeight + 1);
    pointer.closeSubpath();
    path = path.united(pointer);
    painter.setPen(QPen(QColor(90, 90, 90), 1));
    painter.setBrush(QColor(255, 255, 225));
    painter.drawPath(path);
}

}  // namespace torvane
