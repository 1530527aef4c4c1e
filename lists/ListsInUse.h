// The block lists in use, replaced whole while the program runs.
//
// The lists are an immutable object published through one shared pointer. A request
// takes the object once (ListsInUse) and asks all its questions of that object, so it is judged
// by the old lists or by the new ones, never by a mix and never by none; the object lives until
// the last request that holds it ends. Publishing (on the main thread: a start, a refresh) and
// taking the lists share one small lock, held only while the pointer is copied: neither ever
// waits for a lookup.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "lists/AdultList.h"
#include "lists/MalwareList.h"

namespace gx {

// Where the lists in use came from.
struct ListsOrigin {
    std::uint64_t serial = 0;   // the list serial (the shipped lists: their file's date)
    std::time_t refreshed = 0;  // when these lists were published by the maker or installed
    bool downloaded = false;    // from a refresh, not the files beside the program
};

struct BlockLists {
    std::shared_ptr<const MalwareList> malware;
    std::shared_ptr<const AdultList> adult;
    ListsOrigin origin;
};

// The lists in use; never null (empty lists before the first load).
std::shared_ptr<const BlockLists> ListsInUse();

// Makes these the lists in use; a null member keeps the one in use.
void PublishLists(BlockLists lists);

}  // namespace gx
