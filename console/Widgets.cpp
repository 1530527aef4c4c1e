#include "console/Widgets.h"

#include <QMouseEvent>
#include <QWindow>

namespace gx {

LinkLabel::LinkLabel(QWidget* parent) : QLabel(parent) {
    setCursor(Qt::PointingHandCursor);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        emit Clicked();
    }
}

DragLabel::DragLabel(QWidget* parent) : QLabel(parent) {}

void DragLabel::mousePressEvent(QMouseEvent* event) {
    QWidget* top = window();
    if (QWindow* handle = top->windowHandle(); handle != nullptr && handle->startSystemMove()) {
        return;
    }
    dragging_ = true;
    grabOffset_ = event->globalPosition().toPoint() - top->frameGeometry().topLeft();
}

void DragLabel::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_) {
        window()->move(event->globalPosition().toPoint() - grabOffset_);
    }
}

void DragLabel::mouseReleaseEvent(QMouseEvent* /*event*/) {
    dragging_ = false;
}

}  // namespace gx
