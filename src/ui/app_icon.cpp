#include "ui/app_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace ipcountry::ui {

namespace {

QPixmap drawGlobe(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal margin = size / 16.0;
    const QRectF ball(margin, margin, size - 2 * margin, size - 2 * margin);

    // Sea, in the few plain colours an old 16-colour icon would have.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 160));
    p.drawEllipse(ball);

    // Two rough continents, clipped to the ball.
    QPainterPath clip;
    clip.addEllipse(ball);
    p.setClipPath(clip);
    p.setBrush(QColor(0, 160, 0));
    const qreal s = size / 32.0;
    QPainterPath land;
    land.moveTo(6 * s, 8 * s);
    land.cubicTo(11 * s, 4 * s, 16 * s, 7 * s, 14 * s, 12 * s);
    land.cubicTo(12 * s, 16 * s, 15 * s, 20 * s, 12 * s, 25 * s);
    land.cubicTo(8 * s, 22 * s, 5 * s, 16 * s, 6 * s, 8 * s);
    land.moveTo(19 * s, 6 * s);
    land.cubicTo(25 * s, 6 * s, 29 * s, 12 * s, 27 * s, 17 * s);
    land.cubicTo(24 * s, 19 * s, 22 * s, 24 * s, 20 * s, 27 * s);
    land.cubicTo(17 * s, 21 * s, 21 * s, 15 * s, 19 * s, 6 * s);
    p.drawPath(land);
    p.setClipping(false);

    // Meridians and parallels.
    QPen grid(QColor(192, 192, 192), qMax(1.0, size / 32.0));
    p.setPen(grid);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(ball.adjusted(ball.width() * 0.3, 0, -ball.width() * 0.3, 0));
    p.drawLine(QPointF(ball.center().x(), ball.top()), QPointF(ball.center().x(), ball.bottom()));
    p.drawLine(QPointF(ball.left(), ball.center().y()), QPointF(ball.right(), ball.center().y()));
    const qreal dy = ball.height() * 0.25;
    const qreal dx = ball.width() * 0.07;
    p.drawLine(QPointF(ball.left() + dx, ball.center().y() - dy),
               QPointF(ball.right() - dx, ball.center().y() - dy));
    p.drawLine(QPointF(ball.left() + dx, ball.center().y() + dy),
               QPointF(ball.right() - dx, ball.center().y() + dy));

    p.setPen(QPen(Qt::black, qMax(1.0, size / 32.0)));
    p.drawEllipse(ball);
    return pixmap;
}

}  // namespace

QIcon appIcon() {
    QIcon icon;
    icon.addPixmap(drawGlobe(16));
    icon.addPixmap(drawGlobe(32));
    return icon;
}

}  // namespace ipcountry::ui
