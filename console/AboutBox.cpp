#include "console/AboutBox.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include "console/Artwork.h"
#include "console/ConsoleTexts.h"
#include "console/Widgets.h"
#include "host/FmxUtils.h"
#include "lists/ProductSite.h"

namespace gx {

std::string ProductPageAddress() {
    return std::string("https://") + kProductSiteHost + "/fr/gardalix.htm";
}

TAboutBox::TAboutBox(QWidget* owner, std::function<void(int)> onHelp)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                         Qt::WindowTitleHint),
      onHelp_(std::move(onHelp)) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QString::fromUtf8(text::kAboutTitle));
    setFixedSize(518, 348);

    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("ProgramIcon"));
    picture->setPixmap(ArtworkPixmap("about_banner.svg", QSize(500, 260)));
    picture->setGeometry(9, 9, 500, 260);

    auto* link = new LinkLabel(this);
    link->setObjectName(QStringLiteral("LabelSiteWeb"));
    link->setText(QString::fromLatin1(kProductSiteHost));
    QFont font = link->font();
    font.setBold(true);
    font.setUnderline(true);
    link->setFont(font);
    QPalette palette = link->palette();
    palette.setColor(QPalette::WindowText, QColor(0x15, 0x65, 0xc0));
    link->setPalette(palette);
    link->setGeometry(12, 278, 300, 22);
    connect(link, &LinkLabel::Clicked, this, [] { ShellOpen(ProductPageAddress()); });

    auto* version = new QLabel(QString::fromUtf8(text::kVersion), this);
    version->setObjectName(QStringLiteral("VersionNum"));
    version->setGeometry(12, 306, 300, 22);

    auto* ok = new QPushButton(QString::fromUtf8(text::kOk), this);
    ok->setObjectName(QStringLiteral("OKButton"));
    ok->setDefault(true);
    ok->setGeometry(418, 306, 88, 30);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

void TAboutBox::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1) {
        if (onHelp_) {
            onHelp_(kHelpContext);
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace gx
