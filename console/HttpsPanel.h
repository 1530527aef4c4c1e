// The HTTPS line of the Filtrage tab: whether HTTPS sites are protected, and the button that
// protects them or stops protecting them.
//
// Protecting runs `gx-driver trust --user` (the user's browsers, no administrator rights), then
// offers the whole machine as well: `pkexec gx-driver trust`, where polkit asks for the
// password in its own dialog. Undoing runs `gx-driver untrust --user`, and `pkexec gx-driver
// untrust` when the machine's store holds the root. The tools run while the event loop turns,
// so the window stays alive; the button is disabled meanwhile. The state is read again each
// time the tab is shown, so a trust made in a terminal shows too.
#pragma once

#include <QFrame>
#include <QString>
#include <QStringList>

#include "console/ConsoleServices.h"

class QLabel;
class QPushButton;

namespace gx {

class HttpsPanel : public QFrame {
    Q_OBJECT
  public:
    HttpsPanel(const ConsoleServices& services, QWidget* parent);

    // Shows the state that the services report.
    void Refresh();
    bool SitesProtected() const { return sitesProtected_; }

  public slots:
    void buttonHttpsClick();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    struct ToolRun {
        enum class Outcome { Done, Failed, NotStarted, Refused, TimedOut } outcome;
        QString output;  // what the tool wrote, trimmed
        int status;      // its exit status when it ended by itself, else -1
    };
    ToolRun RunTool(const QString& program, const QStringList& arguments, int timeoutMs);
    QString DriverTool() const;
    ToolRun RunDriver(const QStringList& arguments);
    ToolRun RunDriverAsAdministrator(const QStringList& arguments);
    void Protect();
    void Unprotect();
    void Tell(const QString& message);

    std::function<HttpsTrust()> readTrust_;
    std::function<std::string()> driverTool_;
    std::function<std::string()> pkexec_;
    bool sitesProtected_ = false;
    bool inSystemStore_ = false;
    QLabel* LabelHttps = nullptr;
    QPushButton* buttonHttps = nullptr;
};

}  // namespace gx
