// What the console asks of the rest of the program: the block lists, the engine, the settings
// and history store. The console calls them only through this table, so that a window can be
// built around the real program (ProgramServices) or around a table of a test's own.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/GX_Main.h"

namespace gx {

struct ConsoleServices {
    // Block lists, from the program directory. True when the whole file was read.
    std::function<bool()> LoadPornURLList;
    std::function<bool()> LoadMalwareURLList;

    // Engine.
    std::function<bool()> StartDriver;
    std::function<void()> StopDriver;
    std::function<void()> ClearExemptionTables;
    std::function<BlockEvent()> LastBlockEvent;
    std::function<void(ArmBlockTimerHook)> SetArmBlockTimerHook;
    // Where the proxy listens, for the message of a console without a display ("" = unknown).
    std::function<std::string()> ProxyAddress;

    // Settings and history. Texts are Windows-1252.
    std::function<bool()> ReadPornFilter;
    std::function<void(bool on)> WritePornFilter;
    // Writes one history entry for a block, dated now.
    std::function<void(const std::string& url, const std::string& reason)> AddBlockLogEntry;
    // Every history entry, in the store's order.
    std::function<std::vector<std::string>()> ReadLogEntries;
};

// The program's own services.
ConsoleServices ProgramServices();

}  // namespace gx
