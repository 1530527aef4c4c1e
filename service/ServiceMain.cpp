// gardalix-service: the protection of every account of the machine, without a display. It runs
// the interception proxy (the explicit port, and the transparent listener when the redirect is
// installed for all accounts), the engine with the shipped lists, every account's policy and
// history, and the control channel through which each account's console reads and changes its
// own. Stopped by SIGTERM (systemd) or SIGINT; the blocks still on their way are written first.
//
//   gardalix-service [--state DOSSIER] [--control CHEMIN]
//
// The state folder (default /var/lib/gardalix) holds the accounts' settings and histories and
// the interception's own data (its root authority); the control channel defaults to
// /run/gardalix/control.
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "engine/GX_Main.h"
#include "lists/GX_MalwareURL.h"
#include "lists/GX_PornURL.h"
#include "platform/interception/Interception.h"
#include "service/AccountStore.h"
#include "service/ControlService.h"
#include "service/ControlSocket.h"

namespace {

using namespace gx;
using namespace gx::service;

constexpr const char* kDefaultState = "/var/lib/gardalix";

// The engine's hook, on a worker thread: wakes the writer of the histories.
std::mutex blocksMutex;
std::condition_variable blocksWaiting;
bool blocksArrived = false;
void WakeHistoryWriter() {
    std::lock_guard lock(blocksMutex);
    blocksArrived = true;
    blocksWaiting.notify_one();
}

int Fail(const std::string& problem) {
    std::fprintf(stderr, "gardalix-service : %s\n", problem.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string state = kDefaultState;
    std::string control = ControlPath();
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if ((option == "--state" || option == "--control") && i + 1 < argc) {
            (option == "--state" ? state : control) = argv[++i];
        } else {
            return Fail("option inconnue : " + option +
                        "\nUsage : gardalix-service [--state DOSSIER] [--control CHEMIN]");
        }
    }
    std::error_code failed;
    std::filesystem::create_directories(state, failed);
    if (failed) {
        return Fail("le dossier d'\xC3\xA9tat " + state +
                    " n'a pas pu \xC3\xAAtre cr\xC3\xA9\xC3\xA9");
    }
    // The interception keeps its data (the root authority) in the service's state, not in any
    // account's home.
    ::setenv("XDG_DATA_HOME", state.c_str(), 1);

    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGTERM);
    sigaddset(&stopping, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopping, nullptr);  // every thread made from here on too
    ::signal(SIGPIPE, SIG_IGN);

    if (!LoadMalwareURLList() || !LoadPornURLList()) {
        return Fail(
            "les listes de sites n'ont pas pu \xC3\xAAtre charg\xC3\xA9"
            "es");
    }
    AccountStore store(state);
    ControlService service(store, IsAdministrator);
    // Before the first request: no account is ever judged by anything but its own policy.
    service.PublishPolicies();

    SetArmBlockTimerHook(WakeHistoryWriter);
    if (!StartDriver()) {
        return Fail("la protection n'a pas pu d\xC3\xA9marrer");
    }
    ControlSocket socket(service);
    std::string error;
    if (!socket.Start(control, &error)) {
        StopDriver();
        return Fail(error);
    }
    std::fprintf(stderr,
                 "gardalix-service : protection en marche pour tous les comptes (proxy "
                 "127.0.0.1:%u%s), canal de contr\xC3\xB4le %s\n",
                 static_cast<unsigned>(interception::ExplicitProxyPort()),
                 interception::TransparentModeOn() ? ", mode transparent" : "", control.c_str());

    std::atomic<bool> running{true};
    std::thread historyWriter([&] {
        while (true) {
            {
                std::unique_lock lock(blocksMutex);
                blocksWaiting.wait_for(lock, std::chrono::seconds(1), [] { return blocksArrived; });
                blocksArrived = false;
            }
            for (const BlockEvent& block : TakeBlockEvents()) {
                service.Record(block);
            }
            if (!running) {
                return;
            }
        }
    });

    int signal = 0;
    sigwait(&stopping, &signal);
    std::fprintf(stderr, "gardalix-service : arr\xC3\xAAt demand\xC3\xA9\n");
    socket.Stop();
    StopDriver();
    SetArmBlockTimerHook(nullptr);
    running = false;
    WakeHistoryWriter();
    historyWriter.join();  // its last round takes what the engine still held
    return 0;
}
