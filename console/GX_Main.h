// The console window: the protection's on/off state with its controls and timers, the tray icon
// and its menu, and the four pages (filtering, child protection, history, help).
//
// Built once at start and hidden; FormCreate then loads what the protection needs and arms the
// start timer. Everything here runs on the main thread; the engine only reaches the window
// through ArmBlockTimerFromWorker, which posts to the main thread.
#pragma once

#include <QIcon>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "console/CodeAttempts.h"
#include "console/ConsoleServices.h"
#include "console/ProgramAlert.h"

class QAction;
class QCheckBox;
class QLabel;
class QMenu;
class QPushButton;
class QSystemTrayIcon;
class QTableWidget;
class QTimer;
class QToolButton;

namespace gx {

class SidePageControl;
class TSignalerSiteMalveillantDlg;
class TDemanderAnalyseSiteDlg;
class UpdateClient;
class ListsRefresh;

// Without a display nobody can answer a box: the console's boxes are then written to stderr and
// count as answered with their default button.
void TellOnStderrInsteadOfBoxes(bool on);

class TFormGardalix : public QWidget {
    Q_OBJECT
  public:
    explicit TFormGardalix(ConsoleServices services, QWidget* parent = nullptr);
    ~TFormGardalix() override;

    // The creation sequence. False when the program must end now (a block list did not load;
    // the user has been told). An error in a later step is shown and the remaining steps are
    // skipped, but the program goes on.
    bool FormCreate();

    // Run by FormCreate once the window can take the show-console message of a second launch.
    std::function<void()> OnInstallMessageHandler;
    // Ends the program through the normal shutdown (the event loop returns this status).
    std::function<void(int status)> EndProgram;
    // Where the help pages are looked for (the program's help/ folder).
    std::string HelpFolder;
    // Shows the alert for a program that is not a browser: a tray balloon, or one line on
    // stderr without a display or a tray.
    std::function<void(const QString& title, const QString& text)> ShowBalloon;

    bool ProtectionActive() const { return protectionActive_; }
    bool MinimizeToTray() const { return minimizeToTray_; }
    QSystemTrayIcon* TrayIcon() const { return CoolTray2; }
    QMenu* TrayMenu() const { return Popup_Tray; }
    SidePageControl* Pages() const { return xpPageControl1; }
    QTimer* TimerStartDriverTimer() const { return TimerStartDriver; }
    QTimer* TimerCheckMiseAjourTimer() const { return TimerCheckMiseAjour; }
    QTimer* TimerUpDateEventLogTimer() const { return TimerUpDateEventLog; }
    QTimer* TimerQuitTimer() const { return TimerQuit; }
    // The update check with its dialogs (created after the console, see RunGardalix).
    UpdateClient& Updater() { return *updateClient_; }
    // The refresh of the block lists; null when the services name no places for it.
    ListsRefresh* ListsRefresher() { return listsRefresh_.get(); }
    // Shows on the Filtrage tab what the lists in use are.
    void ShowListsSummary();

    // At the program's end: a block whose history entry is still waiting for its timer is
    // recorded now rather than lost with the process.
    void FlushPendingHistory();

    // The engine's hook: called on any thread after a block; arms the history timer on the main
    // thread unless it is armed already.
    static void ArmBlockTimerFromWorker();
    // The engine's alert hook: called on any thread with every block; a block that alerts is
    // shown on the main thread.
    static void AlertFromWorker(const BlockEvent& block);

  signals:
    // The start one second after creation has run; `started` tells whether the engine runs.
    void TimedStartDone(bool started);

  public slots:
    void CoolTray2DblClick();
    void Tray_OpenClick();
    void buttonActiveDesactiveClick();
    void Dsactiverlefirewall1Click();
    void Tray_CloseClick();
    void Tray_HelpClick();
    void mnuTrayAboutClick();
    void FormHelp(int context);
    void LabelTestGardalixClick();
    void Label_MiseAJourClick();
    void ImageSignalerSiteClick();
    void ImageDemanderAnalyseClick();
    void buttonAppliquerConfigurationClick();
    void buttonConfigurationDefautClick();
    void buttonDefinirCodeClick();
    void buttonSupprimerCodeClick();
    void xpTabSheet3Show();

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private slots:
    void TimerStartDriverTimerTick();
    void TimerQuitTimerTick();
    void TimerCheckMiseAjourTimerTick();
    void TimerUpDateEventLogTimerTick();
    void ArmUpdateEventLogTimer();
    void TabHistoriqueAlertesSelectionChanged();

  private:
    enum class Toggle { Button, TrayItem };

    void BuildWindow();
    QWidget* BuildTitleBand();
    QWidget* BuildStatusPanel();
    QWidget* BuildFiltragePage();
    QWidget* BuildEnfantsPage();
    QWidget* BuildHistoriquePage();
    QWidget* BuildAidePage();
    void BuildTray();
    void BuildTimers();

    void CreationSteps();
    bool LoadBlockLists();
    void StartProtection();
    void ToggleProtection(Toggle source);
    void ShowStateOn();
    const char* StatusOnText() const;
    void ShowStateOff();
    void SetTexts(const char* label, const char* button, const char* trayItem);
    void SetLabelColour(const QColor& colour);
    void SetGlyph(bool stop);
    void FormDestroy();
    void ClearHistoryGrid(int rows);
    bool ParentalCodeAllows();
    void ShowParentalCodeState();
    void ShowProgramAlert(const BlockEvent& block);
    void ShowBalloonOrStderr(const QString& title, const QString& text);
    void ShowError(const QString& message);
    template <typename Handler>
    void RunHandler(Handler&& handler);

    ConsoleServices services_;
    bool protectionActive_ = false;
    bool minimizeToTray_ = true;
    bool placed_ = false;
    std::unique_ptr<UpdateClient> updateClient_;
    std::unique_ptr<ListsRefresh> listsRefresh_;
    QIcon ImageIconStart;
    QIcon ImageIconStop;

    QLabel* StatusLabel = nullptr;
    QPushButton* buttonActiveDesactive = nullptr;
    SidePageControl* xpPageControl1 = nullptr;
    QWidget* xpTabSheet3 = nullptr;
    QCheckBox* checkBlockPorn = nullptr;
    QLabel* LabelListes = nullptr;
    QTableWidget* TabHistoriqueAlertes = nullptr;
    QLabel* LabelProgramme = nullptr;
    std::vector<std::string> historyPrograms_;  // the program of each grid row, Windows-1252
    QLabel* LabelCodeParental = nullptr;
    QPushButton* buttonDefinirCode = nullptr;
    QPushButton* buttonSupprimerCode = nullptr;
    ProgramAlerts alerts_;
    CodeAttempts codeAttempts_;
    QSystemTrayIcon* CoolTray2 = nullptr;
    QMenu* Popup_Tray = nullptr;
    QAction* Dsactiverlefirewall1 = nullptr;
    QTimer* TimerStartDriver = nullptr;
    QTimer* TimerQuit = nullptr;
    QTimer* TimerCheckMiseAjour = nullptr;
    QTimer* TimerUpDateEventLog = nullptr;
    // The two report dialogs, made with the window and only shown by their entries.
    TSignalerSiteMalveillantDlg* SignalerSiteMalveillantDlg = nullptr;
    TDemanderAnalyseSiteDlg* DemanderAnalyseSiteDlg = nullptr;
};

}  // namespace gx
