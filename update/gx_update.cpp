#include "update/gx_update.h"

#include <unistd.h>

#include <QEventLoop>
#include <QTimer>

#include "host/FmxUtils.h"
#include "host/GX_detect_win10.h"
#include "platform/codepage/Cp1252.h"
#include "platform/program/GX_COM.h"
#include "update/UpdateDialogs.h"
#include "update/UpdateFiles.h"
#include "update/UpdateProtocol.h"
#include "update/UpdateSettings.h"
#include "update/UpdateTexts.h"

namespace gx {

namespace {

constexpr int kShowNormal = 5;  // the desktop's "shown normally"

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

QString FromCp1252(const std::string& text) {
    return QString::fromStdString(Cp1252ToUtf8(text));
}

}  // namespace

// Every way out of a check: the description is freed, the progress window hidden and a later
// check may run.
class UpdateClient::CheckEnd {
  public:
    explicit CheckEnd(UpdateClient& client) : client_(client) {}
    ~CheckEnd() {
        client_.FUpdateInfo.clear();
        client_.FDownloadFile.reset();
        client_.HTTP2.ReceiveStream = nullptr;
        client_.dialogs_->HideProgress();
        client_.FUpdateRunning = false;
    }
    CheckEnd(const CheckEnd&) = delete;
    CheckEnd& operator=(const CheckEnd&) = delete;

  private:
    UpdateClient& client_;
};

UpdateClient::UpdateClient(UpdateHost host) : host_(std::move(host)) {
    if (host_.programDir.empty()) {
        host_.programDir = ProgramDir();
    }
    if (!host_.OpenRestartProgram) {
        host_.OpenRestartProgram = [](const std::string& program) {
            // Only a program is started: a missing restart program must not end up with the
            // desktop's opener, which would look for some application to show the name with.
            if (::access(program.c_str(), X_OK) == 0) {
                ShellOpen(program, "", "", kShowNormal);
            }
        };
    }
    HTTP2.OnDocBegin = [this](THttpCli&) { HTTP2DocBegin(); };
    HTTP2.OnDocData = [this](THttpCli&, const char*, int length) { HTTP2DocData(length); };
}

UpdateClient::~UpdateClient() = default;

void UpdateClient::CreateDialogs() {
    if (!dialogs_) {
        dialogs_ = std::make_unique<UpdateDialogs>(host_.owner);
    }
}

UpdateDialogs& UpdateClient::Dialogs() {
    CreateDialogs();
    return *dialogs_;
}

void UpdateClient::TimerCheckMiseAjourTimer() {
    FAutoCheck = true;
    CheckMiseAjour();
}

void UpdateClient::Label_MiseAJourClick() {
    FAutoCheck = false;
    CheckMiseAjour();
}

// ---- The description file ----

std::string UpdateClient::GetUpdateValue(const std::string& key) const {
    return gx::GetUpdateValue(FUpdateInfo, key);
}

std::string UpdateClient::GetFilesLocation() const {
    return GetUpdateValue(kFilesLocationKey);
}

std::string UpdateClient::GetSoftwareFile() const {
    return GetUpdateValue(kSoftwareFileKey);
}

std::string UpdateClient::GetSoftwareBuildVersion() const {
    return GetUpdateValue(kSoftwareBuildVersionKey);
}

std::string UpdateClient::GetSoftwareUpdateDate() const {
    return GetUpdateValue(kSoftwareUpdateDateKey);
}

std::int32_t UpdateClient::GetSoftwareSize() const {
    return ParseSoftwareSize(GetUpdateValue(kSoftwareSizeKey));
}

// ---- The check ----

void UpdateClient::Pause() {
    QEventLoop loop;
    QTimer::singleShot(kPauseMs, &loop, &QEventLoop::quit);
    loop.exec();
}

bool UpdateClient::GetOnce(THttpCli& client, const std::string& url, Stream& into) {
    client.URL = url;
    client.Username.clear();
    client.Password.clear();
    client.ModifiedSince = 0;
    client.ReceiveStream = &into;
    try {
        client.Get();
    } catch (const EHttpException&) {
        client.ReceiveStream = nullptr;
        return false;
    }
    client.ReceiveStream = nullptr;
    return true;
}

bool UpdateClient::Connect(const std::string& base, bool fallback, MemoryStream& reply) {
    ConnectValues values;
    values.id = CustomerId();
    values.w = IsWin10() ? Win10Version() : SystemVersionText();
    values.h = SystemVolumeSerial();
    values.idc = CustomerCode();
    const std::string url = ConnectUrl(base, values, fallback);
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        if (attempt > 1) {
            Pause();
        }
        // A failed attempt's partial reply must not stand in front of the next one's.
        reply.Clear();
        if (GetOnce(HTTP, url, reply)) {
            return true;
        }
    }
    return false;
}

void UpdateClient::ShowConnectionError(const char* title) {
    dialogs_->HideProgress();
    dialogs_->ShowStopBox(Utf8(title), Utf8(text::kConnectErrorLead) +
                                           QString::number(HTTP.StatusCode()) +
                                           Utf8(text::kConnectErrorTail));
}

void UpdateClient::CheckMiseAjour() {
    if (FUpdateRunning) {
        return;
    }
    FUpdateRunning = true;
    FDownloadFile.reset();
    CreateDialogs();
    const CheckEnd end(*this);
    if (!FAutoCheck) {
        dialogs_->ShowProgress(Utf8(text::kSearching), false);
    }
    DeleteOldInstallers(host_.programDir, GetTempDirectory());
    bool available = false;
    for (THttpCli* client : {&HTTP, &HTTP2}) {
        client->Proxy.clear();
        client->ProxyPort = "80";
        client->ProxyUsername.clear();
        client->ProxyPassword.clear();
    }

    std::string server = UpdateServerBase();
    MemoryStream reply;
    if (!Connect(server, false, reply)) {
        server = UpdateServerFallbackBase();
        if (!Connect(server, true, reply)) {
            ShowConnectionError(text::kConnectErrorTitle);
            return;
        }
    }
    // The restart program starts in the current folder.
    [[maybe_unused]] const int changed = ::chdir(host_.programDir.c_str());
    if (const auto refusal = ConnectRefusal(reply.Data())) {
        dialogs_->HideProgress();
        dialogs_->ShowStopBox(Utf8(text::kConnectErrorTitle), FromCp1252(*refusal));
        return;
    }

    MemoryStream description;
    if (!GetOnce(HTTP, server + kDescriptionPath, description)) {
        ShowConnectionError(text::kDescriptionErrorTitle);
        return;
    }
    FUpdateInfo = SplitLines(description.Data());
    std::string version;
    std::string date;
    if (!FUpdateInfo.empty() && !GetFilesLocation().empty()) {
        version = GetSoftwareBuildVersion();
        date = GetSoftwareUpdateDate();
        FExpectedSize = GetSoftwareSize();
        // Equality only: an older or empty published version is offered as well.
        available = version != kRunningBuild;
    }
    dialogs_->HideProgress();
    if (!available) {
        if (!FAutoCheck) {
            dialogs_->ShowMessageBox(Utf8(text::kUpToDateTitle), Utf8(text::kUpToDateText));
        }
        return;
    }
    const QString offer =
        Utf8(text::kUpdateOfferLead) + FromCp1252(version) + Utf8(text::kUpdateOfferTail);
    if (dialogs_->AskToDownload(offer)) {
        Download(version, date);
    }
}

// ---- The download and the hand-over ----

void UpdateClient::HTTP2DocBegin() {
    FReceivedBytes = 0;
}

void UpdateClient::HTTP2DocData(int length) {
    if (!dialogs_ || !dialogs_->ProgressVisible()) {
        return;
    }
    FReceivedBytes += length;
    if (const auto percent = ProgressPercent(FReceivedBytes, FExpectedSize)) {
        dialogs_->SetProgress(*percent);
    }
}

void UpdateClient::ShowTargetError(const std::string& folder) {
    dialogs_->HideProgress();
    const QString named =
        folder == kNoTempDirectory ? Utf8(text::kNoTempFolder) : QString::fromStdString(folder);
    dialogs_->ShowStopBox(Utf8(text::kDownloadErrorTitle),
                          Utf8(text::kTargetErrorLead) + named + Utf8(text::kTargetErrorTail));
}

bool UpdateClient::ContentAccepted(const std::string& target) const {
    if (!HasUpdateKey(FUpdateInfo, kSoftwareSha256Key)) {
        return true;  // nothing published to compare with
    }
    return FileMatchesSha256(target, GetUpdateValue(kSoftwareSha256Key));
}

bool UpdateClient::DownloadAttempt(const std::string& address, const std::string& target,
                                   bool& created) {
    // Each attempt starts from an empty file of its own; whatever lies under the name (an
    // earlier part, a read-only file, a planted link) is removed, never written through.
    ForceDeleteFile(target);
    FDownloadFile = CreateDownloadTarget(target);
    created = FDownloadFile != nullptr;
    if (!created) {
        return false;
    }
    HTTP2.URL = address;
    HTTP2.Username.clear();
    HTTP2.Password.clear();
    HTTP2.ReceiveStream = FDownloadFile.get();
    bool received = true;
    try {
        HTTP2.Get();
    } catch (const EHttpException&) {
        received = false;
    }
    FDownloadFile.reset();
    HTTP2.ReceiveStream = nullptr;
    return received && ContentAccepted(target);
}

void UpdateClient::Download(const std::string& version, const std::string& date) {
    dialogs_->ShowProgress(Utf8(text::kDownloading), true);
    dialogs_->SetProgress(0);
    const std::string address = GetFilesLocation() + GetSoftwareFile();
    FExpectedSize = GetSoftwareSize();
    const std::string folder = GetTempDirectory();
    if (folder == kNoTempDirectory) {
        ShowTargetError(folder);
        return;
    }
    const std::string target = folder + kDownloadFileName;
    bool downloaded = false;
    for (int attempt = 1; attempt <= kAttempts && !downloaded; ++attempt) {
        if (attempt > 1) {
            Pause();
        }
        bool created = false;
        downloaded = DownloadAttempt(address, target, created);
        if (!created) {
            ShowTargetError(folder);
            return;
        }
        if (!downloaded) {
            dialogs_->ShowStopBox(Utf8(text::kDownloadErrorTitle),
                                  Utf8(text::kDownloadErrorLead) +
                                      QString::number(HTTP2.StatusCode()) +
                                      Utf8(text::kDownloadErrorTail));
        }
    }
    if (!downloaded) {
        return;
    }
    dialogs_->HideProgress();
    dialogs_->ShowApplied(Utf8(text::kAppliedLead) + FromCp1252(version) +
                          Utf8(text::kAppliedDateJoin) + FromCp1252(date));
    if (host_.ProtectionActive && host_.ProtectionActive()) {
        host_.StopProtection();
    }
    host_.OpenRestartProgram(host_.programDir + kRestartProgramName + kExecutableSuffix);
    host_.StartQuitTimer();
}

}  // namespace gx
