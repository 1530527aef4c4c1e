#include "update/GX_MiseAjourQuestionDlg.h"

#include "update/UpdateTexts.h"

namespace gx {

TMiseAjourQuestionDlg::TMiseAjourQuestionDlg()
    : UpdateDialog("MiseAjourQuestionDlg", QString::fromUtf8(text::kUpdateDialogCaption),
                   {284, 164}, true) {
    AddBanner({1, 1, 283, 28});
    AddLabel("Label1", QString::fromUtf8(text::kUpdateDialogTitle), {10, 4}, FuturaFont(12),
             0xFFFFFF);
    LMessage = AddLabel("LMessage", QString(), {8, 37}, ArialFont(11), 0x000000, {265, 84}, true);
    URLLabel1 = new UrlLabel(QString::fromUtf8(text::kYes), FuturaFont(12), this);
    URLLabel1->setObjectName(QStringLiteral("URLLabel1"));
    URLLabel1->move(114, 129);
    URLLabel2 = new UrlLabel(QString::fromUtf8(text::kNo), FuturaFont(12), this);
    URLLabel2->setObjectName(QStringLiteral("URLLabel2"));
    URLLabel2->move(159, 129);
    connect(URLLabel1, &UrlLabel::Clicked, this, [this] {
        Answer = 1;
        accept();
    });
    connect(URLLabel2, &UrlLabel::Clicked, this, [this] {
        Answer = 0;
        reject();
    });
    move(BottomRightPlace(size(), PrimaryScreenArea()));
}

void TMiseAjourQuestionDlg::showEvent(QShowEvent* event) {
    LMessage->setText(ShownText(MessageText));
    Answer = 0;
    UpdateDialog::showEvent(event);
}

}  // namespace gx
