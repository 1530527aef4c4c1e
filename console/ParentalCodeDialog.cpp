#include "console/ParentalCodeDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "console/ConsoleTexts.h"
#include "store/ParentalCode.h"

namespace gx {
namespace {

QString Tr(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// Longer than any code, so that a code too long is refused with a message rather than cut.
constexpr int kFieldMaxLength = 64;

QLineEdit* CodeField(const char* name, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QLatin1String(name));
    field->setEchoMode(QLineEdit::Password);
    field->setMaxLength(kFieldMaxLength);
    return field;
}

QLabel* MessageLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(QStringLiteral("LabelMessage"));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::red);
    label->setPalette(palette);
    label->setWordWrap(true);
    return label;
}

QDialogButtonBox* OkCancel(QDialog* dialog) {
    auto* buttons = new QDialogButtonBox(dialog);
    QPushButton* ok = buttons->addButton(Tr(text::kOk), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("OKButton"));
    ok->setDefault(true);
    QPushButton* cancel =
        buttons->addButton(Tr(text::kParentalCancel), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("CancelButton"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

void SetUpDialog(QDialog* dialog, const char* name) {
    dialog->setObjectName(QLatin1String(name));
    dialog->setWindowTitle(Tr(text::kParentalTitle));
    dialog->setModal(true);
    dialog->setMinimumWidth(340);
}

}  // namespace

AskParentalCodeDialog::AskParentalCodeDialog(QWidget* owner, CodeAttempts& attempts,
                                             std::function<bool(const QString&)> matches)
    : QDialog(owner), attempts_(attempts), matches_(std::move(matches)) {
    SetUpDialog(this, "AskParentalCodeDlg");
    auto* column = new QVBoxLayout(this);
    column->addWidget(new QLabel(Tr(text::kParentalAsk), this));
    EditCode = CodeField("EditCode", this);
    column->addWidget(EditCode);
    LabelMessage = MessageLabel(this);
    column->addWidget(LabelMessage);
    QDialogButtonBox* buttons = OkCancel(this);
    OKButton = buttons->findChild<QPushButton*>(QStringLiteral("OKButton"));
    column->addWidget(buttons);

    LockTimer = new QTimer(this);
    LockTimer->setInterval(1000);
    connect(LockTimer, &QTimer::timeout, this, &AskParentalCodeDialog::ShowLockOrOpen);
    ShowLockOrOpen();
}

void AskParentalCodeDialog::ShowLockOrOpen() {
    const int seconds = attempts_.SecondsLocked();
    const bool locked = seconds > 0;
    EditCode->setEnabled(!locked);
    OKButton->setEnabled(!locked);
    if (locked) {
        LabelMessage->setText(Tr(text::kParentalLockedLead) + QString::number(seconds) +
                              Tr(text::kParentalLockedTail));
        if (!LockTimer->isActive())
            LockTimer->start();
        return;
    }
    if (LockTimer->isActive()) {
        LockTimer->stop();
        LabelMessage->clear();
        EditCode->setFocus();
    }
}

void AskParentalCodeDialog::accept() {
    if (attempts_.SecondsLocked() > 0) {
        ShowLockOrOpen();
        return;
    }
    const QString code = EditCode->text();
    EditCode->clear();
    if (matches_(code)) {
        attempts_.RecordRight();
        QDialog::accept();
        return;
    }
    attempts_.RecordWrong();
    LabelMessage->setText(Tr(text::kParentalWrong));
    ShowLockOrOpen();
}

DefineParentalCodeDialog::DefineParentalCodeDialog(QWidget* owner) : QDialog(owner) {
    SetUpDialog(this, "DefineParentalCodeDlg");
    auto* column = new QVBoxLayout(this);
    column->addWidget(new QLabel(Tr(text::kParentalNew), this));
    EditNewCode = CodeField("EditNewCode", this);
    column->addWidget(EditNewCode);
    column->addWidget(new QLabel(Tr(text::kParentalConfirm), this));
    EditConfirmCode = CodeField("EditConfirmCode", this);
    column->addWidget(EditConfirmCode);
    LabelMessage = MessageLabel(this);
    column->addWidget(LabelMessage);
    column->addWidget(OkCancel(this));
}

QString DefineParentalCodeDialog::NewCode() const {
    return EditNewCode->text();
}

void DefineParentalCodeDialog::accept() {
    const QByteArray code = EditNewCode->text().toUtf8();
    const size_t length = ParentalCodeLength(std::string_view(code.constData(), code.size()));
    if (length < kParentalCodeMinLength || length > kParentalCodeMaxLength) {
        LabelMessage->setText(Tr(text::kParentalLength));
        return;
    }
    if (EditNewCode->text() != EditConfirmCode->text()) {
        LabelMessage->setText(Tr(text::kParentalMismatch));
        EditConfirmCode->clear();
        return;
    }
    QDialog::accept();
}

}  // namespace gx
