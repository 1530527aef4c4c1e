// The console window's behaviour: creation, protection state, toggles, timers, tray and pages.
#include "console/GX_Main.h"
#include "engine/ChildProtection.h"

#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMutex>
#include <QPushButton>
#include <QScreen>
#include <QStringDecoder>
#include <QSystemTrayIcon>
#include <QTableWidget>
#include <QTimer>
#include <atomic>
#include <cstdio>

#include "console/AboutBox.h"
#include "console/ConsoleTexts.h"
#include "console/HelpPages.h"
#include "console/ParentalCodeDialog.h"
#include "console/SidePages.h"
#include "host/FmxUtils.h"
#include "host/GX_megakillprocess.h"
#include "lists/ProductSite.h"
#include "platform/codepage/Cp1252.h"
#include "platform/registry/Registry.h"
#include "report/GX_DemanderAnalyseSiteDlg.h"
#include "report/GX_SignalerSiteMalveillantDlg.h"
#include "store/GX_ConfigReg.h"
#include "store/ParentalCode.h"
#include "update/ListsRefresh.h"
#include "update/UpdateDialogs.h"
#include "update/gx_update.h"

namespace gx {

namespace {

constexpr int kHistoryDesignRows = 49;  // data rows under the header row

QString Tr(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// The window that the engine's hook reaches, and whether an arming request is already on its
// way to the main thread (a burst of blocks posts one request, not one per block).
QMutex hookLock;
TFormGardalix* hookedConsole = nullptr;
std::atomic<bool> armRequestPending{false};

// The hourglass while the engine stops.
class WaitCursor {
  public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

// The text of an error other than the registry's (whose texts are Windows-1252): UTF-8 when it
// is valid UTF-8, else Windows-1252.
QString DecodeErrorText(const char* what) {
    const QByteArray bytes(what);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(bytes);
    return utf8.hasError() ? QString::fromStdString(Cp1252ToUtf8(bytes.toStdString())) : text;
}

// A full stop ends the message unless it already ends in a character sorting at or before it.
QString WithFullStop(QString text) {
    if (text.isEmpty() || text.back() > QLatin1Char('.')) {
        text += QLatin1Char('.');
    }
    return text;
}

// Without a display nobody can see or answer a box: its title and text go to stderr and the
// box counts as answered with its default (OK, or No for a question).
std::atomic<bool> boxesToStderr{false};

QMessageBox::StandardButton AskUser(QMessageBox::Icon icon, const QString& title,
                                    const QString& message, QMessageBox::StandardButtons buttons,
                                    QWidget* parent) {
    if (boxesToStderr) {
        const QString line = title + QStringLiteral(" : ") + QString(message).replace('\n', ' ');
        std::fprintf(stderr, "%s\n", line.toUtf8().constData());
        std::fflush(stderr);
        return buttons.testFlag(QMessageBox::No) ? QMessageBox::No : QMessageBox::Ok;
    }
    QMessageBox box(icon, title, message, buttons, parent);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QString Cp1252Text(const std::string& cp1252) {
    return QString::fromStdString(Cp1252ToUtf8(cp1252));
}

// "Programme : /usr/bin/..." for a history entry ("inconnu" for an entry without a program).
QString ProgramLine(const std::string& program) {
    return Tr(text::kProgramLine) +
           (program.empty() ? Tr(text::kProgramUnknown) : Cp1252Text(program));
}

}  // namespace

void TellOnStderrInsteadOfBoxes(bool on) {
    boxesToStderr = on;
    TellUpdatesOnStderr(on);
}

TFormGardalix::TFormGardalix(ConsoleServices services, QWidget* parent)
    : QWidget(parent), services_(std::move(services)) {
    HelpFolder = DefaultHelpFolder();
    EndProgram = [](int status) { QCoreApplication::exit(status); };
    ShowBalloon = [this](const QString& title, const QString& text) {
        ShowBalloonOrStderr(title, text);
    };
    BuildWindow();
    UpdateHost update;
    update.ProtectionActive = [this] { return protectionActive_; };
    update.StopProtection = [this] {
        WaitCursor wait;
        services_.StopDriver();
        ShowStateOff();
    };
    update.StartQuitTimer = [this] { TimerQuit->start(); };
    update.owner = this;
    updateClient_ = std::make_unique<UpdateClient>(std::move(update));
    if (services_.ListsRefreshPlaces) {
        listsRefresh_ = std::make_unique<ListsRefresh>(services_.ListsRefreshPlaces());
        connect(listsRefresh_.get(), &ListsRefresh::ListsChanged, this,
                &TFormGardalix::ShowListsSummary);
    }
    SignalerSiteMalveillantDlg = new TSignalerSiteMalveillantDlg(this);
    DemanderAnalyseSiteDlg = new TDemanderAnalyseSiteDlg(this);
}

TFormGardalix::~TFormGardalix() {
    FormDestroy();
}

template <typename Handler>
void TFormGardalix::RunHandler(Handler&& handler) {
    try {
        handler();
    } catch (const ERegistryException& error) {
        ShowError(QString::fromStdString(Cp1252ToUtf8(error.what())));
    } catch (const std::exception& error) {
        ShowError(DecodeErrorText(error.what()));
    } catch (...) {
        ShowError(Tr(text::kUnknownError));
    }
}

void TFormGardalix::ShowError(const QString& message) {
    AskUser(QMessageBox::Critical, QApplication::applicationDisplayName(), WithFullStop(message),
            QMessageBox::Ok, this);
}

// ---- Creation and end ----

bool TFormGardalix::FormCreate() {
    bool listsLoaded = false;
    RunHandler([&] {
        CreationSteps();
        listsLoaded = LoadBlockLists();
    });
    if (!listsLoaded) {
        return false;  // without its lists the program cannot protect: it ends
    }
    // A switch that cannot be read (a value of the wrong type in the registry) is shown as an
    // error and counts as off; the protection starts all the same, rather than staying off
    // while the console says that it is on.
    PornFilterOn = false;
    RunHandler([&] { PornFilterOn = services_.ReadPornFilter(); });
    checkBlockPorn->setChecked(PornFilterOn);
    RunHandler([this] { ShowParentalCodeState(); });
    TimerStartDriver->start();
    TimerCheckMiseAjour->start();
    if (listsRefresh_) {
        listsRefresh_->Start();
    }
    return true;
}

void TFormGardalix::ShowListsSummary() {
    if (services_.ListsSummary) {
        LabelListes->setText(QString::fromStdString(services_.ListsSummary()));
    }
}

void TFormGardalix::CreationSteps() {
    protectionActive_ = false;
    for (QTimer* timer : {TimerQuit, TimerStartDriver, TimerCheckMiseAjour, TimerUpDateEventLog}) {
        timer->stop();
    }
    services_.ClearExemptionTables();
    {
        QMutexLocker guard(&hookLock);
        hookedConsole = this;
        armRequestPending = false;
    }
    services_.SetArmBlockTimerHook(&TFormGardalix::ArmBlockTimerFromWorker);
    if (services_.SetBlockAlertHook) {
        services_.SetBlockAlertHook(&TFormGardalix::AlertFromWorker);
    }
    ClearHistoryGrid(kHistoryDesignRows);
    xpPageControl1->SetCurrentIndex(0);
    if (OnInstallMessageHandler) {
        OnInstallMessageHandler();
    }
}

bool TFormGardalix::LoadBlockLists() {
    struct ListStep {
        const std::function<bool()>& load;
        const char* title;
        const char* text;
    };
    const ListStep steps[] = {
        {services_.LoadPornURLList, text::kAdultListErrorTitle, text::kAdultListErrorText},
        {services_.LoadMalwareURLList, text::kMalwareListErrorTitle, text::kMalwareListErrorText},
    };
    for (const ListStep& step : steps) {
        if (!step.load()) {
            AskUser(QMessageBox::Critical, Tr(step.title), Tr(step.text), QMessageBox::Ok, nullptr);
            return false;
        }
    }
    // Lists downloaded by an earlier run replace the shipped ones when newer; without them the
    // shipped lists protect as before.
    if (services_.LoadDownloadedLists) {
        services_.LoadDownloadedLists();
    }
    ShowListsSummary();
    return true;
}

void TFormGardalix::FormDestroy() {
    bool wasHooked = false;
    {
        QMutexLocker guard(&hookLock);
        wasHooked = hookedConsole == this;
        if (wasHooked) {
            hookedConsole = nullptr;
        }
    }
    // Outside the lock: the engine may hold its own lock while it calls the hook.
    if (wasHooked && services_.SetArmBlockTimerHook) {
        services_.SetArmBlockTimerHook(nullptr);
    }
    if (wasHooked && services_.SetBlockAlertHook) {
        services_.SetBlockAlertHook(nullptr);
    }
    // Help pages open in the user's browser, which stays the user's: nothing to close here.
}

void TFormGardalix::closeEvent(QCloseEvent* event) {
    if (minimizeToTray_) {
        // A close request that reaches the hidden console ends the program.
        event->accept();
        EndProgram(0);
        return;
    }
    event->ignore();
    minimizeToTray_ = true;
    hide();
}

// ---- Protection state ----

void TFormGardalix::SetTexts(const char* label, const char* button, const char* trayItem) {
    StatusLabel->setText(Tr(label));
    buttonActiveDesactive->setText(Tr(button));
    Dsactiverlefirewall1->setText(Tr(trayItem));
}

void TFormGardalix::SetLabelColour(const QColor& colour) {
    QPalette palette = StatusLabel->palette();
    palette.setColor(QPalette::WindowText, colour);
    StatusLabel->setPalette(palette);
}

void TFormGardalix::SetGlyph(bool stop) {
    buttonActiveDesactive->setIcon(stop ? ImageIconStop : ImageIconStart);
    buttonActiveDesactive->setProperty("glyph",
                                       stop ? QStringLiteral("stop") : QStringLiteral("start"));
}

void TFormGardalix::ShowStateOn() {
    SetGlyph(true);
    SetTexts(StatusOnText(), text::kButtonOff, text::kTrayOff);
    SetLabelColour(Qt::black);
}

const char* TFormGardalix::StatusOnText() const {
    return services_.ProtectedByService && services_.ProtectedByService() ? text::kStatusOnService
                                                                          : text::kStatusOn;
}

void TFormGardalix::ShowStateOff() {
    protectionActive_ = false;
    SetGlyph(false);
    SetTexts(text::kStatusOff, text::kButtonOn, text::kTrayOn);
    SetLabelColour(Qt::red);
}

void TFormGardalix::StartProtection() {
    protectionActive_ = false;
    if (services_.StartDriver()) {
        protectionActive_ = true;
        SetTexts(StatusOnText(), text::kButtonOff, text::kTrayOff);
        if (services_.ProtectedByService && services_.ProtectedByService()) {
            // The service's protection goes on whatever this window does: no switch to offer.
            buttonActiveDesactive->setEnabled(false);
            Dsactiverlefirewall1->setEnabled(false);
            buttonActiveDesactive->setToolTip(Tr(text::kServiceToggleTip));
        }
        return;
    }
    SetTexts(text::kStatusStartFailed, text::kButtonOn, text::kTrayOn);
    AskUser(QMessageBox::Critical, Tr(text::kDriverErrorTitle),
            Tr(text::kDriverErrorLead) + Tr(text::kSupportAddress) + Tr(text::kDriverErrorTail),
            QMessageBox::Ok, this);
}

void TFormGardalix::ToggleProtection(Toggle source) {
    const bool fromTray = source == Toggle::TrayItem;
    if (protectionActive_) {
        if (!ParentalCodeAllows()) {
            return;
        }
        WaitCursor wait;
        if (fromTray) {
            TimerStartDriver->stop();
        }
        services_.StopDriver();
        ShowStateOff();
        return;
    }
    StartProtection();
    if (protectionActive_) {
        // After a start from the tray item the engine is not started a second time a second
        // later: a running engine is left as it is.
        ShowStateOn();
        return;
    }
    WaitCursor wait;
    if (fromTray) {
        TimerStartDriver->stop();
    }
    services_.StopDriver();
    ShowStateOff();
}

void TFormGardalix::buttonActiveDesactiveClick() {
    RunHandler([this] { ToggleProtection(Toggle::Button); });
}

void TFormGardalix::Dsactiverlefirewall1Click() {
    RunHandler([this] { ToggleProtection(Toggle::TrayItem); });
}

void TFormGardalix::Tray_CloseClick() {
    RunHandler([this] {
        if (!ParentalCodeAllows()) {
            return;
        }
        if (AskUser(QMessageBox::Question, Tr(text::kConfirmTitle), Tr(text::kConfirmText),
                    QMessageBox::Yes | QMessageBox::No, this) != QMessageBox::Yes) {
            return;
        }
        {
            WaitCursor wait;
            TimerStartDriver->stop();
            services_.StopDriver();
            ShowStateOff();
        }
        EndProgram(0);
    });
}

// ---- Timers ----

void TFormGardalix::TimerStartDriverTimerTick() {
    TimerStartDriver->stop();
    RunHandler([this] { StartProtection(); });
    emit TimedStartDone(protectionActive_);
}

void TFormGardalix::TimerQuitTimerTick() {
    TimerQuit->stop();
    KillProcessById(static_cast<uint32_t>(getpid()));
}

void TFormGardalix::TimerCheckMiseAjourTimerTick() {
    TimerCheckMiseAjour->stop();
    RunHandler([this] { updateClient_->TimerCheckMiseAjourTimer(); });
}

void TFormGardalix::TimerUpDateEventLogTimerTick() {
    TimerUpDateEventLog->stop();
    // Each block since the last tick makes its own entry, in the order they happened.
    RunHandler([this] {
        for (const BlockEvent& block : services_.TakeBlockEvents()) {
            services_.AddBlockLogEntry(block.url, block.reason, block.program);
        }
    });
}

void TFormGardalix::FlushPendingHistory() {
    // Armed, or asked to be armed by a block whose request has not reached the main thread yet.
    if (TimerUpDateEventLog->isActive() || armRequestPending) {
        armRequestPending = false;
        TimerUpDateEventLogTimerTick();
    }
}

void TFormGardalix::ArmBlockTimerFromWorker() {
    if (armRequestPending.exchange(true)) {
        return;
    }
    QMutexLocker guard(&hookLock);
    if (hookedConsole == nullptr) {
        armRequestPending = false;
        return;
    }
    QMetaObject::invokeMethod(hookedConsole, "ArmUpdateEventLogTimer", Qt::QueuedConnection);
}

void TFormGardalix::AlertFromWorker(const BlockEvent& block) {
    QMutexLocker guard(&hookLock);
    if (hookedConsole == nullptr || !hookedConsole->alerts_.ShouldAlert(block)) {
        return;
    }
    // Dropped with the window if it goes away before the main thread gets to it.
    QMetaObject::invokeMethod(
        hookedConsole, [console = hookedConsole, block] { console->ShowProgramAlert(block); },
        Qt::QueuedConnection);
}

void TFormGardalix::ShowProgramAlert(const BlockEvent& block) {
    ShowBalloon(QString::fromStdString(ProgramAlertTitle()),
                QString::fromStdString(ProgramAlertText(block)));
}

void TFormGardalix::ShowBalloonOrStderr(const QString& title, const QString& text) {
    if (boxesToStderr || !CoolTray2->isVisible() || !QSystemTrayIcon::supportsMessages()) {
        const QString line = title + QStringLiteral(" : ") + QString(text).replace('\n', ' ');
        std::fprintf(stderr, "%s\n", line.toUtf8().constData());
        std::fflush(stderr);
        return;
    }
    CoolTray2->showMessage(title, text, QSystemTrayIcon::Warning, 15000);
}

void TFormGardalix::ArmUpdateEventLogTimer() {
    armRequestPending = false;
    // Arming an armed timer would restart its countdown: a burst of blocks is written at once.
    if (!TimerUpDateEventLog->isActive()) {
        TimerUpDateEventLog->start();
    }
}

// ---- Showing and hiding ----

void TFormGardalix::CoolTray2DblClick() {
    minimizeToTray_ = false;
    if (!placed_) {
        // Centred on the screen the first time; where the user drags it afterwards, it stays.
        placed_ = true;
        if (QScreen* display = screen()) {
            QRect frame = geometry();
            frame.moveCenter(display->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    show();
    // A platform that draws nowhere has no stacking order or focus to change.
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
        raise();
        activateWindow();
    }
    // Lets a session without a display (and the start-up tests) see that the console opened.
    if (qEnvironmentVariableIsSet("GX_TRACE_CONSOLE")) {
        std::fprintf(stderr, "gardalix: console shown\n");
        std::fflush(stderr);
    }
}

void TFormGardalix::Tray_OpenClick() {
    CoolTray2DblClick();
}

bool TFormGardalix::eventFilter(QObject* watched, QEvent* event) {
    if (watched == xpTabSheet3 && event->type() == QEvent::Show) {
        xpTabSheet3Show();
    }
    return QWidget::eventFilter(watched, event);
}

// ---- Settings ----

void TFormGardalix::buttonAppliquerConfigurationClick() {
    RunHandler([this] {
        const bool switchesOff = PornFilterOn && !checkBlockPorn->isChecked();
        if (switchesOff && !ParentalCodeAllows()) {
            checkBlockPorn->setChecked(true);  // the box shows what stays in force
            return;
        }
        PornFilterOn = checkBlockPorn->isChecked();
        services_.WritePornFilter(PornFilterOn);
    });
}

void TFormGardalix::buttonConfigurationDefautClick() {
    RunHandler([this] {
        if (PornFilterOn && !ParentalCodeAllows()) {
            checkBlockPorn->setChecked(true);
            return;
        }
        checkBlockPorn->setChecked(false);
        PornFilterOn = false;
        services_.WritePornFilter(false);
    });
}

// ---- Parental code ----

bool TFormGardalix::ParentalCodeAllows() {
    const std::string stored = services_.ReadParentalCode ? services_.ReadParentalCode() : "";
    if (stored.empty()) {
        return true;
    }
    if (boxesToStderr) {
        // Nobody can type the code: the action is refused.
        std::fprintf(stderr, "%s\n", text::kParentalNoDisplay);
        std::fflush(stderr);
        return false;
    }
    AskParentalCodeDialog dialog(this, codeAttempts_, [this, &stored](const QString& code) {
        const QByteArray utf8 = code.toUtf8();
        const std::string typed(utf8.constData(), utf8.size());
        return services_.CheckParentalCode ? services_.CheckParentalCode(typed)
                                           : ParentalCodeMatches(typed, stored);
    });
    return dialog.exec() == QDialog::Accepted;
}

void TFormGardalix::ShowParentalCodeState() {
    const bool set = services_.ReadParentalCode && !services_.ReadParentalCode().empty();
    LabelCodeParental->setText(Tr(set ? text::kParentalSet : text::kParentalNone));
    buttonDefinirCode->setText(Tr(set ? text::kParentalChange : text::kParentalDefine));
    buttonSupprimerCode->setEnabled(set);
}

void TFormGardalix::buttonDefinirCodeClick() {
    RunHandler([this] {
        if (!ParentalCodeAllows()) {  // changing a code asks for the current one
            return;
        }
        DefineParentalCodeDialog dialog(this);
        if (dialog.exec() != QDialog::Accepted) {
            return;
        }
        const QByteArray code = dialog.NewCode().toUtf8();
        services_.WriteParentalCode(
            HashParentalCode(std::string_view(code.constData(), code.size())));
        ShowParentalCodeState();
        AskUser(QMessageBox::Information, Tr(text::kParentalTitle), Tr(text::kParentalSetDone),
                QMessageBox::Ok, this);
    });
}

void TFormGardalix::buttonSupprimerCodeClick() {
    RunHandler([this] {
        if (!ParentalCodeAllows()) {
            return;
        }
        services_.RemoveParentalCode();
        ShowParentalCodeState();
        AskUser(QMessageBox::Information, Tr(text::kParentalTitle), Tr(text::kParentalRemoved),
                QMessageBox::Ok, this);
    });
}

// ---- History ----

void TFormGardalix::ClearHistoryGrid(int rows) {
    TabHistoriqueAlertes->clearContents();
    TabHistoriqueAlertes->setRowCount(rows);
    TabHistoriqueAlertes->setHorizontalHeaderLabels(
        {Tr(text::kColumnDate), Tr(text::kColumnUrl), Tr(text::kColumnType)});
}

void TFormGardalix::xpTabSheet3Show() {
    RunHandler([this] {
        const std::vector<LogValue> entries = services_.ReadLogEntries();
        historyPrograms_.clear();
        ClearHistoryGrid(std::max<int>(kHistoryDesignRows, static_cast<int>(entries.size())));
        for (size_t row = 0; row < entries.size(); ++row) {
            const LogValue& entry = entries[row];
            historyPrograms_.push_back(entry.program);
            // The whole row tells its address (too long for its column) and its program.
            const QString tip = Cp1252Text(ExtractField(entry.name, 2)) + QLatin1Char('\n') +
                                ProgramLine(entry.program);
            for (int column = 0; column < 3; ++column) {
                auto* cell = new QTableWidgetItem(Cp1252Text(ExtractField(entry.name, column + 1)));
                cell->setTextAlignment(Qt::AlignCenter);
                cell->setToolTip(tip);
                TabHistoriqueAlertes->setItem(static_cast<int>(row), column, cell);
            }
        }
        TabHistoriqueAlertesSelectionChanged();
    });
}

void TFormGardalix::TabHistoriqueAlertesSelectionChanged() {
    const QList<QTableWidgetItem*> selected = TabHistoriqueAlertes->selectedItems();
    const int row = selected.isEmpty() ? -1 : selected.front()->row();
    LabelProgramme->setText(row >= 0 && row < static_cast<int>(historyPrograms_.size())
                                ? ProgramLine(historyPrograms_[static_cast<size_t>(row)])
                                : QString());
}

// ---- Help, test page, About, update and reports ----

void TFormGardalix::FormHelp(int context) {
    OpenHelpPage(HelpFolder, context);
}

void TFormGardalix::Tray_HelpClick() {
    FormHelp(kHelpContextGuide);
}

void TFormGardalix::LabelTestGardalixClick() {
    if (AskUser(QMessageBox::Question, Tr(text::kTestTitle), Tr(text::kTestText),
                QMessageBox::Yes | QMessageBox::No, this) == QMessageBox::Yes) {
        ShellOpen(std::string("https://") + kProductSiteHost + "/test_malware");
    }
}

void TFormGardalix::mnuTrayAboutClick() {
    TAboutBox about(this, [this](int context) { FormHelp(context); });
    about.exec();
}

void TFormGardalix::Label_MiseAJourClick() {
    RunHandler([this] { updateClient_->Label_MiseAJourClick(); });
}

void TFormGardalix::ImageSignalerSiteClick() {
    SignalerSiteMalveillantDlg->exec();
}

void TFormGardalix::ImageDemanderAnalyseClick() {
    DemanderAnalyseSiteDlg->exec();
}

}  // namespace gx
