#include "update/UpdateDialogs.h"

#include <QMessageBox>
#include <atomic>
#include <cstdio>

#include "update/GX_MessageBoxDlg.h"
#include "update/GX_MiseAjourDlg.h"
#include "update/GX_MiseAjourQuestionDlg.h"
#include "update/GX_UpDateDlg.h"
#include "update/UpdateTexts.h"

namespace gx {

namespace {

std::atomic<bool> toStderr{false};

// One line: the title (when there is one), " : " and the message with its line ends as blanks.
void TellLine(const QString& title, const QString& message) {
    QString line = title.isEmpty() ? QString() : title + QStringLiteral(" : ");
    line += QString(message).replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    std::fprintf(stderr, "%s\n", line.toUtf8().constData());
    std::fflush(stderr);
}

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

}  // namespace

void TellUpdatesOnStderr(bool on) {
    toStderr = on;
}

bool UpdatesToldOnStderr() {
    return toStderr;
}

UpdateDialogs::UpdateDialogs(QWidget* owner)
    : owner_(owner),
      upDateDlg_(std::make_unique<TUpDateDlg>()),
      miseAjourQuestionDlg_(std::make_unique<TMiseAjourQuestionDlg>()),
      gxMessageBoxDlg_(std::make_unique<TGXMessageBoxDlg>()),
      miseAjourDlg_(std::make_unique<TMiseAjourDlg>()) {}

UpdateDialogs::~UpdateDialogs() = default;

void UpdateDialogs::ShowProgress(const QString& status, bool showBar) {
    if (toStderr) {
        TellLine(Utf8(text::kUpdateCaption), status);
        return;
    }
    upDateDlg_->show();
    upDateDlg_->SetStatus(status, showBar);
}

void UpdateDialogs::HideProgress() {
    upDateDlg_->hide();
}

bool UpdateDialogs::ProgressVisible() const {
    return upDateDlg_->isVisible();
}

void UpdateDialogs::SetProgress(int percent) {
    upDateDlg_->SetProgress(percent);
}

void UpdateDialogs::ShowStopBox(const QString& title, const QString& message) {
    if (toStderr) {
        TellLine(title, message);
        return;
    }
    QMessageBox box(QMessageBox::Critical, title, message, QMessageBox::Ok, owner_);
    box.exec();
}

bool UpdateDialogs::AskToDownload(const QString& message) {
    if (toStderr) {
        TellLine(Utf8(text::kUpdateDialogCaption),
                 message + QLatin1Char(' ') + Utf8(text::kAnsweredNo));
        return false;
    }
    miseAjourQuestionDlg_->MessageText = message;
    miseAjourQuestionDlg_->exec();
    return miseAjourQuestionDlg_->Answer == 1;
}

void UpdateDialogs::ShowMessageBox(const QString& title, const QString& message) {
    if (toStderr) {
        TellLine(title, message);
        return;
    }
    gxMessageBoxDlg_->TitleText = title;
    gxMessageBoxDlg_->MessageText = message;
    gxMessageBoxDlg_->exec();
}

void UpdateDialogs::ShowApplied(const QString& message) {
    if (toStderr) {
        TellLine(Utf8(text::kUpdateDialogCaption), message);
        return;
    }
    miseAjourDlg_->MessageText = message;
    miseAjourDlg_->exec();
}

}  // namespace gx
