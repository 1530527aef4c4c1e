#include "update/GX_BuildWriter.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "platform/program/WholeFile.h"

namespace gx {

namespace {

namespace fs = std::filesystem;

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct BioFree {
    void operator()(BIO* bio) const { BIO_free_all(bio); }
};
struct MdContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct PkeyContextFree {
    void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};

std::string BioText(BIO* bio) {
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    return length > 0 ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

}  // namespace

std::optional<std::string> SignAsMaker(const std::string& message,
                                       const std::string& privateKeyPem) {
    std::unique_ptr<BIO, BioFree> bio(
        BIO_new_mem_buf(privateKeyPem.data(), static_cast<int>(privateKeyPem.size())));
    std::unique_ptr<EVP_PKEY, PkeyFree> key(
        bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_ED25519) {
        return std::nullopt;
    }
    std::unique_ptr<EVP_MD_CTX, MdContextFree> context(EVP_MD_CTX_new());
    std::string signature(kBuildSignatureSize, '\0');
    std::size_t length = signature.size();
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                       reinterpret_cast<const unsigned char*>(message.data()),
                       message.size()) != 1 ||
        length != kBuildSignatureSize) {
        return std::nullopt;
    }
    return signature;
}

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

std::optional<std::string> Deflate(const std::string& bytes) {
    uLongf length = compressBound(static_cast<uLong>(bytes.size()));
    std::string out(length, '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &length,
                  reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uLong>(bytes.size()),
                  Z_BEST_COMPRESSION) != Z_OK) {
        return std::nullopt;
    }
    out.resize(length);
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
    std::unique_ptr<EVP_PKEY_CTX, PkeyContextFree> context(
        EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr));
    EVP_PKEY* raw = nullptr;
    if (!context || EVP_PKEY_keygen_init(context.get()) != 1 ||
        EVP_PKEY_keygen(context.get(), &raw) != 1) {
        return std::nullopt;
    }
    std::unique_ptr<EVP_PKEY, PkeyFree> key(raw);
    std::unique_ptr<BIO, BioFree> privateBio(BIO_new(BIO_s_mem()));
    std::unique_ptr<BIO, BioFree> publicBio(BIO_new(BIO_s_mem()));
    if (!privateBio || !publicBio ||
        PEM_write_bio_PrivateKey(privateBio.get(), key.get(), nullptr, nullptr, 0, nullptr,
                                 nullptr) != 1 ||
        PEM_write_bio_PUBKEY(publicBio.get(), key.get()) != 1) {
        return std::nullopt;
    }
    return KeyPairPem{BioText(privateBio.get()), BioText(publicBio.get())};
}

}  // namespace gx
