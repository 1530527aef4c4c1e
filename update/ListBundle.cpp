#include "update/ListBundle.h"

#include "update/SignedPayload.h"

namespace gx {

namespace {

constexpr std::size_t kMagicSize = 8;
constexpr std::size_t kSerialAt = 16;
constexpr std::size_t kPublishedAt = 24;
constexpr std::size_t kLengthAt = 32;
constexpr std::size_t kReservedAt = 40;

bool IsZero(std::string_view bytes) {
    return bytes.find_first_not_of('\0') == std::string_view::npos;
}

// One list of the payload from `at`; false when its count or an entry overruns the payload or
// breaks the bounds.
bool ReadList(std::string_view payload, std::size_t& at, std::size_t maxEntries,
              std::size_t maxEntryBytes, std::vector<std::string>& entries) {
    if (payload.size() - at < 4) {
        return false;
    }
    const std::uint64_t count = ReadLittle(payload, at, 4);
    at += 4;
    // Each entry takes at least its length byte: a count beyond what is left is a lie.
    if (count > maxEntries || count > payload.size() - at) {
        return false;
    }
    entries.reserve(count);
    for (std::uint64_t i = 0; i < count; ++i) {
        if (at == payload.size()) {
            return false;
        }
        const std::size_t length = static_cast<unsigned char>(payload[at++]);
        if (length > maxEntryBytes || length > payload.size() - at) {
            return false;
        }
        entries.emplace_back(payload.substr(at, length));
        at += length;
    }
    return true;
}

bool ReadPayload(std::string_view inflated, ListBundleContent& content) {
    std::size_t at = 0;
    return ReadList(inflated, at, SIZE_MAX, 255, content.malware) &&
           ReadList(inflated, at, kMaxAdultEntries, kMaxAdultEntryBytes, content.adult) &&
           at == inflated.size();
}

bool AppendList(std::string& out, const std::vector<std::string>& entries, std::size_t maxEntries,
                std::size_t maxEntryBytes) {
    if (entries.size() > maxEntries || entries.size() > UINT32_MAX) {
        return false;
    }
    AppendLittle(out, entries.size(), 4);
    for (const std::string& entry : entries) {
        if (entry.size() > maxEntryBytes) {
            return false;
        }
        out += static_cast<char>(entry.size());
        out += entry;
    }
    return true;
}

}  // namespace

std::string DescribeListFault(ListBundleFault fault) {
    switch (fault) {
        case ListBundleFault::None:
            return "listes valides";
        case ListBundleFault::Truncated:
            return "le fichier des listes est tronqué";
        case ListBundleFault::BadMagic:
            return "ce n'est pas un fichier de listes de Gardalix";
        case ListBundleFault::BadFormat:
            return "format de fichier de listes inconnu";
        case ListBundleFault::TooLarge:
            return "le fichier des listes est trop grand";
        case ListBundleFault::BadSignature:
            return "la signature du fichier des listes n'est pas valide";
        case ListBundleFault::BadPayload:
            return "le contenu du fichier des listes est illisible";
    }
    return "erreur inconnue";
}

std::optional<std::uint64_t> PeekListSerial(std::string_view bytes) {
    if (bytes.size() < kListBundleHeaderSize ||
        bytes.substr(0, kMagicSize) != std::string_view(kListBundleMagic, kMagicSize)) {
        return std::nullopt;
    }
    return ReadLittle(bytes, kSerialAt, 8);
}

CheckedListBundle CheckListBundle(std::string_view bytes, std::string_view publicKeyPem) {
    CheckedListBundle checked;
    auto fail = [&checked](ListBundleFault fault) {
        checked.fault = fault;
        checked.content = {};
        return checked;
    };
    if (bytes.size() < kListBundleHeaderSize + kMakerSignatureSize) {
        return fail(bytes.size() >= kMagicSize && bytes.substr(0, kMagicSize) !=
                                                      std::string_view(kListBundleMagic, kMagicSize)
                        ? ListBundleFault::BadMagic
                        : ListBundleFault::Truncated);
    }
    if (bytes.substr(0, kMagicSize) != std::string_view(kListBundleMagic, kMagicSize)) {
        return fail(ListBundleFault::BadMagic);
    }
    if (ReadLittle(bytes, 8, 4) != kListBundleFormat || !IsZero(bytes.substr(12, 4)) ||
        !IsZero(bytes.substr(kReservedAt, kListBundleHeaderSize - kReservedAt))) {
        return fail(ListBundleFault::BadFormat);
    }
    const std::uint64_t length = ReadLittle(bytes, kLengthAt, 8);
    if (length > kMaxListPayloadBytes) {
        return fail(ListBundleFault::TooLarge);
    }
    if (bytes.size() != kListBundleHeaderSize + length + kMakerSignatureSize) {
        return fail(ListBundleFault::Truncated);
    }
    const std::string_view signedPart = bytes.substr(0, kListBundleHeaderSize + length);
    // The signature first: nothing unsigned is ever inflated.
    if (!VerifyMakerSignature(signedPart, bytes.substr(signedPart.size()), publicKeyPem)) {
        return fail(ListBundleFault::BadSignature);
    }
    const std::optional<std::string> inflated =
        InflateBounded(bytes.substr(kListBundleHeaderSize, length), kMaxListInflatedBytes);
    if (!inflated || !ReadPayload(*inflated, checked.content)) {
        return fail(ListBundleFault::BadPayload);
    }
    checked.content.serial = ReadLittle(bytes, kSerialAt, 8);
    checked.content.published = ReadLittle(bytes, kPublishedAt, 8);
    return checked;
}

std::optional<std::string> WriteListBundle(const ListBundleContent& content,
                                           const std::string& privateKeyPem) {
    std::string lists;
    if (!AppendList(lists, content.malware, SIZE_MAX, 255) ||
        !AppendList(lists, content.adult, kMaxAdultEntries, kMaxAdultEntryBytes) ||
        lists.size() > kMaxListInflatedBytes) {
        return std::nullopt;
    }
    const std::optional<std::string> payload = Deflate(lists);
    if (!payload || payload->size() > kMaxListPayloadBytes) {
        return std::nullopt;
    }
    std::string bundle(kListBundleMagic, kMagicSize);
    AppendLittle(bundle, kListBundleFormat, 4);
    AppendLittle(bundle, 0, 4);
    AppendLittle(bundle, content.serial, 8);
    AppendLittle(bundle, content.published, 8);
    AppendLittle(bundle, payload->size(), 8);
    bundle.resize(kListBundleHeaderSize, '\0');
    bundle += *payload;
    const std::optional<std::string> signature = SignAsMaker(bundle, privateKeyPem);
    if (!signature) {
        return std::nullopt;
    }
    return bundle + *signature;
}

}  // namespace gx
