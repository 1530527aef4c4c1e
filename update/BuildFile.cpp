#include "update/BuildFile.h"

#include <cstring>
#include <memory>
#include <set>

namespace gx {

namespace {

constexpr std::size_t kMagicSize = 8;

// A cursor over the inflated archive that refuses to read past its end.
class Reader {
  public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}
    bool AtEnd() const { return at_ == bytes_.size(); }
    bool Take(std::size_t count, std::string_view& out) {
        if (count > bytes_.size() - at_) {
            return false;
        }
        out = bytes_.substr(at_, count);
        at_ += count;
        return true;
    }
    bool Number(std::size_t width, std::uint64_t& out) {
        std::string_view raw;
        if (!Take(width, raw)) {
            return false;
        }
        out = ReadLittle(raw, 0, width);
        return true;
    }

  private:
    std::string_view bytes_;
    std::size_t at_ = 0;
};

bool ReadEntry(Reader& reader, ArchiveEntry& entry, bool& ended) {
    std::string_view kind;
    std::uint64_t mode = 0;
    std::uint64_t pathLength = 0;
    std::string_view path;
    if (!reader.Take(1, kind)) {
        return false;
    }
    if (kind[0] == 'E') {
        ended = true;
        return true;
    }
    if (kind[0] != 'D' && kind[0] != 'F' && kind[0] != 'L') {
        return false;
    }
    if (!reader.Number(4, mode) || mode > 07777 || !reader.Number(2, pathLength) ||
        pathLength > kMaxPathBytes || !reader.Take(pathLength, path)) {
        return false;
    }
    entry.kind = static_cast<EntryKind>(kind[0]);
    entry.mode = static_cast<std::uint32_t>(mode);
    entry.path = std::string(path);
    std::string_view data;
    std::uint64_t dataLength = 0;
    if (entry.kind == EntryKind::File) {
        if (!reader.Number(8, dataLength) || !reader.Take(dataLength, data)) {
            return false;
        }
    } else if (entry.kind == EntryKind::Link) {
        if (!reader.Number(2, dataLength) || dataLength > kMaxPathBytes ||
            !reader.Take(dataLength, data)) {
            return false;
        }
    }
    entry.data = std::string(data);
    return true;
}

// Every path inside, each once, none below a file or a link, links staying inside.
BuildFault CheckPaths(const std::vector<ArchiveEntry>& entries) {
    std::set<std::string> seen;
    std::set<std::string> notFolders;
    for (const ArchiveEntry& entry : entries) {
        if (!IsInsidePath(entry.path) || !seen.insert(entry.path).second) {
            return BuildFault::PathOutside;
        }
        if (entry.kind != EntryKind::Folder) {
            notFolders.insert(entry.path);
        }
        if (entry.kind == EntryKind::Link && !LinkStaysInside(entry.path, entry.data)) {
            return BuildFault::PathOutside;
        }
    }
    // Nothing below a file or a link, whatever the order of the entries.
    for (const ArchiveEntry& entry : entries) {
        for (std::size_t slash = entry.path.find('/'); slash != std::string::npos;
             slash = entry.path.find('/', slash + 1)) {
            if (notFolders.count(entry.path.substr(0, slash)) != 0) {
                return BuildFault::PathOutside;
            }
        }
    }
    return BuildFault::None;
}

}  // namespace

std::string DescribeFault(BuildFault fault) {
    switch (fault) {
        case BuildFault::None:
            return "fichier de mise à jour valide";
        case BuildFault::Truncated:
            return "le fichier de mise à jour est tronqué";
        case BuildFault::BadMagic:
            return "ce n'est pas un fichier de mise à jour de Gardalix";
        case BuildFault::BadFormat:
            return "format de fichier de mise à jour inconnu";
        case BuildFault::BadVersion:
            return "numéro de version invalide";
        case BuildFault::TooLarge:
            return "le fichier de mise à jour est trop grand";
        case BuildFault::BadSignature:
            return "la signature du fichier de mise à jour n'est pas valide";
        case BuildFault::BadArchive:
            return "le contenu du fichier de mise à jour est illisible";
        case BuildFault::PathOutside:
            return "le fichier de mise à jour contient un chemin hors du dossier du programme";
        case BuildFault::NoProgram:
            return "le fichier de mise à jour ne contient pas le programme";
    }
    return "erreur inconnue";
}

ParsedBuildFile ParseBuildFile(std::string_view bytes) {
    ParsedBuildFile file;
    if (bytes.size() < kBuildHeaderSize) {
        file.fault = bytes.size() >= kMagicSize && bytes.substr(0, kMagicSize) != kBuildFileMagic
                         ? BuildFault::BadMagic
                         : BuildFault::Truncated;
        return file;
    }
    if (bytes.substr(0, kMagicSize) != std::string_view(kBuildFileMagic, kMagicSize)) {
        file.fault = BuildFault::BadMagic;
        return file;
    }
    file.header.formatVersion = static_cast<std::uint32_t>(ReadLittle(bytes, 8, 4));
    if (file.header.formatVersion != kBuildFormatVersion) {
        file.fault = BuildFault::BadFormat;
        return file;
    }
    std::string_view version = bytes.substr(12, kBuildVersionField);
    version = version.substr(0, version.find('\0'));
    const std::string_view padding =
        bytes.substr(12 + version.size(), kBuildVersionField - version.size());
    if (!IsBuildVersion(version) || padding.find_first_not_of('\0') != std::string_view::npos) {
        file.fault = BuildFault::BadVersion;
        return file;
    }
    file.header.buildVersion = std::string(version);
    file.header.payloadLength = ReadLittle(bytes, 44, 8);
    if (bytes.substr(52, 12).find_first_not_of('\0') != std::string_view::npos) {
        file.fault = BuildFault::BadFormat;
        return file;
    }
    if (file.header.payloadLength > kMaxPayloadBytes) {
        file.fault = BuildFault::TooLarge;
        return file;
    }
    const std::uint64_t whole = kBuildHeaderSize + file.header.payloadLength + kBuildSignatureSize;
    if (bytes.size() != whole) {
        file.fault = BuildFault::Truncated;
        return file;
    }
    file.signedPart = bytes.substr(0, kBuildHeaderSize + file.header.payloadLength);
    file.payload = bytes.substr(kBuildHeaderSize, file.header.payloadLength);
    file.signature = bytes.substr(file.signedPart.size());
    return file;
}

std::string EncodeBuildHeader(const BuildHeader& header) {
    std::string out(kBuildFileMagic, kMagicSize);
    AppendLittle(out, header.formatVersion, 4);
    std::string version = header.buildVersion.substr(0, kBuildVersionField);
    version.resize(kBuildVersionField, '\0');
    out += version;
    AppendLittle(out, header.payloadLength, 8);
    out.resize(kBuildHeaderSize, '\0');
    return out;
}

bool VerifyBuildSignature(const ParsedBuildFile& file, std::string_view publicKeyPem) {
    return file.fault == BuildFault::None &&
           VerifyMakerSignature(file.signedPart, file.signature, publicKeyPem);
}

UnpackedArchive ReadArchive(std::string_view payload) {
    UnpackedArchive archive;
    const std::optional<std::string> inflated = InflateBounded(payload, kMaxArchiveBytes);
    if (!inflated) {
        archive.fault = BuildFault::BadArchive;
        return archive;
    }
    Reader reader(*inflated);
    bool ended = false;
    while (!ended) {
        ArchiveEntry entry;
        if (archive.entries.size() > kMaxArchiveEntries || !ReadEntry(reader, entry, ended)) {
            archive.fault = BuildFault::BadArchive;
            archive.entries.clear();
            return archive;
        }
        if (!ended) {
            archive.entries.push_back(std::move(entry));
        }
    }
    if (!reader.AtEnd()) {
        archive.fault = BuildFault::BadArchive;
        archive.entries.clear();
        return archive;
    }
    archive.fault = CheckPaths(archive.entries);
    if (archive.fault != BuildFault::None) {
        archive.entries.clear();
    }
    return archive;
}

bool IsInsidePath(std::string_view path) {
    if (path.empty() || path.size() > kMaxPathBytes || path.front() == '/' ||
        path.find('\0') != std::string_view::npos) {
        return false;
    }
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = std::min(path.find('/', start), path.size());
        const std::string_view part = path.substr(start, slash - start);
        if (part.empty() || part == "." || part == "..") {
            return false;
        }
        start = slash + 1;
    }
    return true;
}

bool LinkStaysInside(std::string_view linkPath, std::string_view target) {
    if (target.empty() || target.front() == '/' || target.find('\0') != std::string_view::npos) {
        return false;
    }
    // Depth of the link's folder below the program directory, then walk the target.
    long depth = 0;
    for (char c : linkPath) {
        depth += c == '/' ? 1 : 0;
    }
    std::size_t start = 0;
    while (start <= target.size()) {
        const std::size_t slash = std::min(target.find('/', start), target.size());
        const std::string_view part = target.substr(start, slash - start);
        if (part == "..") {
            if (--depth < 0) {
                return false;
            }
        } else if (!part.empty() && part != ".") {
            ++depth;
        }
        start = slash + 1;
    }
    return true;
}

bool IsBuildVersion(std::string_view version) {
    if (version.empty() || version.size() >= kBuildVersionField || version.front() == '.' ||
        version.back() == '.' || version.find("..") != std::string_view::npos) {
        return false;
    }
    return version.find_first_not_of("0123456789.") == std::string_view::npos;
}

int CompareBuildVersions(std::string_view a, std::string_view b) {
    auto nextPart = [](std::string_view& text) {
        const std::size_t dot = std::min(text.find('.'), text.size());
        std::string_view part = text.substr(0, dot);
        text = dot < text.size() ? text.substr(dot + 1) : std::string_view();
        while (part.size() > 1 && part.front() == '0') {
            part.remove_prefix(1);
        }
        return part;
    };
    while (!a.empty() || !b.empty()) {
        const std::string_view left = a.empty() ? "0" : nextPart(a);
        const std::string_view right = b.empty() ? "0" : nextPart(b);
        if (left.size() != right.size()) {
            return left.size() < right.size() ? -1 : 1;
        }
        if (const int order = left.compare(right); order != 0) {
            return order < 0 ? -1 : 1;
        }
    }
    return 0;
}

CheckedBuild CheckBuildFile(std::string_view bytes, std::string_view publicKeyPem) {
    CheckedBuild checked;
    const ParsedBuildFile file = ParseBuildFile(bytes);
    checked.header = file.header;
    if (file.fault != BuildFault::None) {
        checked.fault = file.fault;
        return checked;
    }
    // The signature first: nothing unsigned is ever inflated.
    if (!VerifyBuildSignature(file, publicKeyPem)) {
        checked.fault = BuildFault::BadSignature;
        return checked;
    }
    UnpackedArchive archive = ReadArchive(file.payload);
    if (archive.fault != BuildFault::None) {
        checked.fault = archive.fault;
        return checked;
    }
    bool hasProgram = false;
    for (const ArchiveEntry& entry : archive.entries) {
        hasProgram =
            hasProgram || (entry.kind == EntryKind::File && entry.path == kMainProgramName);
    }
    if (!hasProgram) {
        checked.fault = BuildFault::NoProgram;
        return checked;
    }
    checked.entries = std::move(archive.entries);
    return checked;
}

}  // namespace gx
