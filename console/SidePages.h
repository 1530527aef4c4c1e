// A page control with its tabs down the left side: each tab is a 95 x 80 button holding a
// 64 x 48 glyph over its caption, where "||" in a caption starts a second line.
#pragma once

#include <QWidget>

class QButtonGroup;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;

namespace gx {

class SidePageControl : public QWidget {
    Q_OBJECT
  public:
    explicit SidePageControl(QWidget* parent = nullptr);

    // Appends a page with its tab; the page's object name names the tab button too
    // (page name + "Tab"). Returns the page's index.
    int AddPage(QWidget* page, const QString& caption, const QPixmap& glyph);

    int CurrentIndex() const;
    void SetCurrentIndex(int index);
    QWidget* Page(int index) const;
    QToolButton* TabButton(int index) const;
    int Count() const;

    // "Protection||Enfants" -> "Protection\nEnfants".
    static QString TabCaptionText(const QString& caption);

  signals:
    void CurrentChanged(int index);

  private:
    QVBoxLayout* tabs_;
    QButtonGroup* group_;
    QStackedWidget* pages_;
};

}  // namespace gx
