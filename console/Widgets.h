// Small widgets of the console: clickable labels and pictures, and the window's title band.
#pragma once

#include <QLabel>
#include <QPoint>

namespace gx {

// A label (text or picture) that acts on a click, with the hand cursor.
class LinkLabel : public QLabel {
    Q_OBJECT
  public:
    explicit LinkLabel(QWidget* parent = nullptr);

  signals:
    void Clicked();

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// A label on which pressing any mouse button drags the whole window: the window system moves it
// when it can, and the label follows the mouse itself otherwise.
class DragLabel : public QLabel {
  public:
    explicit DragLabel(QWidget* parent = nullptr);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    bool dragging_ = false;
    QPoint grabOffset_;
};

}  // namespace gx
