#include "lists/ListsInUse.h"

#include <atomic>
#include <utility>

namespace gx {
namespace {

std::shared_ptr<const BlockLists> EmptyLists() {
    auto lists = std::make_shared<BlockLists>();
    lists->malware = MalwareList::FromEntries({});
    lists->adult = std::make_shared<AdultList>(std::vector<std::string_view>{});
    return lists;
}

// Read by every request on the proxy's threads, written on the main thread.
std::atomic<std::shared_ptr<const BlockLists>>& Current() {
    static std::atomic<std::shared_ptr<const BlockLists>> current{EmptyLists()};
    return current;
}

}  // namespace

std::shared_ptr<const BlockLists> ListsInUse() {
    return Current().load(std::memory_order_acquire);
}

void PublishLists(BlockLists lists) {
    const std::shared_ptr<const BlockLists> old = ListsInUse();
    if (!lists.malware) {
        lists.malware = old->malware;
    }
    if (!lists.adult) {
        lists.adult = old->adult;
    }
    Current().store(std::make_shared<const BlockLists>(std::move(lists)),
                    std::memory_order_release);
}

}  // namespace gx
