// The lists in use replaced again and again while threads look up, as the proxy's threads do
// while a refresh publishes new lists.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "lists/GX_MalwareURL.h"
#include "lists/ListsInUse.h"

namespace gx {
namespace {

// Lists that block exactly one of the two addresses, and both.example/; many entries, so that
// building and freeing them takes a while.
BlockLists ListsBlocking(const std::string& address, std::uint64_t serial) {
    std::vector<std::string> entries;
    for (int i = 0; i < 20000; ++i) {
        entries.push_back("filler" + std::to_string(i) + ".example/");
    }
    entries.push_back(address);
    entries.push_back("both.example/");
    BlockLists lists;
    lists.malware = MalwareList::FromEntries(entries);
    lists.adult = std::make_shared<AdultList>(std::vector<std::string_view>{});
    lists.origin.serial = serial;
    return lists;
}

TEST(ListsSwap, EveryLookupDuringRepeatedSwapsIsAnsweredByOneWholeListOrTheOther) {
    const BlockLists first = ListsBlocking("first.example/", 1);
    const BlockLists second = ListsBlocking("second.example/", 2);
    PublishLists(first);
    std::atomic<bool> swapping{true};
    std::atomic<long> lookups{0};
    std::atomic<long> torn{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 3; ++t) {
        workers.emplace_back([&] {
            while (swapping.load()) {
                // One request: one object for all its questions.
                const auto lists = ListsInUse();
                const bool blocksFirst = lists->malware->Contains("first.example/");
                const bool blocksSecond = lists->malware->Contains("second.example/");
                const bool serialAgrees = lists->origin.serial == (blocksFirst ? 1u : 2u);
                torn += (blocksFirst == blocksSecond || !serialAgrees) ? 1 : 0;
                // The free lookup, which takes the lists in use itself, always answers too.
                torn += IsMalwareURL("both.example/") ? 0 : 1;
                ++lookups;
            }
        });
    }
    for (int swap = 0; swap < 400; ++swap) {
        PublishLists(swap % 2 == 0 ? second : first);
        // Fresh objects as well, so that old ones are freed while lookups hold them.
        if (swap % 50 == 0) {
            PublishLists(ListsBlocking(swap % 100 == 0 ? "first.example/" : "second.example/",
                                       swap % 100 == 0 ? 1 : 2));
        }
    }
    swapping = false;
    for (auto& worker : workers) {
        worker.join();
    }
    EXPECT_GT(lookups.load(), 0);
    EXPECT_EQ(torn.load(), 0);
}

}  // namespace
}  // namespace gx
