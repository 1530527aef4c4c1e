#include "update/GX_MessageBoxDlg.h"

#include <QMouseEvent>
#include <QPushButton>
#include <QWindow>

#include "update/UpdateTexts.h"

namespace gx {

TGXMessageBoxDlg::TGXMessageBoxDlg()
    : UpdateDialog("GXMessageBoxDlg", QString::fromUtf8(text::kMessageBoxCaption), {479, 355},
                   false) {
    Image1 = new QLabel(QStringLiteral("Gardalix"), this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(1, 1, 477, 110);
    Image1->setFont(FuturaFont(32));
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setStyleSheet(
        QStringLiteral("color: white; background: qlineargradient(x1:0, y1:0, x2:1, y2:1, "
                       "stop:0 %1, stop:1 #1B7FB8);")
            .arg(QColor(kBannerColour).name()));
    Image1->installEventFilter(this);
    LMessage =
        AddLabel("LMessage", QString(), {21, 125}, SegoeFont(12), 0x000000, {419, 141}, true);
    ImageReduitFenetre = new QLabel(QStringLiteral("\u2715"), this);
    ImageReduitFenetre->setObjectName(QStringLiteral("ImageReduitFenetre"));
    ImageReduitFenetre->setGeometry(445, 9, 24, 24);
    ImageReduitFenetre->setAlignment(Qt::AlignCenter);
    ImageReduitFenetre->setFont(SegoeFont(16));
    ImageReduitFenetre->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    ImageReduitFenetre->setCursor(Qt::PointingHandCursor);
    ImageReduitFenetre->installEventFilter(this);
    Button1 = new QPushButton(QString::fromUtf8(text::kCloseButton), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(202, 309, 75, 25);
    Button1->setCursor(Qt::PointingHandCursor);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    move(CentredPlace(size(), PrimaryScreenArea()));
}

void TGXMessageBoxDlg::showEvent(QShowEvent* event) {
    LMessage->setText(ShownText(MessageText));
    setWindowTitle(TitleText);
    UpdateDialog::showEvent(event);
}

bool TGXMessageBoxDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ImageReduitFenetre && event->type() == QEvent::MouseButtonRelease) {
        accept();
        return true;
    }
    if (watched != Image1) {
        return UpdateDialog::eventFilter(watched, event);
    }
    // The banner moves the window as a title bar would: the window system moves it when it
    // can, otherwise the window follows the mouse itself.
    auto* mouse = dynamic_cast<QMouseEvent*>(event);  // most events the filter sees are not
    if (mouse == nullptr) {
        return UpdateDialog::eventFilter(watched, event);
    }
    switch (event->type()) {
        case QEvent::MouseButtonPress:
            if (windowHandle() == nullptr || !windowHandle()->startSystemMove()) {
                dragging_ = true;
                grabOffset_ = mouse->globalPosition().toPoint() - frameGeometry().topLeft();
            }
            return true;
        case QEvent::MouseMove:
            if (dragging_) {
                move(mouse->globalPosition().toPoint() - grabOffset_);
            }
            return true;
        case QEvent::MouseButtonRelease:
            dragging_ = false;
            return true;
        default:
            return UpdateDialog::eventFilter(watched, event);
    }
}

}  // namespace gx
