// Where the list bundles stand in the update tree, and the small index that names the newest:
//
//   /update2024/gardalix/lists/gxlists.txt        LISTS_SERIAL=..;  LISTS_FILE=..;
//                                                 LISTS_SIZE=..;    LISTS_SHA256=..;
//   /update2024/gardalix/lists/<LISTS_FILE>       the bundle (ListBundle.h)
//
// The lines read like the update description file ("KEY=value;", UpdateProtocol.h). The file
// is a plain name in the same folder: an index cannot send the program elsewhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace gx {

inline constexpr char kListsSiteFolder[] = "update2024/gardalix/lists";
inline constexpr char kListsIndexName[] = "gxlists.txt";
inline constexpr char kListsSerialKey[] = "LISTS_SERIAL=";
inline constexpr char kListsFileKey[] = "LISTS_FILE=";
inline constexpr char kListsSizeKey[] = "LISTS_SIZE=";
inline constexpr char kListsSha256Key[] = "LISTS_SHA256=";

struct ListsIndex {
    std::uint64_t serial = 0;
    std::string file;
    std::uint64_t size = 0;
    std::string sha256;  // lower-case hex
};

// The index's values; serial 0 when the index is unusable (a value missing or malformed, a file
// that is not a plain name).
ListsIndex ParseListsIndex(std::string_view text);
std::string EncodeListsIndex(const ListsIndex& index);

// The addresses of the index and of a bundle on a server ("http://host[:port]").
std::string ListsIndexUrl(std::string_view base);
std::string ListsBundleUrl(std::string_view base, std::string_view file);

}  // namespace gx
