// The targets of the update: the texts the update server answers with, and the build file it
// serves.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzTargets.h"
#include "update/BuildFile.h"
#include "update/BuildWriter.h"
#include "update/ListBundle.h"
#include "update/ListsIndex.h"
#include "update/UpdateProtocol.h"

namespace gx::fuzz {
namespace {

std::string_view Text(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// One key pair for the whole run: making one costs more than a run of the target.
const KeyPairPem& MakerKeys() {
    static const KeyPairPem keys = GenerateKeyPair().value_or(KeyPairPem{});
    return keys;
}

// An archive that reads back must hold only what may be written, and be written again as the
// very bytes it was read from; signed as a build, it must pass the whole check.
void CheckArchiveRoundTrip(std::string_view inflated) {
    std::optional<std::string> payload = Deflate(std::string(inflated));
    if (!payload) {
        return;
    }
    UnpackedArchive archive = ReadArchive(*payload);
    if (archive.fault != BuildFault::None) {
        return;
    }
    for (const ArchiveEntry& entry : archive.entries) {
        if (!IsInsidePath(entry.path) ||
            (entry.kind == EntryKind::Link && !LinkStaysInside(entry.path, entry.data))) {
            __builtin_trap();  // an entry that leaves the program folder
        }
    }
    if (EncodeArchive(archive.entries) != inflated) {
        __builtin_trap();  // read and written differently
    }
    std::optional<std::string> build =
        WriteBuildFile("1.6.0", archive.entries, MakerKeys().privatePem);
    if (!build) {
        return;
    }
    BuildFault fault = CheckBuildFile(*build, MakerKeys().publicPem).fault;
    if (fault != BuildFault::None && fault != BuildFault::NoProgram) {
        __builtin_trap();  // a sound build refused
    }
}

// Lists made of the bytes, one entry per line: the malicious list up to an empty line, the adult
// list after it. Written as a signed bundle, they must read back as they were.
void CheckBundleRoundTrip(std::string_view text) {
    ListBundleContent content;
    content.serial = text.size() + 1;
    std::vector<std::string>* list = &content.malware;
    for (std::string& line : SplitLines(text)) {
        if (line.empty()) {
            list = &content.adult;
        } else {
            list->push_back(std::move(line));
        }
    }
    std::optional<std::string> bundle = WriteListBundle(content, MakerKeys().privatePem);
    if (!bundle) {
        return;  // beyond the writer's bounds
    }
    CheckedListBundle checked = CheckListBundle(*bundle, MakerKeys().publicPem);
    if (checked.fault != ListBundleFault::None || checked.content.serial != content.serial ||
        checked.content.malware != content.malware || checked.content.adult != content.adult) {
        __builtin_trap();  // written, then refused or read otherwise
    }
}

}  // namespace

int FuzzUpdateDescription(const uint8_t* data, size_t size) {
    std::string_view text = Text(data, size);
    ConnectRefusal(text);
    std::vector<std::string> lines = SplitLines(text);
    for (const char* key : {kFilesLocationKey, kSoftwareFileKey, kSoftwareBuildVersionKey,
                            kSoftwareUpdateDateKey, kSoftwareSizeKey, kSoftwareSha256Key}) {
        HasUpdateKey(lines, key);
        std::string value = GetUpdateValue(lines, key);
        ParseSoftwareSize(value);
        if (IsBuildVersion(value)) {
            CompareBuildVersions(value, kRunningBuild);
        }
        EncodeQueryValue(value);
    }
    for (int field = 1; field <= 3; ++field) {
        ExtractUpdateField(text, field);
    }
    ListsIndex index = ParseListsIndex(text);
    if (index.serial != 0 && ParseListsIndex(EncodeListsIndex(index)).file != index.file) {
        __builtin_trap();  // an index that does not read back
    }
    return 0;
}

int FuzzListBundle(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte chooses: a bundle as downloaded, or lists written and read back.
    std::string_view bytes = Text(data + 1, size - 1);
    if (data[0] % 2 == 0) {
        PeekListSerial(bytes);
        CheckListBundle(bytes, MakerKeys().publicPem);
    } else {
        CheckBundleRoundTrip(bytes);
    }
    return 0;
}

int FuzzBuildFile(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte chooses: a build file as downloaded, or an archive before compression.
    std::string_view bytes = Text(data + 1, size - 1);
    if (data[0] % 2 == 0) {
        ParsedBuildFile parsed = ParseBuildFile(bytes);
        if (parsed.fault == BuildFault::None) {
            ReadArchive(parsed.payload);  // what the signature would otherwise keep out
        }
        CheckBuildFile(bytes, MakerKeys().publicPem);
    } else {
        CheckArchiveRoundTrip(bytes);
    }
    return 0;
}

}  // namespace gx::fuzz
