// The window shared by the two report dialogs: a borderless white 479 x 415 window with its
// header picture, title, close picture, three fields (address, explanation, e-mail), OK and
// Annuler. OK sends the three fields to the reporting server and tells the user the outcome.
//
// Each twin is this window with its own table of texts: captions, introductions, the path on the
// server and the two result messages. A dialog is created once when the program starts and is
// hidden between uses; what the user typed stays in the fields from one opening to the next.
// Main thread only: Get keeps the application's events flowing while it waits.
#pragma once

#include <QDialog>
#include <QPoint>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "report/ReportSender.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace gx {

class THttpCli;

// Texts are UTF-8 here; a "\r" in a message breaks its line.
struct ReportDialogTexts {
    const char* objectName;
    const char* caption;      // the window's caption (its task-bar name)
    const char* title;        // Label4, over the header picture
    const char* intro;        // Label5
    const char* secondIntro;  // Label6, or null
    int introTop;             // Label5's top
    const char* path;         // on the server, up to the first value: ".../...php?id="
    const char* successCaption;
    const char* successText;
    const char* failureCaption;
    const char* failureText;
};

class ReportDialog : public QDialog {
    Q_OBJECT
  public:
    ReportDialog(const ReportDialogTexts& texts, QWidget* parent);
    ~ReportDialog() override;

    const ReportDialogTexts& Texts() const { return texts_; }

    // Where the sending goes and what it says; the program's own by default.
    std::function<std::string()> ServerBase;
    std::function<std::uint16_t()> CustomerCode;
    // The pause between two attempts.
    PauseFunction Pause = SleepWithoutEvents;

    THttpCli& Http() { return *HTTP; }

    // The explanation as the edit shows it: one row per displayed row (a paragraph that wraps
    // gives several), without an empty last row.
    QStringList DescriptionRows() const;
    // The query values of the fields as they are now.
    ReportValues FieldValues() const;

    // Empties the three fields and puts the focus on the address.
    void FormCreate();

  public slots:
    void Button1Click();
    void Button2Click();
    void ImageReduitFenetreClick();

  protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildWindow();
    QLabel* AddLabel(const char* name, const char* text, int left, int top);
    void AddIntro(const char* name, const char* text, int top);
    void Image1MouseDown(const QPoint& globalPosition);
    void ShowOutcome(bool sent);

    const ReportDialogTexts& texts_;
    std::unique_ptr<THttpCli> HTTP;
    bool sending_ = false;
    bool dragging_ = false;
    QPoint grabOffset_;

    QLabel* Image1 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* ImageReduitFenetre = nullptr;
    QLineEdit* URL = nullptr;
    QPlainTextEdit* Description = nullptr;
    QLineEdit* Email = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
};

}  // namespace gx
