// What the console asks of the rest of the program: the block lists, the engine, the settings
// and history store. The console calls them only through this table, so that a window can be
// built around the real program (ProgramServices) or around a table of a test's own.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/GX_Main.h"
#include "store/GX_ConfigReg.h"
#include "update/ListsRefresh.h"

namespace gx {

// Whether HTTPS sites are protected for the user: the trust marker names the root in use. And
// whether the machine's store holds a root of ours (taking it away then needs the
// administrator).
struct HttpsTrust {
    bool sitesProtected = false;
    bool inSystemStore = false;
};

struct ConsoleServices {
    // Block lists, from the program directory. True when the whole file was read.
    std::function<bool()> LoadPornURLList;
    std::function<bool()> LoadMalwareURLList;
    // After both: the lists downloaded by an earlier refresh, when newer (true when taken).
    std::function<bool()> LoadDownloadedLists;
    // What the lists in use are, in French (UTF-8), for the Filtrage tab.
    std::function<std::string()> ListsSummary;
    // Where the refresh finds the maker's key and keeps the downloaded lists; the refresh runs
    // only when this is set.
    std::function<ListsPlaces()> ListsRefreshPlaces;

    // Engine.
    std::function<bool()> StartDriver;
    // True when the system service protects every account and this console is only its window
    // (null: the console's own protection).
    std::function<bool()> ProtectedByService;
    std::function<void()> StopDriver;
    std::function<void()> ClearExemptionTables;
    // Every block since the last call, oldest first.
    std::function<std::vector<BlockEvent>()> TakeBlockEvents;
    std::function<void(ArmBlockTimerHook)> SetArmBlockTimerHook;
    std::function<void(BlockAlertHook)> SetBlockAlertHook;
    // Where the proxy listens, for the message of a console without a display ("" = unknown).
    std::function<std::string()> ProxyAddress;

    // Settings and history. Texts are Windows-1252.
    std::function<bool()> ReadPornFilter;
    std::function<void(bool on)> WritePornFilter;
    // Writes one history entry for a block, dated now, with the program that asked for it.
    std::function<void(const std::string& url, const std::string& reason,
                       const std::string& program)>
        AddBlockLogEntry;
    // Every history entry (its name and its program), in the store's order.
    std::function<std::vector<LogValue>()> ReadLogEntries;
    // The parental code's stored hash ("" = no code), storing a new one, removing it.
    std::function<std::string()> ReadParentalCode;
    std::function<void(const std::string& hash)> WriteParentalCode;
    std::function<void()> RemoveParentalCode;
    // Whether a code typed by the user is the parental code; when not set, the console checks
    // it against ReadParentalCode's hash itself.
    std::function<bool(const std::string& code)> CheckParentalCode;

    // HTTPS trust: its state, the tool that installs and removes it (ProgramDir + "gx-driver")
    // and pkexec, which runs the tool as administrator ("" when there is none).
    std::function<HttpsTrust()> ReadHttpsTrust;
    std::function<std::string()> DriverToolPath;
    std::function<std::string()> PkexecPath;
};

// The program's own services.
ConsoleServices ProgramServices();

}  // namespace gx
