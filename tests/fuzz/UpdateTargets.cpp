// The targets of the update: the texts the update server answers with, and the build file it
// serves.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzTargets.h"
#include "update/GX_BuildFile.h"
#include "update/GX_BuildWriter.h"
#include "update/GX_UpdateProtocol.h"

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
