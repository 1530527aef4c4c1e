#include "update/ListsIndex.h"

#include <charconv>
#include <vector>

#include "update/UpdateProtocol.h"

namespace gx {

namespace {

bool ParseNumber(std::string_view text, std::uint64_t& value) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return !text.empty() && error == std::errc() && stop == end;
}

bool IsPlainName(std::string_view name) {
    return !name.empty() && name.size() <= 128 && name != "." && name != ".." &&
           name.find_first_not_of(
               "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
               "0123456789._-") == std::string_view::npos;
}

bool IsSha256Hex(std::string_view hex) {
    return hex.size() == 64 && hex.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

}  // namespace

ListsIndex ParseListsIndex(std::string_view text) {
    const std::vector<std::string> lines = SplitLines(text);
    ListsIndex index;
    index.file = GetUpdateValue(lines, kListsFileKey);
    index.sha256 = GetUpdateValue(lines, kListsSha256Key);
    for (char& c : index.sha256) {
        c = (c >= 'A' && c <= 'F') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    if (!ParseNumber(GetUpdateValue(lines, kListsSerialKey), index.serial) ||
        !ParseNumber(GetUpdateValue(lines, kListsSizeKey), index.size) ||
        !IsPlainName(index.file) || !IsSha256Hex(index.sha256)) {
        return {};
    }
    return index;
}

std::string EncodeListsIndex(const ListsIndex& index) {
    return std::string(kListsSerialKey) + std::to_string(index.serial) + ";\r\n" + kListsFileKey +
           index.file + ";\r\n" + kListsSizeKey + std::to_string(index.size) + ";\r\n" +
           kListsSha256Key + index.sha256 + ";\r\n";
}

std::string ListsIndexUrl(std::string_view base) {
    return ListsBundleUrl(base, kListsIndexName);
}

std::string ListsBundleUrl(std::string_view base, std::string_view file) {
    return std::string(base) + "/" + kListsSiteFolder + "/" + std::string(file);
}

}  // namespace gx
