#include "update/GX_MiseAjourDlg.h"

#include "update/UpdateTexts.h"

namespace gx {

TMiseAjourDlg::TMiseAjourDlg()
    : UpdateDialog("MiseAjourDlg", QString::fromUtf8(text::kUpdateDialogCaption), {286, 167},
                   true) {
    AddBanner({1, 1, 285, 28});
    AddLabel("Label1", QString::fromUtf8(text::kUpdateDialogTitle), {6, 5}, FuturaFont(12),
             0xFFFFFF);
    LMessage = AddLabel("LMessage", QString(), {11, 41}, ArialFont(11), 0x000000, {260, 88}, true);
    URLLabel1 = new UrlLabel(QString::fromUtf8(text::kClose), SegoeFont(11), this);
    URLLabel1->setObjectName(QStringLiteral("URLLabel1"));
    URLLabel1->move(127, 138);
    connect(URLLabel1, &UrlLabel::Clicked, this, &QDialog::accept);
    move(BottomRightPlace(size(), PrimaryScreenArea()));
}

void TMiseAjourDlg::showEvent(QShowEvent* event) {
    LMessage->setText(ShownText(MessageText));
    UpdateDialog::showEvent(event);
}

}  // namespace gx
