#include "console/GX_Widgets.h"

#include <QMouseEvent>
#include <QWindow>

namespace gx {

TLinkLabel::TLinkLabel(QWidget* parent) : QLabel(parent) {
    setCursor(Qt::PointingHandCursor);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        emit Clicked();
    }
}

TDragLabel::TDragLabel(QWidget* parent) : QLabel(parent) {}

void TDragLabel::mousePressEvent(QMouseEvent* event) {
    QWidget* top = window();
    if (QWindow* handle = top->windowHandle(); handle != nullptr && handle->startSystemMove()) {
        return;
    }
    dragging_ = true;
    grabOffset_ = event->globalPosition().toPoint() - top->frameGeometry().topLeft();
}

void TDragLabel::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_) {
        window()->move(event->globalPosition().toPoint() - grabOffset_);
    }
}

void TDragLabel::mouseReleaseEvent(QMouseEvent* /*event*/) {
    dragging_ = false;
}

}  // namespace gx
