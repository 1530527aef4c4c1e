#include "report/ReportDialog.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTextBlock>
#include <QTextLayout>
#include <QWindow>

#include "http/HttpProt.h"
#include "platform/codepage/Cp1252.h"
#include "report/ReportArtwork.h"
#include "report/ReportServer.h"
#include "report/ReportTexts.h"

namespace gx {

namespace {

constexpr int kWidth = 479;
constexpr int kHeight = 415;
constexpr int kCloseLeft = 445;  // the close picture's left edge
const QColor kTitleColour(66, 192, 251);
const QColor kOutlineColour(0x8a, 0x99, 0xa8);

QString Tr(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// The text as the server reads it: Windows-1252, a character outside it as "?".
std::string Cp1252Text(const QString& text) {
    return Cp1252(text.toUtf8().toStdString());
}

// A message's "\r" breaks its line; the box breaks lines at "\n".
QString MessageText(const char* utf8) {
    return Tr(utf8).replace(QLatin1Char('\r'), QLatin1Char('\n'));
}

QFont UiFont(const char* family, int pixels, bool bold = false) {
    QFont font{QString::fromLatin1(family)};
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

// The header's texts are placed for the program's own font; where the desktop's font is wider,
// a text that would run under the close picture or off the window is drawn smaller instead.
void FitToWidth(QLabel* label, int maxWidth) {
    constexpr int kSmallestPixels = 9;
    QFont font = label->font();
    while (label->sizeHint().width() > maxWidth && font.pixelSize() > kSmallestPixels) {
        font.setPixelSize(font.pixelSize() - 1);
        label->setFont(font);
    }
    label->adjustSize();
}

void SetTextColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

}  // namespace

ReportDialog::ReportDialog(const ReportDialogTexts& texts, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      ServerBase(ReportServerBase),
      CustomerCode(ReportCustomerCode),
      texts_(texts),
      HTTP(std::make_unique<THttpCli>("HTTP")) {
    setObjectName(QLatin1String(texts_.objectName));
    BuildWindow();
    FormCreate();
}

ReportDialog::~ReportDialog() = default;

QLabel* ReportDialog::AddLabel(const char* name, const char* text, int left, int top) {
    auto* label = new QLabel(Tr(text), this);
    label->setObjectName(QLatin1String(name));
    label->move(left, top);
    label->adjustSize();
    return label;
}

// An introduction line, white over the header picture.
void ReportDialog::AddIntro(const char* name, const char* text, int top) {
    QLabel* intro = AddLabel(name, text, 24, top);
    SetTextColour(intro, Qt::white);
    FitToWidth(intro, kWidth - 24 - 8);
}

void ReportDialog::BuildWindow() {
    setWindowTitle(Tr(texts_.caption));
    setFixedSize(kWidth, kHeight);
    setFont(UiFont("Segoe UI", 12));
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);

    auto* Shape1 = new QFrame(this);
    Shape1->setObjectName(QStringLiteral("Shape1"));
    Shape1->setFrameStyle(QFrame::Box | QFrame::Plain);
    Shape1->setLineWidth(1);
    SetTextColour(Shape1, kOutlineColour);
    Shape1->setGeometry(0, 0, kWidth, kHeight);
    Shape1->setAttribute(Qt::WA_TransparentForMouseEvents);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(1, 1, 477, 110);
    Image1->setPixmap(ReportArtworkPixmap("report_header.svg", QSize(477, 110)));
    Image1->installEventFilter(this);

    Label4 = AddLabel("Label4", texts_.title, 53, 9);
    Label4->setFont(UiFont("Segoe UI Semibold", 16, true));
    FitToWidth(Label4, kCloseLeft - 53 - 4);
    SetTextColour(Label4, kTitleColour);
    Label4->installEventFilter(this);

    ImageReduitFenetre = new QLabel(this);
    ImageReduitFenetre->setObjectName(QStringLiteral("ImageReduitFenetre"));
    ImageReduitFenetre->setGeometry(kCloseLeft, 9, 24, 24);
    ImageReduitFenetre->setPixmap(ReportArtworkPixmap("report_close.svg", QSize(24, 24)));
    ImageReduitFenetre->setCursor(Qt::PointingHandCursor);
    ImageReduitFenetre->installEventFilter(this);

    AddIntro("Label5", texts_.intro, texts_.introTop);
    if (texts_.secondIntro != nullptr) {
        AddIntro("Label6", texts_.secondIntro, 80);
    }

    AddLabel("Label1", text::kAddressLabel, 24, 136);
    URL = new QLineEdit(this);
    URL->setObjectName(QStringLiteral("URL"));
    URL->setGeometry(24, 154, 310, 23);

    AddLabel("Label2", text::kExplanationLabel, 24, 192);
    Description = new QPlainTextEdit(this);
    Description->setObjectName(QStringLiteral("Description"));
    Description->setGeometry(24, 208, 310, 89);
    Description->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Description->setTabChangesFocus(true);  // Tab goes on to the e-mail address

    AddLabel("Label3", text::kEmailLabel, 23, 311);
    Email = new QLineEdit(this);
    Email->setObjectName(QStringLiteral("Email"));
    Email->setGeometry(24, 328, 310, 23);

    Button1 = new QPushButton(Tr(text::kOk), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(143, 375, 81, 25);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &ReportDialog::Button1Click);

    Button2 = new QPushButton(Tr(text::kCancel), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(255, 375, 81, 25);
    connect(Button2, &QPushButton::clicked, this, &ReportDialog::Button2Click);

    setTabOrder(URL, Description);
    setTabOrder(Description, Email);
    setTabOrder(Email, Button1);
    setTabOrder(Button1, Button2);
}

void ReportDialog::FormCreate() {
    URL->clear();
    Description->clear();
    Email->clear();
    URL->setFocus();
}

void ReportDialog::showEvent(QShowEvent* event) {
    // Centred on the screen at every opening, as a window without a caption has no place of
    // its own to come back to.
    if (QScreen* display = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(display->availableGeometry().center());
        move(frame.topLeft());
    }
    QDialog::showEvent(event);
}

// ---- Moving and closing the window ----

bool ReportDialog::eventFilter(QObject* watched, QEvent* event) {
    const bool dragArea = watched == Image1 || watched == Label4;
    auto* mouse = dynamic_cast<QMouseEvent*>(event);  // most events the filter sees are not
    if (mouse == nullptr) {
        return QDialog::eventFilter(watched, event);
    }
    switch (event->type()) {
        case QEvent::MouseButtonPress:
            if (dragArea) {
                Image1MouseDown(mouse->globalPosition().toPoint());
                return true;
            }
            break;
        case QEvent::MouseMove:
            if (dragArea && dragging_) {
                move(mouse->globalPosition().toPoint() - grabOffset_);
                return true;
            }
            break;
        case QEvent::MouseButtonRelease:
            dragging_ = false;
            if (watched == ImageReduitFenetre && mouse->button() == Qt::LeftButton &&
                ImageReduitFenetre->rect().contains(mouse->position().toPoint())) {
                ImageReduitFenetreClick();
                return true;
            }
            break;
        default:
            break;
    }
    return QDialog::eventFilter(watched, event);
}

// Any mouse button on the header drags the window: the window system moves it when it can, and
// the window follows the mouse itself otherwise.
void ReportDialog::Image1MouseDown(const QPoint& globalPosition) {
    if (QWindow* handle = windowHandle(); handle != nullptr && handle->startSystemMove()) {
        return;
    }
    dragging_ = true;
    grabOffset_ = globalPosition - frameGeometry().topLeft();
}

void ReportDialog::Button2Click() {
    reject();
}

void ReportDialog::ImageReduitFenetreClick() {
    reject();
}

// ---- Sending ----

QStringList ReportDialog::DescriptionRows() const {
    QStringList rows;
    QTextDocument* document = Description->document();
    auto* layout = qobject_cast<QPlainTextDocumentLayout*>(document->documentLayout());
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        if (layout != nullptr) {
            layout->ensureBlockLayout(block);
        }
        const QString paragraph = block.text();
        const QTextLayout* lines = block.layout();
        if (lines == nullptr || lines->lineCount() == 0) {
            rows << paragraph;
            continue;
        }
        for (int i = 0; i < lines->lineCount(); ++i) {
            const QTextLine line = lines->lineAt(i);
            rows << paragraph.mid(line.textStart(), line.textLength());
        }
    }
    if (!rows.isEmpty() && rows.back().isEmpty()) {
        rows.removeLast();  // the row after a final line break holds nothing
    }
    return rows;
}

ReportValues ReportDialog::FieldValues() const {
    ReportValues values;
    values.customerCode = CustomerCode();
    values.url = Cp1252Text(URL->text());
    values.description = Cp1252Text(DescriptionRows().join(QStringLiteral("<br>")));
    values.email = Cp1252Text(Email->text());
    return values;
}

void ReportDialog::Button1Click() {
    if (sending_) {
        return;  // one sending at a time: a second OK would find the client busy
    }
    sending_ = true;
    Button1->setEnabled(false);
    const std::string address = ReportAddress(ServerBase(), texts_.path, FieldValues());
    const bool sent = SendReport(*HTTP, address, Pause).sent;
    hide();
    ShowOutcome(sent);
    Button1->setEnabled(true);
    sending_ = false;
    done(sent ? QDialog::Accepted : QDialog::Rejected);
}

void ReportDialog::ShowOutcome(bool sent) {
    QMessageBox box(sent ? QMessageBox::Information : QMessageBox::Critical,
                    Tr(sent ? texts_.successCaption : texts_.failureCaption),
                    MessageText(sent ? texts_.successText : texts_.failureText), QMessageBox::Ok,
                    this);
    box.exec();
}

}  // namespace gx
