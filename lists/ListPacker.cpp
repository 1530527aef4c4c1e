#include "lists/ListPacker.h"

#include "lists/ListFile.h"
#include "platform/codepage/Cp1252.h"

namespace gx {

const ListKindInfo& InfoOf(ListKind kind) {
    static const ListKindInfo kMalware{kMalwareRecordSize, kMalwareRecordSize - 1, 0, "gx_mu.dat"};
    static const ListKindInfo kAdult{kAdultRecordSize, kAdultRecordSize - 1, 512, "gx_pu.dat"};
    return kind == ListKind::Malware ? kMalware : kAdult;
}

bool ParseListKind(std::string_view word, ListKind& kind) {
    if (word == "malware") {
        kind = ListKind::Malware;
    } else if (word == "adult") {
        kind = ListKind::Adult;
    } else {
        return false;
    }
    return true;
}

PackResult PackList(ListKind kind, std::string_view source) {
    const ListKindInfo& info = InfoOf(kind);
    PackResult result;
    size_t entries = 0;
    size_t lineNumber = 0;
    while (!source.empty()) {
        ++lineNumber;
        const size_t end = source.find('\n');
        std::string_view line = source.substr(0, end);
        source = end == std::string_view::npos ? std::string_view{} : source.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const auto entry = Utf8ToCp1252(line);
        if (!entry) {
            result.errorLine = lineNumber;
            result.error = "l'entrée contient un caractère hors de Windows-1252";
            return result;
        }
        if (entry->size() > info.maxEntryBytes) {
            result.errorLine = lineNumber;
            result.error = "l'entrée dépasse " + std::to_string(info.maxEntryBytes) + " octets";
            return result;
        }
        if (info.maxEntries != 0 && ++entries > info.maxEntries) {
            result.errorLine = lineNumber;
            result.error = "la liste dépasse " + std::to_string(info.maxEntries) + " entrées";
            return result;
        }
        result.records += ScrambleRecord(*entry, info.recordSize);
    }
    result.ok = true;
    return result;
}

}  // namespace gx
