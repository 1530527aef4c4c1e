// gx-lists: packs, dumps and checks the scrambled block-list files.
//
//   gx-lists pack malware|adult INPUT.txt OUTPUT.dat
//   gx-lists dump malware|adult FILE.dat
//   gx-lists check malware|adult FILE.dat ADDRESS...
//   gx-lists import FEED.txt OUTPUT.txt
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "lists/GX_MalwareURL.h"
#include "lists/GX_PornURL.h"
#include "lists/ListFile.h"
#include "lists/ListImport.h"
#include "lists/ListPacker.h"
#include "platform/codepage/Cp1252.h"

namespace {

constexpr int kFailure = 1;
constexpr int kUsage = 2;

int Usage() {
    std::cerr << "usage: gx-lists pack malware|adult INPUT.txt OUTPUT.dat\n"
                 "       gx-lists dump malware|adult FILE.dat\n"
                 "       gx-lists check malware|adult FILE.dat ADDRESS...\n"
                 "       gx-lists import FEED.txt OUTPUT.txt\n";
    return kUsage;
}

// The program's own message for a list file it refuses.
int LoadError(gx::ListKind kind) {
    std::cerr << "Erreur lors du chargement du fichier " << gx::InfoOf(kind).fileName << "\n";
    return kFailure;
}

bool ReadWholeFile(const std::string& path, std::string& content) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    content = buffer.str();
    return !in.bad();
}

// Writes through a temporary file beside the target, then renames it over the target, so that
// a failed or interrupted run never leaves a half-written list.
bool WriteAtomically(const std::string& path, const std::string& content) {
    const std::string temporary = path + ".tmp." + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out.write(content.data(), static_cast<std::streamsize>(content.size())) ||
            !out.flush()) {
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

int Pack(gx::ListKind kind, const std::string& input, const std::string& output) {
    std::string source;
    if (!ReadWholeFile(input, source)) {
        std::cerr << "gx-lists: impossible de lire " << input << "\n";
        return kFailure;
    }
    const gx::PackResult packed = gx::PackList(kind, source);
    if (!packed.ok) {
        std::cerr << "gx-lists: " << input << ", ligne " << packed.errorLine << " : "
                  << packed.error << "\n";
        return kFailure;
    }
    if (!WriteAtomically(output, packed.records)) {
        std::cerr << "gx-lists: impossible d'écrire " << output << "\n";
        return kFailure;
    }
    return 0;
}

int Dump(gx::ListKind kind, const std::string& file) {
    const gx::ListKindInfo& info = gx::InfoOf(kind);
    std::vector<std::string> entries;
    size_t records = 0;
    const bool whole = gx::ReadListRecords(
        file, info.recordSize, [&records](size_t count) { records = count; },
        [&entries](std::string_view entry) { entries.emplace_back(entry); });
    if (!whole || (info.maxEntries != 0 && records > info.maxEntries)) {
        return LoadError(kind);
    }
    for (const auto& entry : entries) {
        std::cout << gx::Cp1252ToUtf8(entry) << "\n";
    }
    return 0;
}

int Check(gx::ListKind kind, const std::string& file, const std::vector<std::string>& addresses) {
    const bool loaded =
        kind == gx::ListKind::Malware ? gx::LoadMalwareURLList(file) : gx::LoadPornURLList(file);
    if (!loaded) {
        return LoadError(kind);
    }
    for (const auto& address : addresses) {
        const auto bytes = gx::Utf8ToCp1252(address);
        if (!bytes) {
            std::cerr << "gx-lists: adresse hors de Windows-1252 : " << address << "\n";
            return kFailure;
        }
        const bool hit = kind == gx::ListKind::Malware
                             ? gx::IsMalwareURL(*bytes) || gx::IsMalwareHost(*bytes)
                             : gx::IsPornURL(*bytes);
        std::cout << (hit ? "hit" : "miss") << "\n";
    }
    return 0;
}

}  // namespace

// A feed's lines into the malicious list's source: root-only lines become whole-host entries.
int Import(const std::string& input, const std::string& output) {
    std::string feed;
    if (!ReadWholeFile(input, feed)) {
        std::cerr << "gx-lists: impossible de lire " << input << "\n";
        return kFailure;
    }
    const gx::ImportResult imported = gx::ImportFeed(feed);
    if (!WriteAtomically(output, imported.text)) {
        std::cerr << "gx-lists: impossible d'écrire " << output << "\n";
        return kFailure;
    }
    std::cout << imported.addresses << " adresses complètes, " << imported.wholeHosts
              << " hôtes entiers ; " << imported.duplicates << " doublons et " << imported.skipped
              << " lignes vides ou commentaires écartés\n";
    return 0;
}

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 3 && args[0] == "import") {
        return Import(args[1], args[2]);
    }
    gx::ListKind kind;
    if (args.size() < 3 || !gx::ParseListKind(args[1], kind)) {
        return Usage();
    }
    if (args[0] == "pack" && args.size() == 4) {
        return Pack(kind, args[2], args[3]);
    }
    if (args[0] == "dump" && args.size() == 3) {
        return Dump(kind, args[2]);
    }
    if (args[0] == "check" && args.size() >= 4) {
        return Check(kind, args[2], {args.begin() + 3, args.end()});
    }
    return Usage();
}
