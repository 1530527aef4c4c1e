#include "update/UpdateLook.h"

#include <QEnterEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>

namespace gx {

namespace {

QFont FontFrom(const QStringList& families, int pixelSize) {
    QFont font;
    font.setFamilies(families);
    font.setPixelSize(pixelSize);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QString Colour(QRgb colour) {
    return QColor(colour).name();
}

}  // namespace

QFont FuturaFont(int pixelSize) {
    return FontFrom({QStringLiteral("Futura Md BT"), QStringLiteral("Futura"),
                     QStringLiteral("URW Gothic"), QStringLiteral("DejaVu Sans")},
                    pixelSize);
}

QFont ArialFont(int pixelSize) {
    return FontFrom(
        {QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")},
        pixelSize);
}

QFont SegoeFont(int pixelSize) {
    return FontFrom(
        {QStringLiteral("Segoe UI"), QStringLiteral("Noto Sans"), QStringLiteral("DejaVu Sans")},
        pixelSize);
}

QString ShownText(const QString& message) {
    QString shown = message;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

QPoint BottomRightPlace(const QSize& window, const QRect& screen) {
    return {screen.width() - window.width() - 1, screen.height() - window.height() - 40};
}

QPoint CentredPlace(const QSize& window, const QRect& screen) {
    return {screen.x() + (screen.width() - window.width()) / 2,
            screen.y() + (screen.height() - window.height()) / 2};
}

QRect PrimaryScreenArea() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->geometry() : QRect();
}

UpdateDialog::UpdateDialog(const char* objectName, const QString& caption, QSize clientSize,
                           bool filledFrame)
    : QDialog(nullptr, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QLatin1String(objectName));
    setWindowTitle(caption);
    setFixedSize(clientSize);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::white);
    setPalette(palette);
    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("Shape1"));
    frame->setGeometry(rect());
    frame->setStyleSheet(filledFrame ? QStringLiteral("background: white; border: 1px solid black;")
                                     : QStringLiteral("border: 1px solid black;"));
}

QFrame* UpdateDialog::AddBanner(const QRect& place) {
    auto* banner = new QFrame(this);
    banner->setObjectName(QStringLiteral("Shape2"));
    banner->setGeometry(place);
    banner->setStyleSheet(
        QStringLiteral("background: %1; border: none;").arg(Colour(kBannerColour)));
    return banner;
}

QLabel* UpdateDialog::AddLabel(const char* name, const QString& text, QPoint topLeft,
                               const QFont& font, QRgb colour, QSize size, bool wrapped) {
    auto* label = new QLabel(text, this);
    label->setObjectName(QLatin1String(name));
    label->setFont(font);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->setStyleSheet(QStringLiteral("color: %1; background: transparent;").arg(Colour(colour)));
    label->setWordWrap(wrapped);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->move(topLeft);
    if (size.isEmpty()) {
        label->adjustSize();
    } else {
        label->setFixedSize(size);
    }
    return label;
}

UrlLabel::UrlLabel(const QString& text, const QFont& font, QWidget* parent) : QLabel(text, parent) {
    QFont underlined = font;
    underlined.setUnderline(true);
    setFont(underlined);
    setAttribute(Qt::WA_Hover);
    SetColour(kLinkColour);
    adjustSize();
}

void UrlLabel::SetColour(QRgb colour) {
    setStyleSheet(QStringLiteral("color: %1; background: transparent;").arg(Colour(colour)));
}

void UrlLabel::enterEvent(QEnterEvent* event) {
    SetColour(kLinkHoverColour);
    setCursor(Qt::PointingHandCursor);
    QLabel::enterEvent(event);
}

void UrlLabel::leaveEvent(QEvent* event) {
    SetColour(kLinkColour);
    unsetCursor();
    QLabel::leaveEvent(event);
}

void UrlLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        emit Clicked();
        return;
    }
    QLabel::mouseReleaseEvent(event);
}

}  // namespace gx
