#include "widgets/CBalloonHelp.h"

#include <QApplication>
#include <QBitmap>
#include <QCursor>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

namespace torvane {
namespace {

constexpr int kPointerHeight = 12;
constexpr int kPointerBase = 14;
constexpr int kPointerInset = 20;  // pointer tip from the body's nearer side, where room allows
constexpr int kCornerRadius = 6;
constexpr int kMargin = 10;
constexpr int kIconPixels = 24;
const QColor kBackgroundColour(255, 255, 225);
const QColor kBorderColour(90, 90, 90);

QLabel* PlainLabel(const QString& text, const char* name) {
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

}  // namespace

CBalloonHelp::CBalloonHelp(const QString& title, const QString& text, const QIcon& icon,
                           QWidget* parent)
    : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint) {
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setObjectName("balloon");
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, Qt::black);
    setPalette(colours);

    auto* iconLabel = new QLabel;
    iconLabel->setObjectName("balloonIcon");
    iconLabel->setPixmap(icon.pixmap(kIconPixels, kIconPixels));
    auto* titleLabel = PlainLabel(title, "balloonTitle");
    QFont bold = titleLabel->font();
    bold.setBold(true);
    titleLabel->setFont(bold);

    auto* header = new QHBoxLayout;
    header->addWidget(iconLabel);
    header->addWidget(titleLabel, 1);
    layout_ = new QVBoxLayout(this);
    layout_->setSizeConstraint(QLayout::SetFixedSize);
    layout_->addLayout(header);
    layout_->addWidget(PlainLabel(text, "balloonText"));
    SetPointerSide(false);

    closeTimer_.setSingleShot(true);
    connect(&closeTimer_, &QTimer::timeout, this, &QWidget::close);
    mouseTimer_.setInterval(kMousePollMs);
    connect(&mouseTimer_, &QTimer::timeout, this, [this] { CloseIfMouseMovedAway(); });
}

CBalloonHelp* CBalloonHelp::LaunchBalloon(const QString& title, const QString& text,
                                          const QIcon& icon, const QPoint& anchor, int timeoutMs,
                                          QWidget* parent) {
    auto* balloon = new CBalloonHelp(title, text, icon, parent);
    balloon->ShowAt(anchor, timeoutMs);
    return balloon;
}

void CBalloonHelp::SetPointerSide(bool down) {
    pointsDown_ = down;
    // The pointer takes room above the body, or below it.
    layout_->setContentsMargins(kMargin, kMargin + (down ? 0 : kPointerHeight), kMargin,
                                kMargin + (down ? kPointerHeight : 0));
    layout_->activate();
    adjustSize();
}

void CBalloonHelp::ShowAt(const QPoint& anchor, int timeoutMs) {
    SetPointerSide(false);
    QPoint topLeft(anchor.x() - kPointerInset, anchor.y());
    QScreen* screen = QGuiApplication::screenAt(anchor);
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->availableGeometry();
        const int rightmost = std::max(area.left(), area.right() + 1 - width());
        topLeft.setX(std::clamp(topLeft.x(), area.left(), rightmost));
        if (anchor.y() + height() > area.bottom() + 1) {
            SetPointerSide(true);
            topLeft.setY(anchor.y() - height() + 1);
        }
    }
    pointerX_ = std::clamp(anchor.x() - topLeft.x(), 0, width() - 1);
    UpdateMask();
    move(topLeft);
    mouseAtOpen_ = QCursor::pos();
    qApp->installEventFilter(this);
    show();
    if (timeoutMs > 0) closeTimer_.start(timeoutMs);
    mouseTimer_.start();
}

QPoint CBalloonHelp::PointerTip() const {
    return {pointerX_, pointsDown_ ? height() - 1 : 0};
}

void CBalloonHelp::CloseIfMouseMovedAway() {
    if ((QCursor::pos() - mouseAtOpen_).manhattanLength() > kMouseMoveTolerance) close();
}

bool CBalloonHelp::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::NonClientAreaMouseButtonPress:
        case QEvent::NonClientAreaMouseButtonRelease:
            if (isVisible()) close();
            break;
        case QEvent::MouseMove:
            if (isVisible()) CloseIfMouseMovedAway();
            break;
        default:
            break;
    }
    return QWidget::eventFilter(watched, event);
}

QPainterPath CBalloonHelp::Outline() const {
    const qreal top = pointsDown_ ? 0.5 : kPointerHeight + 0.5;
    const qreal bottom = pointsDown_ ? height() - kPointerHeight - 0.5 : height() - 0.5;
    QPainterPath body;
    body.addRoundedRect(QRectF(0.5, top, width() - 1.0, bottom - top), kCornerRadius,
                        kCornerRadius);

    // The pointer's base lies on the body towards its middle, its tip on the anchor.
    const qreal tipX = pointerX_ + 0.5;
    const qreal baseFrom = pointerX_ < width() / 2 ? tipX : tipX - kPointerBase;
    const qreal baseY = pointsDown_ ? bottom - 1 : top + 1;
    const qreal tipY = pointsDown_ ? height() - 0.5 : 0.5;
    QPainterPath pointer;
    pointer.moveTo(baseFrom, baseY);
    pointer.lineTo(tipX, tipY);
    pointer.lineTo(baseFrom + kPointerBase, baseY);
    pointer.closeSubpath();
    return body.united(pointer);
}

void CBalloonHelp::UpdateMask() {
    // Desktops without a compositor cannot show a translucent window: the mask cuts the shape.
    QBitmap mask(size());
    mask.fill(Qt::color0);
    QPainter painter(&mask);
    painter.setPen(Qt::color1);
    painter.setBrush(Qt::color1);
    painter.drawPath(Outline());
    painter.end();
    setMask(mask);
}

void CBalloonHelp::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(kBorderColour, 1));
    painter.setBrush(kBackgroundColour);
    painter.drawPath(Outline());
}

}  // namespace torvane
