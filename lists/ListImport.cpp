#include "lists/ListImport.h"

#include <unordered_set>

#include "platform/text/AsciiText.h"

namespace gx {

ImportResult ImportFeed(std::string_view feed) {
    ImportResult result;
    std::unordered_set<std::string> seen;
    while (!feed.empty()) {
        size_t end = feed.find('\n');
        std::string_view line = ascii::Trim(feed.substr(0, end));
        feed = end == std::string_view::npos ? std::string_view() : feed.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty() || line.front() == '#') {
            ++result.skipped;
            continue;
        }
        for (std::string_view scheme : {"http://", "https://"}) {
            if (ascii::StartsWithNoCase(line, scheme)) {
                line.remove_prefix(scheme.size());
                break;
            }
        }
        std::string entry(line);
        size_t slash = entry.find('/');
        bool rootOnly = slash != std::string::npos && slash + 1 == entry.size();
        if (rootOnly) {
            entry += '*';
        } else if (slash == std::string::npos) {
            entry += "/*";  // a bare host names the whole host too
            rootOnly = true;
        }
        if (!seen.insert(ascii::Lower(entry)).second) {
            ++result.duplicates;
            continue;
        }
        bool wholeHost = rootOnly || ascii::EndsWith(entry, "/*");
        ++(wholeHost ? result.wholeHosts : result.addresses);
        result.text += entry;
        result.text += '\n';
    }
    return result;
}

}  // namespace gx
