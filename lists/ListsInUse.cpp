#include "lists/ListsInUse.h"

#include <mutex>
#include <utility>

namespace gx {
namespace {

std::shared_ptr<const BlockLists> EmptyLists() {
    auto lists = std::make_shared<BlockLists>();
    lists->malware = MalwareList::FromEntries({});
    lists->adult = std::make_shared<AdultList>(std::vector<std::string_view>{});
    return lists;
}

// Read by every request on the proxy's threads, written on the main thread. A small lock held
// only to copy the pointer: this compiler's std::atomic<std::shared_ptr> releases its inner lock
// without ordering after a load, which the thread checker rightly reports as a race.
struct Published {
    std::mutex lock;
    std::shared_ptr<const BlockLists> lists = EmptyLists();
};

Published& Current() {
    static Published current;
    return current;
}

}  // namespace

std::shared_ptr<const BlockLists> ListsInUse() {
    Published& current = Current();
    std::lock_guard<std::mutex> hold(current.lock);
    return current.lists;
}

void PublishLists(BlockLists lists) {
    const std::shared_ptr<const BlockLists> old = ListsInUse();
    if (!lists.malware) {
        lists.malware = old->malware;
    }
    if (!lists.adult) {
        lists.adult = old->adult;
    }
    std::shared_ptr<const BlockLists> next = std::make_shared<const BlockLists>(std::move(lists));
    Published& current = Current();
    {
        std::lock_guard<std::mutex> hold(current.lock);
        current.lists.swap(next);
    }
    // `next` now holds the lists that were in use: freed here, outside the lock, when no request
    // holds them any more.
}

}  // namespace gx
