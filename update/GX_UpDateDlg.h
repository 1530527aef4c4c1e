// The progress window of the update client: a status text and, while a download runs, a bar
// from 0 to 100 %. Shown without modality and hidden by its caller.
#pragma once

#include "update/UpdateLook.h"

class QProgressBar;

namespace gx {

class TUpDateDlg : public UpdateDialog {
    Q_OBJECT
  public:
    TUpDateDlg();

    // Shows the text and shows or hides the bar, and has both on screen before returning (the
    // caller goes on with blocking work).
    void SetStatus(const QString& text, bool showBar);
    // The bar keeps within 0..100: 150 shows 100 %.
    void SetProgress(int n);

    QLabel* THELabel = nullptr;
    QProgressBar* ProgressBar = nullptr;
};

}  // namespace gx
