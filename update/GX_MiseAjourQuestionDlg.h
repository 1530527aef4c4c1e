// The question that offers a published update: "Oui" or "Non". Shown modally; the caller reads
// Answer right after (1 for "Oui", 0 for "Non" and for any other way of closing it).
#pragma once

#include "update/UpdateLook.h"

namespace gx {

class TMiseAjourQuestionDlg : public UpdateDialog {
    Q_OBJECT
  public:
    TMiseAjourQuestionDlg();

    QString MessageText;
    int Answer = 0;

    QLabel* LMessage = nullptr;
    UrlLabel* URLLabel1 = nullptr;  // "Oui"
    UrlLabel* URLLabel2 = nullptr;  // "Non"

  protected:
    void showEvent(QShowEvent* event) override;
};

}  // namespace gx
