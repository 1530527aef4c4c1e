#include "console/HttpsPanel.h"

#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include "console/ConsoleTexts.h"
#include "platform/program/UserDataFolder.h"
#include "platform/tls/DataFolder.h"

namespace gx {

namespace {

// Making a key and writing a few databases takes a second; a password typed in polkit's
// dialog may take the user a while.
constexpr int kUserToolTimeoutMs = 120 * 1000;
constexpr int kAdministratorTimeoutMs = 600 * 1000;
// pkexec's statuses when the password was refused or its dialog dismissed.
constexpr int kPkexecDismissed = 126;
constexpr int kPkexecNotAuthorized = 127;

QString Tr(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// sudo and pkexec clear the environment: the tool is told the data folder that the console
// reads, so that both sides look at the same root and marker.
QStringList DataHomeArguments() {
    const std::string home = qEnvironmentVariable("HOME").toStdString();
    const std::string xdg = qEnvironmentVariable("XDG_DATA_HOME").toStdString();
    if (home.empty() && (xdg.empty() || xdg.front() != '/')) {
        return {};
    }
    return {QStringLiteral("--data-home"), QString::fromStdString(UserDataBase(home, xdg))};
}

QString Paragraphs(const QStringList& parts) {
    QStringList kept;
    for (const QString& part : parts) {
        if (!part.isEmpty()) {
            kept << part;
        }
    }
    return kept.join(QStringLiteral("\n\n"));
}

}  // namespace

HttpsPanel::HttpsPanel(const ConsoleServices& services, QWidget* parent)
    : QFrame(parent),
      readTrust_(services.ReadHttpsTrust),
      driverTool_(services.DriverToolPath),
      pkexec_(services.PkexecPath) {
    setObjectName(QStringLiteral("HttpsPanel"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    LabelHttps = new QLabel(this);
    LabelHttps->setObjectName(QStringLiteral("LabelHttps"));
    LabelHttps->setWordWrap(true);
    buttonHttps = new QPushButton(this);
    buttonHttps->setObjectName(QStringLiteral("buttonHttps"));
    connect(buttonHttps, &QPushButton::clicked, this, &HttpsPanel::buttonHttpsClick);
    row->addWidget(LabelHttps, 1);
    row->addWidget(buttonHttps);
    Refresh();
}

void HttpsPanel::Refresh() {
    const HttpsTrust trust = readTrust_ ? readTrust_() : HttpsTrust{};
    sitesProtected_ = trust.sitesProtected;
    inSystemStore_ = trust.inSystemStore;
    LabelHttps->setText(Tr(sitesProtected_ ? text::kHttpsProtected : text::kHttpsNotProtected));
    QPalette palette = LabelHttps->palette();
    palette.setColor(QPalette::WindowText, sitesProtected_ ? QColor(0x1b, 0x6e, 0x20) : Qt::red);
    LabelHttps->setPalette(palette);
    buttonHttps->setText(Tr(sitesProtected_ ? text::kHttpsUnprotect : text::kHttpsProtect));
}

void HttpsPanel::showEvent(QShowEvent* event) {
    QFrame::showEvent(event);
    Refresh();
}

void HttpsPanel::buttonHttpsClick() {
    buttonHttps->setEnabled(false);
    if (sitesProtected_) {
        Unprotect();
    } else {
        Protect();
    }
    Refresh();
    buttonHttps->setEnabled(true);
}

HttpsPanel::ToolRun HttpsPanel::RunTool(const QString& program, const QStringList& arguments,
                                        int timeoutMs) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    QEventLoop loop;
    bool ended = false;
    connect(&process, &QProcess::finished, &loop, [&] {
        ended = true;
        loop.quit();
    });
    connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            ended = true;
            loop.quit();
        }
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    process.start(program, arguments);
    if (!ended && process.state() != QProcess::NotRunning) {
        loop.exec();  // the window keeps drawing and answering meanwhile
    }
    ToolRun run{ToolRun::Outcome::Done, QString::fromUtf8(process.readAll()).trimmed(), -1};
    if (process.error() == QProcess::FailedToStart) {
        run.outcome = ToolRun::Outcome::NotStarted;
    } else if (process.state() != QProcess::NotRunning) {
        // Timed out, or the program is ending: the tool is not left behind.
        process.kill();
        process.waitForFinished(2000);
        run.outcome = ToolRun::Outcome::TimedOut;
    } else if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        run.outcome = ToolRun::Outcome::Failed;
        run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    } else {
        run.status = 0;
    }
    return run;
}

QString HttpsPanel::DriverTool() const {
    return driverTool_ ? QString::fromStdString(driverTool_()) : QString();
}

HttpsPanel::ToolRun HttpsPanel::RunDriver(const QStringList& arguments) {
    return RunTool(DriverTool(), arguments, kUserToolTimeoutMs);
}

HttpsPanel::ToolRun HttpsPanel::RunDriverAsAdministrator(const QStringList& arguments) {
    const QString pkexec = pkexec_ ? QString::fromStdString(pkexec_()) : QString();
    if (pkexec.isEmpty()) {
        return {ToolRun::Outcome::NotStarted, {}, -1};
    }
    ToolRun run = RunTool(pkexec, QStringList{DriverTool()} + arguments + DataHomeArguments(),
                          kAdministratorTimeoutMs);
    // gx-driver itself never ends with these statuses.
    if (run.outcome == ToolRun::Outcome::Failed &&
        (run.status == kPkexecDismissed || run.status == kPkexecNotAuthorized)) {
        run.outcome = ToolRun::Outcome::Refused;
    }
    return run;
}

void HttpsPanel::Tell(const QString& message) {
    Refresh();
    QMessageBox box(sitesProtected_ ? QMessageBox::Information : QMessageBox::Warning,
                    Tr(text::kHttpsTitle), message, QMessageBox::Ok, window());
    box.exec();
}

void HttpsPanel::Protect() {
    const ToolRun user = RunDriver({QStringLiteral("trust"), QStringLiteral("--user")});
    const bool userDone = user.outcome == ToolRun::Outcome::Done;
    QString userPart;
    if (userDone) {
        userPart = Tr(text::kHttpsUserDone);
    } else if (user.outcome == ToolRun::Outcome::NotStarted) {
        userPart = Tr(text::kHttpsUserFailed) + "\n" + Tr(text::kHttpsToolMissing) + DriverTool();
    } else if (user.outcome == ToolRun::Outcome::TimedOut) {
        userPart = Tr(text::kHttpsUserFailed) + "\n" + Tr(text::kHttpsToolTimedOut);
    } else {
        userPart = Tr(text::kHttpsUserFailed) + "\n" + user.output;
    }

    QMessageBox question(QMessageBox::Question, Tr(text::kHttpsTitle),
                         Paragraphs({userPart, Tr(text::kHttpsSystemQuestion)}),
                         QMessageBox::Yes | QMessageBox::No, window());
    question.setDefaultButton(QMessageBox::No);
    if (question.exec() != QMessageBox::Yes) {
        Tell(userPart);
        return;
    }
    const ToolRun system = RunDriverAsAdministrator({QStringLiteral("trust")});
    QString systemPart;
    switch (system.outcome) {
        case ToolRun::Outcome::Done:
            systemPart = Tr(userDone ? text::kHttpsSystemDone : text::kHttpsSystemOnlyDone);
            break;
        case ToolRun::Outcome::NotStarted:
            systemPart = Tr(text::kHttpsSystemNoPkexec);
            break;
        case ToolRun::Outcome::Refused:
            systemPart = Tr(text::kHttpsSystemRefused);
            break;
        case ToolRun::Outcome::TimedOut:
            systemPart = Tr(text::kHttpsSystemFailed) + "\n" + Tr(text::kHttpsToolTimedOut);
            break;
        case ToolRun::Outcome::Failed:
            systemPart = Tr(text::kHttpsSystemFailed) + "\n" + system.output;
            break;
    }
    const bool userStays = userDone && system.outcome != ToolRun::Outcome::Done;
    Tell(Paragraphs({userPart, systemPart, userStays ? Tr(text::kHttpsUserStays) : QString()}));
}

void HttpsPanel::Unprotect() {
    const ToolRun user = RunDriver({QStringLiteral("untrust"), QStringLiteral("--user")});
    QString userPart;
    if (user.outcome == ToolRun::Outcome::Done) {
        userPart = Tr(text::kHttpsUndone);
    } else if (user.outcome == ToolRun::Outcome::NotStarted) {
        userPart = Tr(text::kHttpsUndoFailed) + "\n" + Tr(text::kHttpsToolMissing) + DriverTool();
    } else {
        userPart = Tr(text::kHttpsUndoFailed) + "\n" + user.output;
    }
    QString systemPart;
    if (inSystemStore_) {
        const ToolRun system = RunDriverAsAdministrator({QStringLiteral("untrust")});
        systemPart = system.outcome == ToolRun::Outcome::Done
                         ? Tr(text::kHttpsSystemUndone)
                         : Tr(text::kHttpsSystemStays) + DriverTool() + QStringLiteral(" untrust");
    }
    Tell(Paragraphs({userPart, systemPart}));
}

}  // namespace gx
