#include "tools/gx-driver/TrustStores.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iterator>

#include "platform/tls/RootAuthority.h"
#include "platform/tls/SystemTrustStore.h"

namespace gx {
namespace {

namespace fs = std::filesystem;

// certutil removes one certificate per call; a database never holds more of ours than this.
constexpr int kMostCopies = 16;

std::string UpdateCaCertificates() {
    return FindProgram(kUpdateCaVariable,
                       {"/usr/sbin/update-ca-certificates", "/sbin/update-ca-certificates",
                        "update-ca-certificates"});
}

bool RebuildSystemStore(std::string* error) {
    const std::string program = UpdateCaCertificates();
    if (program.empty()) {
        *error =
            "la commande update-ca-certificates est introuvable ; installez le paquet "
            "ca-certificates";
        return false;
    }
    const CommandResult run = RunProgram(program, {});
    if (!run.ok()) {
        *error = "update-ca-certificates a échoué :\n" + run.output;
        return false;
    }
    return true;
}

std::string WithoutSpaces(const std::string& text) {
    std::string kept;
    std::copy_if(text.begin(), text.end(), std::back_inserter(kept),
                 [](char c) { return c != '\n' && c != '\r' && c != ' ' && c != '\t'; });
    return kept;
}

// The base64 body of a PEM certificate, without its armour lines and line breaks.
std::string PemBody(const std::string& pem) {
    const std::string begin = "-----BEGIN CERTIFICATE-----";
    const std::string end = "-----END CERTIFICATE-----";
    const size_t from = pem.find(begin);
    const size_t to = pem.find(end);
    if (from == std::string::npos || to == std::string::npos || to < from) {
        return "";
    }
    return WithoutSpaces(pem.substr(from + begin.size(), to - from - begin.size()));
}

bool HoldsCertificateDatabase(const fs::path& folder) {
    std::error_code ec;
    return fs::is_regular_file(folder / "cert9.db", ec);
}

}  // namespace

bool InstallInSystemStore(const std::string& certificatePem, std::string* error) {
    const std::string folder = tls::SystemStoreFolder();
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
        *error = "impossible de créer " + folder + " : " + std::strerror(errno);
        return false;
    }
    const std::string path = tls::SystemStoreCertificatePath();
    if (!tls::WriteFileAtomically(path, certificatePem, 0644)) {
        *error = "impossible d'écrire " + path;
        return false;
    }
    return RebuildSystemStore(error);
}

bool RemoveFromSystemStore(bool* removed, std::string* error) {
    const std::string path = tls::SystemStoreCertificatePath();
    *removed = false;
    if (::unlink(path.c_str()) != 0) {
        if (errno == ENOENT) {
            return true;
        }
        *error = "impossible de supprimer " + path + " : " + std::strerror(errno);
        return false;
    }
    *removed = true;
    return RebuildSystemStore(error);
}

std::string Certutil() {
    const std::string program = FindProgram(kCertutilVariable, {"certutil"});
    return !program.empty() && ::access(program.c_str(), X_OK) == 0 ? program : "";
}

std::vector<std::string> NssDatabases(const std::string& home) {
    std::vector<std::string> databases;
    const fs::path chromium = fs::path(home) / ".pki" / "nssdb";
    if (HoldsCertificateDatabase(chromium)) {
        databases.push_back(chromium.string());
    }
    std::vector<std::string> profiles;
    std::error_code ec;
    for (fs::directory_iterator entry(fs::path(home) / ".mozilla" / "firefox", ec), end;
         !ec && entry != end; entry.increment(ec)) {
        if (entry->is_directory(ec) && HoldsCertificateDatabase(entry->path())) {
            profiles.push_back(entry->path().string());
        }
    }
    std::sort(profiles.begin(), profiles.end());
    databases.insert(databases.end(), profiles.begin(), profiles.end());
    return databases;
}

std::string DescribeDatabase(const std::string& home, const std::string& database) {
    const std::string chromium = (fs::path(home) / ".pki" / "nssdb").string();
    if (database == chromium) {
        return "Chromium (~/.pki/nssdb)";
    }
    return "Firefox (profil " + fs::path(database).filename().string() + ")";
}

bool AddToNss(const std::string& certutil, const std::string& database,
              const std::string& certificatePath, std::string* error) {
    RemoveFromNss(certutil, database);
    // "C,,": an authority trusted to identify web sites, and for nothing else.
    const CommandResult added = RunProgram(
        certutil,
        {"-A", "-d", "sql:" + database, "-n", kNssNickname, "-t", "C,,", "-i", certificatePath});
    if (!added.ok()) {
        *error = added.output.empty() ? "certutil a échoué" : added.output;
        return false;
    }
    return true;
}

int RemoveFromNss(const std::string& certutil, const std::string& database) {
    int removed = 0;
    while (removed < kMostCopies &&
           RunProgram(certutil, {"-D", "-d", "sql:" + database, "-n", kNssNickname}).ok()) {
        ++removed;
    }
    return removed;
}

bool NssHolds(const std::string& certutil, const std::string& database,
              const std::string& certificatePem) {
    const std::string body = PemBody(certificatePem);
    const CommandResult listed =
        RunProgram(certutil, {"-L", "-d", "sql:" + database, "-n", kNssNickname, "-a"});
    return listed.ok() && !body.empty() &&
           WithoutSpaces(listed.output).find(body) != std::string::npos;
}

}  // namespace gx
