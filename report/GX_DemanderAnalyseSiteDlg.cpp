#include "report/GX_DemanderAnalyseSiteDlg.h"

namespace gx {

const ReportDialogTexts& TDemanderAnalyseSiteDlg::Table() {
    static const ReportDialogTexts texts{
        "DemanderAnalyseSiteDlg",
        "Demander l'analyse d'un site",
        "Demander l'analyse d'un site par un expert",
        "Vous avez un doute sur un site web, une url, une publicité, un message ?",
        "Demandez l'avis d'un expert avant de faire quoi que ce soit.",
        63,
        "/gardalix/request_analyze.php?id=",
        "Demande d'analyse enregistrée",
        "Votre demande d'analyse a bien été enregistrée.\rVous allez recevoir un rapport par "
        "mail à l'adresse fournie.",
        "Demande d'analyse non enregistrée",
        "Impossible de transmettre votre demande d'analyse.\rRenouvelez votre demande "
        "ultérieurement.",
    };
    return texts;
}

TDemanderAnalyseSiteDlg::TDemanderAnalyseSiteDlg(QWidget* parent) : ReportDialog(Table(), parent) {}

}  // namespace gx
