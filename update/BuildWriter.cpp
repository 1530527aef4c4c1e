#include "update/BuildWriter.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "platform/program/OpenSslHandles.h"
#include "platform/program/WholeFile.h"

namespace gx {

namespace {

namespace fs = std::filesystem;

std::string BioText(BIO* bio) {
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    return length > 0 ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

}  // namespace

std::optional<std::vector<ArchiveEntry>> CollectProgramDir(const std::string& folder,
                                                           std::string& reason) {
    std::vector<ArchiveEntry> entries;
    std::error_code error;
    fs::recursive_directory_iterator walk(folder, fs::directory_options::none, error);
    if (error) {
        reason = "dossier illisible : " + folder;
        return std::nullopt;
    }
    for (const fs::directory_entry& item : walk) {
        ArchiveEntry entry;
        entry.path = item.path().lexically_relative(folder).generic_string();
        struct stat status;
        if (::lstat(item.path().c_str(), &status) != 0) {
            reason = "fichier illisible : " + entry.path;
            return std::nullopt;
        }
        entry.mode = status.st_mode & 0777;
        if (S_ISLNK(status.st_mode)) {
            entry.kind = EntryKind::Link;
            entry.data = fs::read_symlink(item.path(), error).string();
            if (error || !LinkStaysInside(entry.path, entry.data)) {
                reason = "lien qui sort du dossier : " + entry.path;
                return std::nullopt;
            }
        } else if (S_ISDIR(status.st_mode)) {
            entry.kind = EntryKind::Folder;
        } else if (S_ISREG(status.st_mode)) {
            std::optional<std::string> content = ReadWholeFile(item.path().string());
            if (!content) {
                reason = "fichier illisible : " + entry.path;
                return std::nullopt;
            }
            entry.data = std::move(*content);
        } else {
            reason = "ni fichier, ni dossier, ni lien : " + entry.path;
            return std::nullopt;
        }
        entries.push_back(std::move(entry));
    }
    // Folders come before what they hold when sorted by path.
    std::sort(entries.begin(), entries.end(),
              [](const ArchiveEntry& a, const ArchiveEntry& b) { return a.path < b.path; });
    if (entries.size() > kMaxArchiveEntries) {
        reason = "trop de fichiers dans " + folder;
        return std::nullopt;
    }
    return entries;
}

std::string EncodeArchive(const std::vector<ArchiveEntry>& entries) {
    std::string out;
    for (const ArchiveEntry& entry : entries) {
        out += static_cast<char>(entry.kind);
        AppendLittle(out, entry.mode, 4);
        AppendLittle(out, entry.path.size(), 2);
        out += entry.path;
        if (entry.kind == EntryKind::File) {
            AppendLittle(out, entry.data.size(), 8);
            out += entry.data;
        } else if (entry.kind == EntryKind::Link) {
            AppendLittle(out, entry.data.size(), 2);
            out += entry.data;
        }
    }
    out += 'E';
    return out;
}

std::optional<std::string> WriteBuildFile(const std::string& buildVersion,
                                          const std::vector<ArchiveEntry>& entries,
                                          const std::string& privateKeyPem) {
    if (!IsBuildVersion(buildVersion)) {
        return std::nullopt;
    }
    const std::optional<std::string> payload = Deflate(EncodeArchive(entries));
    if (!payload || payload->size() > kMaxPayloadBytes) {
        return std::nullopt;
    }
    BuildHeader header;
    header.buildVersion = buildVersion;
    header.payloadLength = payload->size();
    std::string file = EncodeBuildHeader(header) + *payload;
    const std::optional<std::string> signature = SignAsMaker(file, privateKeyPem);
    if (!signature) {
        return std::nullopt;
    }
    return file + *signature;
}

std::optional<KeyPairPem> GenerateKeyPair() {
    PkeyContextHandle context(EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr));
    EVP_PKEY* raw = nullptr;
    if (!context || EVP_PKEY_keygen_init(context.get()) != 1 ||
        EVP_PKEY_keygen(context.get(), &raw) != 1) {
        return std::nullopt;
    }
    PkeyHandle key(raw);
    BioHandle privateBio(BIO_new(BIO_s_mem()));
    BioHandle publicBio(BIO_new(BIO_s_mem()));
    if (!privateBio || !publicBio ||
        PEM_write_bio_PrivateKey(privateBio.get(), key.get(), nullptr, nullptr, 0, nullptr,
                                 nullptr) != 1 ||
        PEM_write_bio_PUBKEY(publicBio.get(), key.get()) != 1) {
        return std::nullopt;
    }
    return KeyPairPem{BioText(privateBio.get()), BioText(publicBio.get())};
}

}  // namespace gx
