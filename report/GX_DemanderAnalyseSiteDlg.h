// The request for an expert's opinion on a doubtful site: the report window with its own
// texts, sent to "/gardalix/request_analyze.php".
#pragma once

#include "report/ReportDialog.h"

namespace gx {

class TDemanderAnalyseSiteDlg : public ReportDialog {
    Q_OBJECT
  public:
    explicit TDemanderAnalyseSiteDlg(QWidget* parent = nullptr);

    static const ReportDialogTexts& Table();
};

}  // namespace gx
