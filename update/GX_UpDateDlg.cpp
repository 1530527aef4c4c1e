#include "update/GX_UpDateDlg.h"

#include <QApplication>
#include <QIcon>
#include <QProgressBar>
#include <QStyle>
#include <algorithm>

#include "update/UpdateTexts.h"

namespace gx {

namespace {
constexpr QSize kClientSize{465, 199};
}

TUpDateDlg::TUpDateDlg()
    : UpdateDialog("UpDateDlg", QString::fromUtf8(text::kUpdateCaption), kClientSize, true) {
    AddBanner({0, 0, 465, 52});
    AddLabel("TitreMiseAjour", QString::fromUtf8(text::kUpdateCaption), {16, 13}, FuturaFont(19),
             0xFFFFFF);
    auto* symbol = new QLabel(this);
    symbol->setObjectName(QStringLiteral("Image1"));
    symbol->setGeometry(29, 80, 48, 48);
    symbol->setPixmap(QIcon::fromTheme(QStringLiteral("system-software-update"),
                                       style()->standardIcon(QStyle::SP_BrowserReload))
                          .pixmap(48, 48));
    THELabel =
        AddLabel("THELabel", QString(), {93, 96}, FuturaFont(12), 0x000000, {465 - 93 - 8, 20});
    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setGeometry(28, 137, 408, 17);
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setFormat(QStringLiteral("%p%"));
    ProgressBar->setTextVisible(true);
    move(CentredPlace(size(), PrimaryScreenArea()));
}

void TUpDateDlg::SetStatus(const QString& text, bool showBar) {
    THELabel->setText(text);
    THELabel->repaint();
    ProgressBar->setVisible(showBar);
    ProgressBar->repaint();
    QApplication::processEvents();
}

void TUpDateDlg::SetProgress(int n) {
    ProgressBar->setValue(std::clamp(n, 0, 100));
}

}  // namespace gx
