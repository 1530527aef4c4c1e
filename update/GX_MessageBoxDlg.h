// A message box in the program's own look: a banner picture (dragging it moves the window), the
// message, a close picture and "Fermer". Shown modally; the caller sets the title and message.
#pragma once

#include "update/UpdateLook.h"

class QPushButton;

namespace gx {

class TGXMessageBoxDlg : public UpdateDialog {
    Q_OBJECT
  public:
    TGXMessageBoxDlg();

    QString TitleText;
    QString MessageText;

    QLabel* Image1 = nullptr;
    QLabel* LMessage = nullptr;
    QLabel* ImageReduitFenetre = nullptr;
    QPushButton* Button1 = nullptr;

  protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QPoint grabOffset_;
    bool dragging_ = false;
};

}  // namespace gx
