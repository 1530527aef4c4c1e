#include "update/ListsRefresh.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>

#include "lists/GX_PornURL.h"
#include "lists/ListsInUse.h"
#include "platform/program/CappedLog.h"
#include "platform/program/FdText.h"
#include "platform/program/GX_COM.h"
#include "platform/program/LocalTime.h"
#include "platform/program/UserDataFolder.h"
#include "platform/program/WholeFile.h"
#include "platform/registry/Registry.h"
#include "store/GX_ConfigReg.h"
#include "update/BuildFile.h"
#include "update/ListBundle.h"
#include "update/ListsIndex.h"
#include "update/UpdateSettings.h"

namespace gx {

namespace {

constexpr char kListsFolderName[] = "lists";
constexpr off_t kLogBound = 64 * 1024;

void LogLine(const std::string& folder, const std::string& text) {
    AppendLogLine(folder + "/" + kListsLogName, text, kLogBound);
}

// The folder and the ones above it where missing; the folder itself for this user only.
void MakePrivateFolder(const std::string& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    ::chmod(folder.c_str(), 0700);
}

std::optional<std::string> MakerKey(const ListsPlaces& places) {
    return ReadWholeFile(places.programDir + kUpdatePublicKeyName);
}

// Publishes the checked content as the lists in use.
void Publish(const ListBundleContent& content, std::time_t refreshed) {
    BlockLists lists;
    lists.malware = MalwareList::FromEntries(content.malware);
    lists.adult = SetAdultUrlTable(content.adult);
    lists.origin.serial = content.serial;
    lists.origin.refreshed = refreshed;
    lists.origin.downloaded = true;
    PublishLists(std::move(lists));
}

// A memory stream that refuses to grow past its bound, so that a server cannot make the
// program hold more than the index announced: the client then ends the request as failed.
class BoundedStream final : public Stream {
  public:
    explicit BoundedStream(std::uint64_t bound) : bound_(bound) {}
    std::int64_t Size() const override { return inner_.Size(); }
    std::int64_t Position() const override { return inner_.Position(); }
    bool Seek(std::int64_t position) override { return inner_.Seek(position); }
    bool Write(const char* data, std::size_t length) override {
        if (static_cast<std::uint64_t>(inner_.Position()) + length > bound_) {
            return false;
        }
        return inner_.Write(data, length);
    }
    bool SetSize(std::int64_t size) override { return inner_.SetSize(size); }
    const std::string& Data() const { return inner_.Data(); }

  private:
    MemoryStream inner_;
    std::uint64_t bound_;
};

// "12 345": groups of three digits, as French writes them.
std::string Grouped(std::size_t number) {
    const std::string digits = std::to_string(number);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            grouped += ' ';
        }
        grouped += digits[i];
    }
    return grouped;
}

}  // namespace

std::string StoredListsFolder() {
    return ProgramDataFolder(CurrentUserDataBase(), kListsFolderName);
}

ListsPlaces ProgramListsPlaces() {
    return {ProgramDir(), StoredListsFolder()};
}

bool TakeStoredLists(const ListsPlaces& places) {
    const std::string path = places.storeFolder + "/" + kStoredListsName;
    const std::optional<std::string> bytes = ReadWholeFile(path);
    const std::optional<std::string> key = MakerKey(places);
    if (!bytes || !key) {
        return false;
    }
    // The folder is the user's to write: the bundle is checked again at every start.
    const CheckedListBundle checked = CheckListBundle(*bytes, *key);
    if (checked.fault != ListBundleFault::None) {
        LogLine(places.storeFolder,
                "listes enregistrées refusées : " + DescribeListFault(checked.fault));
        return false;
    }
    if (checked.content.serial <= ListsInUse()->origin.serial) {
        return false;  // the lists beside the program are as new or newer
    }
    struct stat status;
    Publish(checked.content, ::stat(path.c_str(), &status) == 0 ? status.st_mtime : 0);
    return true;
}

std::string ListsSummary() {
    const std::shared_ptr<const BlockLists> lists = ListsInUse();
    const std::string when = LocalTimeText(lists->origin.refreshed, "%d/%m/%Y à %H:%M");
    const std::string lead = lists->origin.downloaded
                                 ? "Listes mises à jour le " + when
                                 : "Listes livrées avec le programme, du " + when;
    return lead + " : " + Grouped(lists->malware->AddressCount()) + " adresses et " +
           Grouped(lists->malware->HostCount()) + " sites entiers bloqués.";
}

ListsRefresh::ListsRefresh(ListsPlaces places, QObject* parent)
    : QObject(parent), places_(std::move(places)) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &ListsRefresh::TimerTick);
}

void ListsRefresh::Start() {
    timer_.start(kFirstCheckMs);
}

void ListsRefresh::TimerTick() {
    int hours = kDefaultListsRefreshHours;
    try {
        hours = ListsRefreshHours();
    } catch (const ERegistryException&) {
        // A value of the wrong type: refreshed as by default.
    }
    if (hours == 0) {
        timer_.start(kOffRecheckMs);
        return;
    }
    RefreshLists();
    timer_.start(hours * 60 * 60 * 1000);
}

std::string ListsRefresh::RefreshLists() {
    if (running_) {
        return {};
    }
    running_ = true;
    MakePrivateFolder(places_.storeFolder);
    const std::string line = Refresh();
    running_ = false;
    LogLine(places_.storeFolder, line);
    return line;
}

std::optional<std::string> ListsRefresh::Fetch(const std::string& url, std::uint64_t bound) {
    BoundedStream body(bound);
    HTTP.URL = url;
    HTTP.Username.clear();
    HTTP.Password.clear();
    HTTP.ModifiedSince = 0;
    HTTP.Proxy.clear();  // like the update check: always directly
    HTTP.ReceiveStream = &body;
    try {
        HTTP.Get();
    } catch (const EHttpException&) {
        HTTP.ReceiveStream = nullptr;
        return std::nullopt;
    }
    HTTP.ReceiveStream = nullptr;
    if (HTTP.StatusCode() != 200) {
        return std::nullopt;
    }
    return body.Data();
}

std::string ListsRefresh::Refresh() {
    for (const std::string& server : {UpdateServerBase(), UpdateServerFallbackBase()}) {
        if (const auto index = Fetch(ListsIndexUrl(server), kMaxListsIndexBytes)) {
            return TakeBundle(server, *index);
        }
    }
    return "listes inchangées : serveurs de mise à jour injoignables";
}

std::string ListsRefresh::TakeBundle(const std::string& server, const std::string& indexText) {
    const ListsIndex index = ParseListsIndex(indexText);
    const std::uint64_t inUse = ListsInUse()->origin.serial;
    if (index.serial == 0) {
        return "listes inchangées : index illisible sur " + server;
    }
    if (index.serial <= inUse) {
        return "listes à jour (n° " + std::to_string(inUse) + ")";
    }
    constexpr std::uint64_t kMaxBundle =
        kListBundleHeaderSize + kMaxListPayloadBytes + kBuildSignatureSize;
    if (index.size > kMaxBundle) {
        return "listes inchangées : " + DescribeListFault(ListBundleFault::TooLarge);
    }
    const auto bundle = Fetch(ListsBundleUrl(server, index.file), index.size);
    if (!bundle) {
        return "listes inchangées : téléchargement de " + index.file +
               " impossible ou plus "
               "grand qu'annoncé";
    }
    if (bundle->size() != index.size || Sha256Hex(*bundle) != index.sha256) {
        return "listes inchangées : " + index.file + " ne correspond pas à l'index";
    }
    const std::optional<std::string> key = MakerKey(places_);
    if (!key) {
        return "listes inchangées : clé " + std::string(kUpdatePublicKeyName) + " illisible";
    }
    const CheckedListBundle checked = CheckListBundle(*bundle, *key);
    if (checked.fault != ListBundleFault::None) {
        return "listes inchangées : " + DescribeListFault(checked.fault);
    }
    // The serial inside the signed bundle decides, not the index's word for it.
    if (checked.content.serial != index.serial || checked.content.serial <= inUse) {
        return "listes inchangées : n° " + std::to_string(checked.content.serial) +
               " pas plus récent que n° " + std::to_string(inUse);
    }
    const bool stored = ReplaceFile(places_.storeFolder + "/" + kStoredListsName, *bundle, 0600);
    Publish(checked.content, std::time(nullptr));
    emit ListsChanged();
    return "listes n° " + std::to_string(checked.content.serial) + " en service (" +
           std::to_string(checked.content.malware.size()) + " entrées)" +
           (stored ? "" : ", mais impossibles à enregistrer dans " + places_.storeFolder);
}

}  // namespace gx
