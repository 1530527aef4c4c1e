#include "console/Artwork.h"

#include "platform/picture/SvgPicture.h"

// The resources live in a static library: they are registered by name, outside any namespace.
static void RegisterArtwork() {
    Q_INIT_RESOURCE(Artwork);
}

namespace gx {

QPixmap ArtworkPixmap(const char* name, QSize size) {
    static const bool registered = (RegisterArtwork(), true);
    (void)registered;
    return SvgPixmap(QStringLiteral(":/gardalix/") + QLatin1String(name), size);
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
