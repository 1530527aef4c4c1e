#include "platform/picture/SvgPicture.h"

#include <QPainter>
#include <QSvgRenderer>

namespace gx {

QPixmap SvgPixmap(const QString& resource, QSize size) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(resource);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return pixmap;
}

}  // namespace gx
