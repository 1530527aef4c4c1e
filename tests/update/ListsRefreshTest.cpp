// The refresh of the block lists against a loopback server that serves, as a static server
// would, the tree that the real gx-publish wrote; the lists in use are the program's own.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSignalSpy>
#include <filesystem>
#include <fstream>
#include <functional>

#include "UpdateTestSupport.h"
#include "engine/RequestSpellings.h"
#include "lists/ListsInUse.h"
#include "platform/registry/Registry.h"
#include "platform/registry/TempHive.h"
#include "store/GX_ConfigReg.h"
#include "support/RunCommand.h"
#include "support/TempFolder.h"
#include "update/BuildFile.h"
#include "update/ListBundle.h"
#include "update/ListsIndex.h"
#include "update/ListsRefresh.h"
#include "update/UpdateSettings.h"

namespace gx::test {
namespace {

namespace fs = std::filesystem;
using gx::testing::RunCommand;
using gx::testing::TempFolder;

const std::string kIndexPath = std::string("/") + kListsSiteFolder + "/" + kListsIndexName;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// The lists that the program shipped with, in use before any refresh.
BlockLists Shipped(std::uint64_t serial) {
    BlockLists lists;
    lists.malware = MalwareList::FromEntries({"shipped.example/"});
    lists.adult = std::make_shared<AdultList>(std::vector<std::string_view>{});
    lists.origin.serial = serial;
    return lists;
}

bool Blocked(const std::string& address) {
    return RequestSpellings(address, "").IsMalware();
}

// Public: the table of damages below reaches the fixture through a reference.
class ListsRefreshTest : public gx::testing::TempHiveTest {
  public:
    void SetUp() override {
        TempHiveTest::SetUp();
        MakeKey("maker");
        fs::copy_file(keys_.File("maker.pub"), programDir_.File(kUpdatePublicKeyName));
        SetText(kUpdateServerValue, main_.Base());
        SetText(kUpdateServerFallbackValue, UnreachableBase());
        PublishLists(Shipped(1000));
    }

    static void SetText(const char* name, const std::string& value) {
        Registry registry;
        ASSERT_TRUE(registry.OpenKey(kGardalixKey, true));
        registry.WriteString(name, value);
    }

    void MakeKey(const std::string& name) {
        const auto run = RunCommand("timeout 60 " GX_PUBLISH_PROGRAM " keygen " +
                                    keys_.File(name + ".key") + " " + keys_.File(name + ".pub"));
        ASSERT_EQ(run.status, 0) << run.output;
    }

    // gx-publish lists with these sources, then the whole tree served as it is now.
    void Publish(const std::string& malware, const std::string& key = "maker") {
        WriteAll(keys_.File("MALWARE.txt"), malware);
        WriteAll(keys_.File("ADULT.txt"), "adulte-motif\n");
        const auto run = RunCommand("timeout 60 " GX_PUBLISH_PROGRAM " lists " +
                                    keys_.File(key + ".key") + " " + keys_.File("MALWARE.txt") +
                                    " " + keys_.File("ADULT.txt") + " " + site_.Path().string());
        ASSERT_EQ(run.status, 0) << run.output;
        ServeTree();
    }

    void ServeTree() {
        for (const auto& entry : fs::recursive_directory_iterator(site_.Path())) {
            if (entry.is_regular_file()) {
                main_.Serve("/" + entry.path().lexically_relative(site_.Path()).string(),
                            {200, ReadAll(entry.path())});
            }
        }
    }

    ListsIndex ServedIndex() const {
        return ParseListsIndex(ReadAll(site_.Path() / kListsSiteFolder / kListsIndexName));
    }
    std::string BundlePath(const ListsIndex& index) const {
        return std::string("/") + kListsSiteFolder + "/" + index.file;
    }
    fs::path BundleFile(const ListsIndex& index) const {
        return site_.Path() / kListsSiteFolder / index.file;
    }

    // Serves these bundle bytes under the published name, with an index that matches them.
    void ServeBundleWithMatchingIndex(const std::string& bundle) {
        ListsIndex index = ServedIndex();
        index.size = bundle.size();
        index.sha256 = Sha256Hex(bundle);
        main_.Serve(BundlePath(index), {200, bundle});
        main_.Serve(kIndexPath, {200, EncodeListsIndex(index)});
    }

    std::vector<std::string> LogLines() const {
        std::ifstream in(Places().storeFolder + "/" + kListsLogName);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    ListsPlaces Places() const {
        return {programDir_.Path().string() + "/", (store_.Path() / "lists").string()};
    }
    std::string StoredBundle() const { return Places().storeFolder + "/" + kStoredListsName; }

    QCoreApplication& app_ = App();  // before the servers: their sockets need the event loop
    UpdateServer main_;
    TempFolder keys_;
    TempFolder site_;
    TempFolder programDir_;
    TempFolder store_;
    ListsRefresh refresh_{Places()};
};

TEST_F(ListsRefreshTest, ANewerBundleIsTakenAndTheNextRequestIsJudgedByItWithoutARestart) {
    ASSERT_TRUE(Blocked("shipped.example/"));
    ASSERT_FALSE(Blocked("new.example/payload.exe"));
    Publish("new.example/payload.exe\nwhole.example/*\n");
    QSignalSpy changed(&refresh_, &ListsRefresh::ListsChanged);

    const std::string line = refresh_.RefreshLists();

    EXPECT_NE(line.find("en service"), std::string::npos) << line;
    EXPECT_EQ(changed.count(), 1);
    EXPECT_TRUE(Blocked("new.example/payload.exe"));
    EXPECT_TRUE(Blocked("whole.example/any/path"));
    EXPECT_FALSE(Blocked("shipped.example/"));  // the lists are replaced whole
    EXPECT_EQ(ListsInUse()->origin.serial, ServedIndex().serial);
    EXPECT_TRUE(ListsInUse()->origin.downloaded);
    EXPECT_NE(ListsSummary().find("Listes mises à jour le "), std::string::npos);
    EXPECT_NE(ListsSummary().find(": 1 adresses et 1 sites entiers"), std::string::npos)
        << ListsSummary();
    EXPECT_EQ(ReadAll(StoredBundle()), ReadAll(BundleFile(ServedIndex())));
    EXPECT_EQ(fs::status(Places().storeFolder).permissions() & fs::perms::all,
              fs::perms::owner_all);

    // The next start takes the stored lists again, since they are newer than the shipped ones.
    PublishLists(Shipped(1000));
    ASSERT_TRUE(TakeStoredLists(Places()));
    EXPECT_TRUE(Blocked("new.example/payload.exe"));
    // Shipped lists newer than the stored ones win.
    PublishLists(Shipped(ServedIndex().serial + 1));
    EXPECT_FALSE(TakeStoredLists(Places()));
    EXPECT_TRUE(Blocked("shipped.example/"));
}

TEST_F(ListsRefreshTest, ABundleThatFailsAnyCheckChangesNothingAndWritesOneLogLine) {
    using Spoil = std::function<void(ListsRefreshTest&)>;
    struct Case {
        const char* name;
        Spoil spoil;
        const char* logged;
    };
    const Case cases[] = {
        {"a byte of the payload changed, the index made to match",
         [](ListsRefreshTest& t) {
             std::string bundle = ReadAll(t.BundleFile(t.ServedIndex()));
             bundle[kListBundleHeaderSize + 5] ^= 0x20;
             t.ServeBundleWithMatchingIndex(bundle);
         },
         "signature"},
        {"a byte of the payload changed, the index as published",
         [](ListsRefreshTest& t) {
             std::string bundle = ReadAll(t.BundleFile(t.ServedIndex()));
             bundle[kListBundleHeaderSize + 5] ^= 0x20;
             t.main_.Serve(t.BundlePath(t.ServedIndex()), {200, bundle});
         },
         "ne correspond pas"},
        {"truncated, the index made to match",
         [](ListsRefreshTest& t) {
             const std::string bundle = ReadAll(t.BundleFile(t.ServedIndex()));
             t.ServeBundleWithMatchingIndex(bundle.substr(0, bundle.size() - 10));
         },
         "tronqué"},
        {"served shorter than the index says",
         [](ListsRefreshTest& t) {
             const std::string bundle = ReadAll(t.BundleFile(t.ServedIndex()));
             t.main_.Serve(t.BundlePath(t.ServedIndex()), {200, bundle.substr(0, 100)});
         },
         "ne correspond pas"},
        {"served longer than the index says",
         [](ListsRefreshTest& t) {
             const std::string bundle = ReadAll(t.BundleFile(t.ServedIndex()));
             t.main_.Serve(t.BundlePath(t.ServedIndex()), {200, bundle + std::string(100000, 'x')});
         },
         "plus grand qu'annoncé"},
        {"announced beyond the bound",
         [](ListsRefreshTest& t) {
             ListsIndex index = t.ServedIndex();
             index.size = kMaxListPayloadBytes + 1024;
             t.main_.Serve(kIndexPath, {200, EncodeListsIndex(index)});
         },
         "trop grand"},
        {"signed with another key",
         [](ListsRefreshTest& t) {
             t.MakeKey("other");
             t.Publish("new.example/payload.exe\n", "other");
         },
         "signature"},
        {"an index that is not one",
         [](ListsRefreshTest& t) {
             t.main_.Serve(kIndexPath, {200, "<html>maintenance</html>"});
         },
         "index illisible"},
        {"the bundle missing on the server",
         [](ListsRefreshTest& t) {
             t.main_.Serve(t.BundlePath(t.ServedIndex()), {404, ""});
         },
         "impossible"},
        {"no server answers",
         [](ListsRefreshTest&) { SetText(kUpdateServerValue, UnreachableBase()); }, "injoignables"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetText(kUpdateServerValue, main_.Base());
        PublishLists(Shipped(1000));
        const auto before = ListsInUse();
        Publish("new.example/payload.exe\n");
        c.spoil(*this);
        const size_t logged = LogLines().size();

        refresh_.RefreshLists();

        EXPECT_EQ(ListsInUse(), before);
        EXPECT_TRUE(Blocked("shipped.example/"));
        EXPECT_FALSE(Blocked("new.example/payload.exe"));
        EXPECT_FALSE(fs::exists(StoredBundle()));
        const auto lines = LogLines();
        ASSERT_EQ(lines.size(), logged + 1);
        EXPECT_NE(lines.back().find(c.logged), std::string::npos) << lines.back();
    }
}

TEST_F(ListsRefreshTest, AReplayedOlderBundleIsRefusedWhateverTheIndexClaims) {
    Publish("old.example/\n");
    const ListsIndex older = ServedIndex();
    const std::string olderBundle = ReadAll(BundleFile(older));
    Publish("new.example/\n");
    refresh_.RefreshLists();
    ASSERT_TRUE(Blocked("new.example/"));
    const auto inUse = ListsInUse();

    // The older bundle with its own honest index: nothing newer.
    main_.Serve(kIndexPath, {200, EncodeListsIndex(older)});
    EXPECT_NE(refresh_.RefreshLists().find("à jour"), std::string::npos);
    // The index lies about the serial: the signed serial inside the bundle decides.
    ListsIndex lying = older;
    lying.serial = inUse->origin.serial + 1;
    main_.Serve(kIndexPath, {200, EncodeListsIndex(lying)});
    EXPECT_NE(refresh_.RefreshLists().find("pas plus récent"), std::string::npos);

    EXPECT_EQ(ListsInUse(), inUse);
    EXPECT_FALSE(Blocked("old.example/"));
    EXPECT_EQ(PeekListSerial(ReadAll(StoredBundle())), inUse->origin.serial);
    EXPECT_NE(olderBundle, ReadAll(StoredBundle()));
}

TEST_F(ListsRefreshTest, TheFallbackServerIsAskedWhenTheUpdateServerIsDown) {
    UpdateServer fallback;
    Publish("new.example/\n");
    for (const auto& entry : fs::recursive_directory_iterator(site_.Path())) {
        if (entry.is_regular_file()) {
            fallback.Serve("/" + entry.path().lexically_relative(site_.Path()).string(),
                           {200, ReadAll(entry.path())});
        }
    }
    SetText(kUpdateServerValue, UnreachableBase());
    SetText(kUpdateServerFallbackValue, fallback.Base());
    refresh_.RefreshLists();
    EXPECT_TRUE(Blocked("new.example/"));
    EXPECT_EQ(fallback.Hits(kIndexPath), 1);
}

TEST_F(ListsRefreshTest, TheTimerRefreshesAMinuteAfterStartThenEveryConfiguredHours) {
    refresh_.Start();
    EXPECT_TRUE(refresh_.Timer()->isActive());
    EXPECT_EQ(refresh_.Timer()->interval(), ListsRefresh::kFirstCheckMs);
    Publish("new.example/\n");
    struct Case {
        int hours;
        int nextMs;
        int indexRequests;
    };
    const Case cases[] = {
        {0, ListsRefresh::kOffRecheckMs, 0},  // off: nothing asked, the setting read again later
        {2, 2 * 60 * 60 * 1000, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hours);
        Registry registry;
        ASSERT_TRUE(registry.OpenKey(kGardalixKey, true));
        registry.WriteInteger(kListsRefreshHoursValue, c.hours);
        const int before = main_.Hits(kIndexPath);
        refresh_.Timer()->start(0);
        for (int waited = 0; waited < 20000 && refresh_.Timer()->interval() != c.nextMs;
             waited += 10) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        EXPECT_EQ(refresh_.Timer()->interval(), c.nextMs);
        EXPECT_TRUE(refresh_.Timer()->isActive());
        EXPECT_EQ(main_.Hits(kIndexPath) - before, c.indexRequests);
    }
}

}  // namespace
}  // namespace gx::test
