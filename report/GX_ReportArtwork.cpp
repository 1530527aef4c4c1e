#include "report/GX_ReportArtwork.h"

#include <QPainter>
#include <QSvgRenderer>

// The resources live in a static library: register them once, outside any namespace.
static void RegisterReportArtwork() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(GX_ReportArtwork);
        return true;
    }();
    (void)registered;
}

namespace gx {

QPixmap ReportArtworkPixmap(const char* name, QSize size) {
    RegisterReportArtwork();
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(QStringLiteral(":/gardalix/report/") + QLatin1String(name));
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return pixmap;
}

}  // namespace gx
