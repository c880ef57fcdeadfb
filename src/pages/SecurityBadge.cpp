#include "pages/SecurityBadge.h"

#include "db/Connection.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>


namespace SecurityBadge {

QIcon lockIcon(bool closed)
{
    // Drawn rather than loaded: the icon themes of a bare desktop lack one.
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor colour = closed ? QColor(0x2e, 0x7d, 0x32) : QColor(0x8a, 0x8a, 0x8a);
    p.setPen(QPen(colour, 2));
    QPainterPath shackle;
    shackle.moveTo(4.5, 8);
    shackle.lineTo(4.5, 5);
    shackle.arcTo(4.5, 1, 7, 7, 180, -180);
    if (closed)
        shackle.lineTo(11.5, 8);
    else
        shackle.lineTo(11.5, 4.5);
    p.drawPath(shackle);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawRoundedRect(QRectF(2, 7.5, 12, 8), 1.5, 1.5);
    return QIcon(pixmap);
}

void show(QLabel *label, const Connection &connection)
{
    const QString cipher = connection.tlsCipher();
    const bool encrypted = !cipher.isEmpty();
    label->setPixmap(lockIcon(encrypted).pixmap(16, 16));
    const QString text = encrypted
        ? QStringLiteral("Encrypted connection (%1, %2)").arg(connection.tlsVersion(), cipher)
        : QStringLiteral("Connection not encrypted");
    label->setToolTip(text);
    label->setAccessibleName(text);
}

} // namespace SecurityBadge
