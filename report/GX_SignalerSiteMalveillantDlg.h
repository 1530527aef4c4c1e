// The report of a malicious site or a scam: the report window with its own texts, sent to
// "/gardalix/report_url.php".
#pragma once

#include "report/ReportDialog.h"

namespace gx {

class TSignalerSiteMalveillantDlg : public ReportDialog {
    Q_OBJECT
  public:
    explicit TSignalerSiteMalveillantDlg(QWidget* parent = nullptr);

    static const ReportDialogTexts& Table();
};

}  // namespace gx
