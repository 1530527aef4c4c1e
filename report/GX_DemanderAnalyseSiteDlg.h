// The request for an expert's opinion on a doubtful site: the report window with its own
// texts, sent to "/gardalix/request_analyze.php".
#pragma once

#include "report/GX_ReportDlg.h"

namespace gx {

class TDemanderAnalyseSiteDlg : public TReportDlg {
    Q_OBJECT
  public:
    explicit TDemanderAnalyseSiteDlg(QWidget* parent = nullptr);

    static const TReportDlgTexts& Table();
};

}  // namespace gx
