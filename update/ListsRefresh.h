// The refresh of the block lists while the program runs.
//
// A minute after start, and then every LISTS_REFRESH_HOURS hours (GX_ConfigReg.h; 0 = never),
// the program reads the lists index (ListsIndex.h) from UPDATE_SERVER, else from its fallback,
// with the HTTP client and its time-outs. When the index names a serial above the lists in use,
// the bundle is downloaded from the same server (never more bytes than the index announced),
// checked (size, SHA-256, the maker's signature with gx_update.pub beside the program, the
// serial in the bundle itself) and only then stored in the user's data folder (replaced whole,
// never in the program folder, which the package keeps read-only) and published as the lists in
// use (lists/ListsInUse.h): requests under way finish with the old lists, the next ones get the
// new lists, and filtering never pauses.
//
// Whatever goes wrong (no server, a bad index, a bundle that is truncated, too large, tampered
// with, signed by another key, or not newer) leaves the lists in use as they are and writes one
// line to gx_lists.log in that folder; the user is not told. Every request is a Get that keeps
// the application's events flowing, as the update check's are. Main thread only.
#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <optional>
#include <string>

#include "http/HttpProt.h"

namespace gx {

inline constexpr char kStoredListsName[] = "gx_lists.dat";
inline constexpr char kListsLogName[] = "gx_lists.log";
inline constexpr std::size_t kMaxListsIndexBytes = 4096;

// The folder of the downloaded lists: "lists" in the user's data folder
// ($XDG_DATA_HOME/gardalix/lists, else ~/.local/share/gardalix/lists). Nothing is created.
std::string StoredListsFolder();

struct ListsPlaces {
    std::string programDir;   // with its trailing separator; the maker's key is read there
    std::string storeFolder;  // where the downloaded bundle and the log are kept
};
// The program's own places.
ListsPlaces ProgramListsPlaces();

// At start, after the lists beside the program are loaded: publishes the stored bundle when it
// still passes every check and is newer than the lists in use. True when it did.
bool TakeStoredLists(const ListsPlaces& places);

// What the lists in use are, in French (UTF-8), for the console and `gardalix --lists`.
std::string ListsSummary();

class ListsRefresh : public QObject {
    Q_OBJECT
  public:
    static constexpr int kFirstCheckMs = 60 * 1000;
    // When refreshing is off the setting is read again an hour later.
    static constexpr int kOffRecheckMs = 60 * 60 * 1000;

    explicit ListsRefresh(ListsPlaces places, QObject* parent = nullptr);

    // Arms the first refresh, a minute from now.
    void Start();
    // One refresh now; returns the line it wrote to the log.
    std::string RefreshLists();

    QTimer* Timer() { return &timer_; }
    THttpCli HTTP{"LISTS"};

  signals:
    // New lists are in use.
    void ListsChanged();

  private:
    void TimerTick();
    std::optional<std::string> Fetch(const std::string& url, std::uint64_t bound);
    std::string Refresh();
    std::string TakeBundle(const std::string& server, const std::string& indexText);

    ListsPlaces places_;
    QTimer timer_;
    bool running_ = false;
};

}  // namespace gx
