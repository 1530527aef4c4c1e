// How the update client talks to the user: the four update dialogs, created once in their
// order and reused, and the standard error boxes. Without a display nobody can see or answer a
// window: every step is then written on stderr in French, one line per step, and the offer of
// an update counts as declined.
#pragma once

#include <QString>
#include <memory>

class QWidget;

namespace gx {

class TUpDateDlg;
class TMiseAjourQuestionDlg;
class TGXMessageBoxDlg;
class TMiseAjourDlg;

// Whether the update client writes on stderr instead of showing its windows.
void TellUpdatesOnStderr(bool on);
bool UpdatesToldOnStderr();

class UpdateDialogs {
  public:
    // Creates UpDateDlg, MiseAjourQuestionDlg, GXMessageBoxDlg and MiseAjourDlg, in this order,
    // hidden. `owner` parents the error boxes.
    explicit UpdateDialogs(QWidget* owner);
    ~UpdateDialogs();
    UpdateDialogs(const UpdateDialogs&) = delete;
    UpdateDialogs& operator=(const UpdateDialogs&) = delete;

    // The progress window: shown with the status, or hidden.
    void ShowProgress(const QString& status, bool showBar);
    void HideProgress();
    bool ProgressVisible() const;
    void SetProgress(int percent);

    // A standard error box: stop icon, one OK button.
    void ShowStopBox(const QString& title, const QString& message);
    // The offer of an update; true when the user chose "Oui".
    bool AskToDownload(const QString& message);
    // The program's own message box.
    void ShowMessageBox(const QString& title, const QString& message);
    // The notice that the update is about to be applied.
    void ShowApplied(const QString& message);

    TUpDateDlg& UpDateDlg() { return *upDateDlg_; }
    TMiseAjourQuestionDlg& MiseAjourQuestionDlg() { return *miseAjourQuestionDlg_; }
    TGXMessageBoxDlg& GXMessageBoxDlg() { return *gxMessageBoxDlg_; }
    TMiseAjourDlg& MiseAjourDlg() { return *miseAjourDlg_; }

  private:
    QWidget* owner_;
    std::unique_ptr<TUpDateDlg> upDateDlg_;
    std::unique_ptr<TMiseAjourQuestionDlg> miseAjourQuestionDlg_;
    std::unique_ptr<TGXMessageBoxDlg> gxMessageBoxDlg_;
    std::unique_ptr<TMiseAjourDlg> miseAjourDlg_;
};

}  // namespace gx
