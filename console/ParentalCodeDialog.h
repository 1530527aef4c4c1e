// The two small dialogs of the parental code: one asks for the code before a guarded action, the
// other takes a new code, entered twice.
#pragma once

#include <QDialog>
#include <functional>

#include "console/CodeAttempts.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace gx {

// Asks for the code. "&OK" checks it with `matches`: a right code closes the dialog accepted; a
// wrong one is said so, counted in `attempts`, and the user may try again or cancel. While the
// attempts are locked, the field and "&OK" are disabled and the wait is counted down.
class AskParentalCodeDialog : public QDialog {
    Q_OBJECT
  public:
    AskParentalCodeDialog(QWidget* owner, CodeAttempts& attempts,
                          std::function<bool(const QString& code)> matches);

  public slots:
    void accept() override;

  private:
    void ShowLockOrOpen();

    CodeAttempts& attempts_;
    std::function<bool(const QString&)> matches_;
    QLineEdit* EditCode = nullptr;
    QLabel* LabelMessage = nullptr;
    QPushButton* OKButton = nullptr;
    QTimer* LockTimer = nullptr;
};

// Takes a new code: 4 to 12 characters, the same twice; otherwise says why and stays open.
class DefineParentalCodeDialog : public QDialog {
    Q_OBJECT
  public:
    explicit DefineParentalCodeDialog(QWidget* owner);
    QString NewCode() const;

  public slots:
    void accept() override;

  private:
    QLineEdit* EditNewCode = nullptr;
    QLineEdit* EditConfirmCode = nullptr;
    QLabel* LabelMessage = nullptr;
};

}  // namespace gx
