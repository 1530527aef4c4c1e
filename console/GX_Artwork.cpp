#include "console/GX_Artwork.h"

#include <QPainter>
#include <QSvgRenderer>

// The resources live in a static library: register them once, outside any namespace.
static void RegisterArtwork() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(GX_Artwork);
        return true;
    }();
    (void)registered;
}

namespace gx {

QPixmap ArtworkPixmap(const char* name, QSize size) {
    RegisterArtwork();
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(QStringLiteral(":/gardalix/") + QLatin1String(name));
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return pixmap;
}

QIcon ArtworkIcon(const char* name) {
    QIcon icon;
    for (const int side : {16, 24, 32, 48, 64, 128}) {
        icon.addPixmap(ArtworkPixmap(name, QSize(side, side)));
    }
    return icon;
}

QIcon ProgramIcon() {
    return ArtworkIcon("gardalix.svg");
}

}  // namespace gx
