#include "report/ReportArtwork.h"

#include "platform/picture/SvgPicture.h"

// The resources live in a static library: they are registered by name, outside any namespace.
static void RegisterReportArtwork() {
    Q_INIT_RESOURCE(ReportArtwork);
}

namespace gx {

QPixmap ReportArtworkPixmap(const char* name, QSize size) {
    static const bool registered = (RegisterReportArtwork(), true);
    (void)registered;
    return SvgPixmap(QStringLiteral(":/gardalix/report/") + QLatin1String(name), size);
}

}  // namespace gx
