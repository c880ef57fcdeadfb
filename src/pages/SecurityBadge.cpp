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

QString notEncryptedText()
{
    return QStringLiteral("The connection is not encrypted: the server did not offer TLS, so the sign-in and the "
                          "data cross the network in the clear.");
}

void show(QLabel *label, const Connection &connection)
{
    const QString cipher = connection.tlsCipher();
    const bool encrypted = !cipher.isEmpty();
    const QString text = encrypted
        ? QStringLiteral("Encrypted connection (%1, %2)").arg(connection.tlsVersion(), cipher)
        : QStringLiteral("Connection not encrypted");
    // Of several servers, the one in use.
    const QString server = connection.serverInUse().isEmpty()
        ? QString()
        : QStringLiteral("Server: %1\n").arg(QString::fromUtf8(connection.serverInUse()));
    label->setToolTip(server + text);
    label->setAccessibleName(text);
    label->setStyleSheet(QString());
    if (encrypted || connection.isLocalSocket()) {
        label->setPixmap(lockIcon(encrypted).pixmap(16, 16));
        return;
    }
    // Not a grey glyph to be overlooked: words, in the colour of a warning.
    label->setText(QStringLiteral("Not encrypted"));
    label->setAccessibleName(label->text());
    label->setAccessibleDescription(notEncryptedText());
    label->setToolTip(server + notEncryptedText());
    label->setStyleSheet(QStringLiteral("QLabel { color: #8a1c1c; background: #fdecea; border: 1px solid #b71c1c; "
                                        "border-radius: 3px; padding: 1px 6px; font-weight: bold; }"));
}

} // namespace SecurityBadge
