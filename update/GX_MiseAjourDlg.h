// The notice that a downloaded update is about to be applied; "Fermer" closes it. Shown
// modally.
#pragma once

#include "update/UpdateLook.h"

namespace gx {

class TMiseAjourDlg : public UpdateDialog {
    Q_OBJECT
  public:
    TMiseAjourDlg();

    QString MessageText;

    QLabel* LMessage = nullptr;
    UrlLabel* URLLabel1 = nullptr;  // "Fermer"

  protected:
    void showEvent(QShowEvent* event) override;
};

}  // namespace gx
