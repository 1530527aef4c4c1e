// gx-publish: the maker's tool for publishing a build that installed copies will accept.
//
//   gx-publish keygen <private-key> <public-key>
//   gx-publish build  <private-key> <version> <program-dir> <output>
//   gx-publish site   <private-key> <version> <program-dir> <site-dir> <base-url> [date]
//   gx-publish lists  <private-key> <MALWARE.txt> <ADULT.txt> <site-dir>
//
// keygen makes an Ed25519 key pair (the private key mode 0600; the public key is what ships as
// gx_update.pub). build packs a program directory into a signed "gxsoft.dat". site writes a whole
// static update tree that a plain web server can serve as it is: the connect answer, the
// description file and the build file under files/. lists adds to such a tree (under
// update2024/gardalix/lists/) a signed list bundle of the two list sources and the index that
// names it; its serial is above the one published before. Exit status 0 on success, 1 otherwise.
#include <openssl/evp.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <span>
#include <string>
#include <vector>

#include "PublishFiles.h"
#include "lists/ListFile.h"
#include "lists/ListPacker.h"
#include "platform/program/LocalTime.h"
#include "update/BuildWriter.h"
#include "update/ListBundle.h"
#include "update/ListsIndex.h"

namespace {

namespace fs = std::filesystem;

int Fail(const std::string& message) {
    std::cerr << "gx-publish : " << message << "\n";
    return 1;
}

int Usage() {
    std::cerr << "usage :\n"
                 "  gx-publish keygen <clé-privée> <clé-publique>\n"
                 "  gx-publish build  <clé-privée> <version> <dossier-programme> <sortie>\n"
                 "  gx-publish site   <clé-privée> <version> <dossier-programme> <dossier-site> "
                 "<adresse-de-base> [date]\n"
                 "  gx-publish lists  <clé-privée> <MALWARE.txt> <ADULT.txt> <dossier-site>\n";
    return 1;
}

int KeyGen(const std::string& privatePath, const std::string& publicPath) {
    const std::optional<gx::KeyPairPem> pair = gx::GenerateKeyPair();
    if (!pair) {
        return Fail("impossible de créer la paire de clés");
    }
    if (!gx::WriteNewFile(privatePath, pair->privatePem, 0600)) {
        return Fail("impossible de créer " + privatePath + " (le fichier existe-t-il déjà ?)");
    }
    if (!gx::ReplaceFile(publicPath, pair->publicPem, 0644)) {
        return Fail("impossible d'écrire " + publicPath);
    }
    std::cout << "clé privée : " << privatePath << " (à garder secrète)\n"
              << "clé publique : " << publicPath << " (à livrer comme gx_update.pub)\n";
    return 0;
}

std::optional<std::string> MakeBuild(const std::string& keyPath, const std::string& version,
                                     const std::string& programDir, std::string& reason) {
    if (!gx::IsBuildVersion(version)) {
        reason = "version invalide (chiffres et points) : " + version;
        return std::nullopt;
    }
    const std::optional<std::string> key = gx::ReadWholeFile(keyPath);
    if (!key) {
        reason = "clé privée illisible : " + keyPath;
        return std::nullopt;
    }
    const auto entries = gx::CollectProgramDir(programDir, reason);
    if (!entries) {
        return std::nullopt;
    }
    bool hasProgram = false;
    for (const gx::ArchiveEntry& entry : *entries) {
        hasProgram =
            hasProgram || (entry.kind == gx::EntryKind::File && entry.path == gx::kMainProgramName);
    }
    if (!hasProgram) {
        reason = programDir + " ne contient pas le programme " + gx::kMainProgramName;
        return std::nullopt;
    }
    std::optional<std::string> file = gx::WriteBuildFile(version, *entries, *key);
    if (!file) {
        reason = "signature impossible (la clé est-elle une clé privée Ed25519 ?)";
    }
    return file;
}

int Build(const std::vector<std::string>& args) {
    std::string reason;
    const std::optional<std::string> file = MakeBuild(args[0], args[1], args[2], reason);
    if (!file) {
        return Fail(reason);
    }
    if (!gx::ReplaceFile(args[3], *file, 0644)) {
        return Fail("impossible d'écrire " + args[3]);
    }
    std::cout << args[3] << " : version " << args[1] << ", " << file->size() << " octets\n";
    return 0;
}

int Site(const std::vector<std::string>& args) {
    const std::string& version = args[1];
    const fs::path site = args[3];
    std::string base = args[4];
    const std::string date =
        args.size() > 5 ? args[5] : gx::LocalTimeText(std::time(nullptr), "%d/%m/%Y");
    if (base.rfind("http://", 0) != 0) {
        return Fail("l'adresse de base doit commencer par http:// : " + base);
    }
    while (!base.empty() && base.back() == '/') {
        base.pop_back();
    }
    if (date.find_first_of(";=\r\n") != std::string::npos) {
        return Fail("la date ne peut contenir ni ';', ni '=', ni fin de ligne");
    }
    std::string reason;
    const std::optional<std::string> file = MakeBuild(args[0], version, args[2], reason);
    if (!file) {
        return Fail(reason);
    }
    const fs::path updateDir = site / "update2024" / "gardalix";
    std::error_code error;
    fs::create_directories(updateDir / "fr", error);
    fs::create_directories(site / "files", error);
    const std::string fileName = "gardalix-" + version + ".dat";
    const std::string description =
        "FILES_LOCATION=" + base + "/files/;\r\n" + "SOFTWARE_FILE=" + fileName + ";\r\n" +
        "SOFTWARE_BUILD_VERSION=" + version + ";\r\n" + "SOFTWARE_UPDATE_DATE=" + date + ";\r\n" +
        "SOFTWARE_SIZE=" + std::to_string(file->size()) + ";\r\n" +
        "SOFTWARE_SHA256=" + gx::Sha256Hex(*file) + ";\r\n";
    // The build file first: a description never names a file that is not there yet.
    if (!gx::ReplaceFile((site / "files" / fileName).string(), *file, 0644) ||
        !gx::ReplaceFile((updateDir / "connect.php").string(), "OK\r\n", 0644) ||
        !gx::ReplaceFile((updateDir / "fr" / "gardalix2024id.txt").string(), description, 0644)) {
        return Fail("impossible d'écrire dans " + site.string());
    }
    std::cout << site.string() << " : version " << version << " publiée, "
              << base + "/files/" + fileName << "\n";
    return 0;
}

// The entries of a list source, checked and converted as gx-lists pack does.
std::optional<std::vector<std::string>> ListEntries(gx::ListKind kind, const std::string& path,
                                                    std::string& reason) {
    const std::optional<std::string> source = gx::ReadWholeFile(path);
    if (!source) {
        reason = "liste illisible : " + path;
        return std::nullopt;
    }
    gx::PackResult packed = gx::PackList(kind, *source);
    if (!packed.ok) {
        reason = path + (packed.errorLine ? ", ligne " + std::to_string(packed.errorLine) : "") +
                 " : " + packed.error;
        return std::nullopt;
    }
    const std::size_t size = gx::InfoOf(kind).recordSize;
    std::vector<std::string> entries;
    for (std::size_t at = 0; at + size <= packed.records.size(); at += size) {
        entries.emplace_back(gx::UnscrambleRecord(std::span(packed.records.data() + at, size)));
    }
    return entries;
}

int Lists(const std::vector<std::string>& args) {
    const fs::path listsDir = fs::path(args[3]) / gx::kListsSiteFolder;
    std::string reason;
    gx::ListBundleContent content;
    auto malware = ListEntries(gx::ListKind::Malware, args[1], reason);
    auto adult = malware ? ListEntries(gx::ListKind::Adult, args[2], reason) : std::nullopt;
    const std::optional<std::string> key = gx::ReadWholeFile(args[0]);
    if (!malware || !adult) {
        return Fail(reason);
    }
    if (!key) {
        return Fail("clé privée illisible : " + args[0]);
    }
    content.malware = std::move(*malware);
    content.adult = std::move(*adult);
    // Above the serial published before, and above any earlier date-based serial.
    const auto index = gx::ReadWholeFile((listsDir / gx::kListsIndexName).string());
    const std::uint64_t previous = index ? gx::ParseListsIndex(*index).serial : 0;
    content.published = static_cast<std::uint64_t>(std::time(nullptr));
    content.serial = std::max(previous + 1, content.published);
    const std::optional<std::string> bundle = gx::WriteListBundle(content, *key);
    if (!bundle) {
        return Fail("signature impossible (la clé est-elle une clé privée Ed25519 ?)");
    }
    gx::ListsIndex entry;
    entry.serial = content.serial;
    entry.file = "gxlists-" + std::to_string(content.serial) + ".dat";
    entry.size = bundle->size();
    entry.sha256 = gx::Sha256Hex(*bundle);
    std::error_code error;
    fs::create_directories(listsDir, error);
    // The bundle first: an index never names a file that is not there yet.
    if (!gx::ReplaceFile((listsDir / entry.file).string(), *bundle, 0644) ||
        !gx::ReplaceFile((listsDir / gx::kListsIndexName).string(), gx::EncodeListsIndex(entry),
                         0644)) {
        return Fail("impossible d'écrire dans " + listsDir.string());
    }
    std::cout << listsDir.string() << " : listes n° " << content.serial << " publiées, "
              << content.malware.size() << " adresses malveillantes, " << content.adult.size()
              << " motifs adultes, " << bundle->size() << " octets\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> all(argv + 1, argv + argc);
    if (all.empty()) {
        return Usage();
    }
    const std::string command = all[0];
    const std::vector<std::string> args(all.begin() + 1, all.end());
    if (command == "keygen" && args.size() == 2) {
        return KeyGen(args[0], args[1]);
    }
    if (command == "build" && args.size() == 4) {
        return Build(args);
    }
    if (command == "site" && (args.size() == 5 || args.size() == 6)) {
        return Site(args);
    }
    if (command == "lists" && args.size() == 4) {
        return Lists(args);
    }
    return Usage();
}
