// The notice that a downloaded update is about to be applied; "Fermer" closes it. Shown
// modally.
#pragma once

#include "update/GX_UpdateLook.h"

namespace gx {

class TMiseAjourDlg : public TUpdateDialog {
    Q_OBJECT
  public:
    TMiseAjourDlg();

    QString MessageText;

    QLabel* LMessage = nullptr;
    TURLLabel* URLLabel1 = nullptr;  // "Fermer"

  protected:
    void showEvent(QShowEvent* event) override;
};

}  // namespace gx
