// The update client: asks the update server (its fallback second) whether another build is
// published, offers it, downloads it into the user's temporary folder and hands over to the
// restart program, which replaces the program's files and starts the new build.
//
// One check is one synchronous call on the main thread. Every request is a Get that keeps the
// application's events flowing while it waits, so the console stays usable: a second trigger
// during a check finds FUpdateRunning set and returns at once. Requests are tried up to five
// times, 500 ms apart (the pause keeps the events flowing too).
//
// The exchange, on the server named by UPDATE_SERVER (see UpdateSettings.h):
//   1. GET /update2024/gardalix/connect.php?id=&w=&l=&v=&h=&kdv=&idc=   answered "OK" (first line)
//      (the fallback gets only id, w, l and v)
//   2. GET /update2024/gardalix/fr/gardalix2024id.txt   lines "KEY=value;": FILES_LOCATION,
//      SOFTWARE_FILE, SOFTWARE_BUILD_VERSION, SOFTWARE_UPDATE_DATE, SOFTWARE_SIZE and, when
//      the publisher gives it, SOFTWARE_SHA256
//   3. GET FILES_LOCATION + SOFTWARE_FILE into <temporary folder>gxsoft.dat, checked against
//      SOFTWARE_SHA256 when given; then the protection stops, <program folder>gx_restart starts
//      without arguments in the program folder, and the program ends 500 ms later.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "http/HttpProt.h"
#include "http/Streams.h"

class QWidget;

namespace gx {

class UpdateDialogs;

// What the update client needs of the console.
struct UpdateHost {
    std::function<bool()> ProtectionActive;
    // Stops the engine and shows the console's off state.
    std::function<void()> StopProtection;
    // Arms the quit timer, whose tick ends the process.
    std::function<void()> StartQuitTimer;
    // Starts the restart program; by default through the desktop, without arguments.
    std::function<void(const std::string& program)> OpenRestartProgram;
    // The program folder, with its trailing separator.
    std::string programDir;
    // Parent of the error boxes.
    QWidget* owner = nullptr;
};

class UpdateClient {
  public:
    static constexpr int kAttempts = 5;
    static constexpr int kPauseMs = 500;

    explicit UpdateClient(UpdateHost host);
    ~UpdateClient();
    UpdateClient(const UpdateClient&) = delete;
    UpdateClient& operator=(const UpdateClient&) = delete;

    // The four update dialogs, created once (the first check creates them when nobody did).
    void CreateDialogs();
    UpdateDialogs& Dialogs();

    // The two triggers: the automatic check's timer tick (after disarming the timer) and the
    // console's "Rechercher mise à jour ..." link.
    void TimerCheckMiseAjourTimer();
    void Label_MiseAJourClick();

    // The whole check, download and hand-over included. Reports every outcome itself.
    void CheckMiseAjour();

    // The description file's values (Windows-1252).
    std::string GetUpdateValue(const std::string& key) const;
    std::string GetFilesLocation() const;
    std::string GetSoftwareFile() const;
    std::string GetSoftwareBuildVersion() const;
    std::string GetSoftwareUpdateDate() const;
    std::int32_t GetSoftwareSize() const;

    // Progress of the download.
    void HTTP2DocBegin();
    void HTTP2DocData(int length);

    bool FUpdateRunning = false;
    bool FAutoCheck = false;
    std::vector<std::string> FUpdateInfo;
    std::int64_t FExpectedSize = 0;
    std::int64_t FReceivedBytes = 0;
    std::unique_ptr<FileStream> FDownloadFile;
    THttpCli HTTP{"HTTP"};
    THttpCli HTTP2{"HTTP2"};

  private:
    class CheckEnd;

    bool Connect(const std::string& base, bool fallback, MemoryStream& reply);
    bool GetOnce(THttpCli& client, const std::string& url, Stream& into);
    void Download(const std::string& version, const std::string& date);
    bool DownloadAttempt(const std::string& address, const std::string& target, bool& created);
    bool ContentAccepted(const std::string& target) const;
    void ShowConnectionError(const char* title);
    void ShowTargetError(const std::string& folder);
    static void Pause();

    UpdateHost host_;
    std::unique_ptr<UpdateDialogs> dialogs_;
};

}  // namespace gx
