#include "report/GX_SignalerSiteMalveillantDlg.h"

namespace gx {

const ReportDialogTexts& TSignalerSiteMalveillantDlg::Table() {
    static const ReportDialogTexts texts{
        "SignalerSiteMalveillantDlg",
        "Signaler un site malveillant",
        "Signaler un site malveillant",
        "Vous avez trouvé un site web malveillant, une URL malveillante, une armaque ?",
        nullptr,
        64,
        "/gardalix/report_url.php?id=",
        "Signalement enregistré",
        "Votre signalement a bien été enregistré.\rVous allez recevoir un rapport par mail à "
        "l'adresse fournie.",
        "Signalement non enregistré",
        "Impossible de transmettre votre signalement.\rRenouvelez votre signalement "
        "ultérieurement.",
    };
    return texts;
}

TSignalerSiteMalveillantDlg::TSignalerSiteMalveillantDlg(QWidget* parent)
    : ReportDialog(Table(), parent) {}

}  // namespace gx
