// The windows' pictures are vector drawings compiled into the program as Qt resources; this
// draws one at the size asked, so that every window gets sharp pictures at any scale.
#pragma once

#include <QPixmap>
#include <QSize>
#include <QString>

namespace gx {

// The drawing at `resource` (":/gardalix/…") on a transparent pixmap of `size`. A resource that
// does not exist gives a transparent pixmap. The caller has registered its resources.
QPixmap SvgPixmap(const QString& resource, QSize size);

}  // namespace gx
