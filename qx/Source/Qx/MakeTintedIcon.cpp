#include "Qx/MakeTintedIcon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace _QX {

QIcon* MakeTintedIcon(const QString& svgPath, const QColor& colour, const QSize& size) {
    QPixmap shape(size);
    shape.fill(Qt::transparent);
    {
        QSvgRenderer renderer(svgPath);
        QPainter painter(&shape);
        renderer.render(&painter, QRectF(shape.rect()));
    }

    QPixmap result(size);
    result.fill(Qt::transparent);
    QPainter painter(&result);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(result.rect(), colour);
    painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    painter.drawPixmap(0, 0, shape);
    painter.end();
    return new QIcon(result);
}

}  // namespace _QX
