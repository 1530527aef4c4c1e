#include "tools/gx-driver/TrustCommands.h"

#include <openssl/x509v3.h>

#include <filesystem>
#include <iostream>
#include <string>

#include "engine/GX_Main.h"
#include "platform/tls/CertificateBuilder.h"
#include "platform/tls/DataFolder.h"
#include "platform/tls/RootAuthority.h"
#include "platform/tls/SystemTrustStore.h"
#include "platform/tls/TrustMarker.h"
#include "tools/gx-driver/DriverCommands.h"
#include "tools/gx-driver/TrustStores.h"
#include "tools/gx-driver/TrustUser.h"

namespace gx {
namespace {

int Fail(const std::string& message) {
    std::cerr << "gx-driver : " << message << "\n";
    return kDriverFailed;
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

constexpr const char* kCertutilMissing =
    "certutil est introuvable : vos navigateurs ne peuvent pas recevoir la racine. Installez le "
    "paquet libnss3-tools (sudo apt install libnss3-tools) puis relancez gx-driver trust.";

// With the user's identity: the root made or read, its PEM as the reply.
int ReadOrMakeRoot(const TrustUser& user, std::string& reply) {
    // A new account may have no ~/.local/share yet.
    std::error_code ignored;
    std::filesystem::create_directories(user.dataBase, ignored);
    if (!tls::MakeInterceptionFolder(user.dataBase)) {
        return Fail("impossible de créer le dossier " + user.folder);
    }
    std::string notice;
    const auto root = tls::LoadOrCreateRoot(user.folder, kRootCertSubject, &notice);
    if (!notice.empty()) {
        std::cerr << "gx-driver : " << notice << "\n";
    }
    if (!root) {
        return Fail("impossible de lire ou de créer le certificat racine dans " + user.folder);
    }
    reply = tls::CertificatePem(root->certificate.get());
    return kDriverOk;
}

// The root handed back by the user's side, read again here: only a certificate of ours, in its
// own encoding, goes on to the machine's store.
X509Handle CheckedRoot(const std::string& pem) {
    X509Handle certificate = tls::CertificateFromPem(pem);
    if (!certificate) {
        return nullptr;
    }
    char name[256] = "";
    X509_NAME_get_text_by_NID(X509_get_subject_name(certificate.get()), NID_commonName, name,
                              sizeof name);
    if (std::string(name) != kRootCertSubject || X509_check_ca(certificate.get()) <= 0) {
        return nullptr;
    }
    return certificate;
}

// With the user's identity: the root in each NSS database, then the marker when something
// trusts the root. `systemTrusts`: the machine's store took it.
int TrustForUser(const TrustUser& user, const std::string& fingerprint, bool systemTrusts) {
    const std::string certificatePath = user.folder + "/" + tls::kRootCertificateFile;
    const std::vector<std::string> databases = NssDatabases(user.home);
    const std::string certutil = Certutil();
    int trusted = 0;
    bool failed = false;
    if (databases.empty()) {
        std::cout << "  Navigateurs : aucune base de certificats trouvée (Chromium : ~/.pki/nssdb, "
                     "Firefox : ~/.mozilla/firefox) ; ouvrez votre navigateur une fois puis "
                     "relancez gx-driver trust.\n";
    } else if (certutil.empty()) {
        std::cerr << "gx-driver : " << kCertutilMissing << "\n";
    }
    for (const std::string& database : certutil.empty() ? std::vector<std::string>{} : databases) {
        std::string error;
        if (AddToNss(certutil, database, certificatePath, &error)) {
            std::cout << "  " << DescribeDatabase(user.home, database)
                      << " : la racine est reconnue.\n";
            ++trusted;
        } else {
            Fail(DescribeDatabase(user.home, database) + " : " + Trimmed(error));
            failed = true;
        }
    }
    if (failed) {
        return Fail(
            "l'interception HTTPS reste désactivée ; corrigez l'erreur puis relancez "
            "gx-driver trust.");
    }
    if (!systemTrusts && trusted == 0) {
        return Fail(
            "aucun magasin de certificats n'a reçu la racine : l'interception HTTPS reste "
            "désactivée.");
    }
    if (!tls::WriteTrustMarker(user.folder, fingerprint)) {
        return Fail("impossible d'écrire " + user.folder + "/" + tls::kTrustMarkerFile);
    }
    std::cout << "Interception HTTPS activée (" << user.folder << "/" << tls::kTrustMarkerFile
              << ").\n";
    return kDriverOk;
}

// With the user's identity: the marker first, then the NSS databases.
int UntrustForUser(const TrustUser& user) {
    tls::RemoveTrustMarker(user.folder);
    std::cout << "Interception HTTPS désactivée.\n";
    const std::vector<std::string> databases = NssDatabases(user.home);
    const std::string certutil = Certutil();
    if (!databases.empty() && certutil.empty()) {
        return Fail(
            "certutil est introuvable : la racine n'a pas pu être retirée des bases de "
            "vos navigateurs (paquet libnss3-tools).");
    }
    for (const std::string& database : databases) {
        const int removed = RemoveFromNss(certutil, database);
        std::cout << "  " << DescribeDatabase(user.home, database) << " : "
                  << (removed > 0 ? "racine retirée" : "rien à retirer") << ".\n";
    }
    return kDriverOk;
}

// With the user's identity: the status lines; the reply is "1" when interception is on.
int StatusForUser(const TrustUser& user, std::string& reply) {
    const auto root = tls::LoadRoot(user.folder, kRootCertSubject);
    const bool enabled = root && tls::TrustMarkerNames(user.folder, root->fingerprint);
    reply = enabled ? "1" : "0";
    std::cout << "Certificat racine " << user.folder << "/" << tls::kRootCertificateFile << " : "
              << (root ? "présent (SHA-256 " + root->fingerprint + ")" : std::string("absent"))
              << "\n";
    std::cout << "Interception HTTPS : "
              << (enabled ? "activée" : "désactivée (gx-driver trust pour l'activer)") << "\n";
    std::cout << "Magasin du système " << tls::SystemStoreCertificatePath() << " : "
              << (root && tls::SystemStoreHolds(root->fingerprint) ? "contient la racine"
                  : tls::SystemStoreHasOurFile()                   ? "contient une autre racine"
                                                                   : "ne contient pas la racine")
              << "\n";
    const std::vector<std::string> databases = NssDatabases(user.home);
    const std::string certutil = Certutil();
    if (databases.empty()) {
        std::cout << "Navigateurs : aucune base de certificats trouvée\n";
    } else if (certutil.empty()) {
        std::cout << "Navigateurs : certutil est introuvable (paquet libnss3-tools)\n";
    }
    const std::string pem = root ? tls::CertificatePem(root->certificate.get()) : "";
    for (const std::string& database : certutil.empty() ? std::vector<std::string>{} : databases) {
        std::cout << DescribeDatabase(user.home, database) << " : "
                  << (root && NssHolds(certutil, database, pem) ? "reconnaît la racine"
                                                                : "ne reconnaît pas la racine")
                  << "\n";
    }
    return kDriverOk;
}

}  // namespace

int TrustRoot(const TrustOptions& options) {
    const bool userOnly = options.userOnly;
    std::string problem;
    const auto user = FindTrustUser(options.dataHome, &problem);
    if (!user) {
        return Fail(problem);
    }
    std::string pem;
    if (AsUser(
            *user, [&](std::string& reply) { return ReadOrMakeRoot(*user, reply); }, &pem) !=
        kDriverOk) {
        return kDriverFailed;
    }
    const X509Handle root = CheckedRoot(pem);
    if (!root) {
        return Fail("le certificat racine de " + user->folder + " est illisible");
    }
    const std::string fingerprint = tls::Fingerprint(root.get());
    std::cout << "Certificat racine de " << user->name << " : " << user->folder << "/"
              << tls::kRootCertificateFile << " (SHA-256 " << fingerprint << ")\n";
    bool systemTrusts = false;
    if (!userOnly) {
        std::string error;
        if (!InstallInSystemStore(tls::CertificatePem(root.get()), &error)) {
            return Fail(Trimmed(error) + "\nL'interception HTTPS reste désactivée.");
        }
        systemTrusts = true;
        std::cout << "  Magasin du système : racine installée ("
                  << tls::SystemStoreCertificatePath() << ").\n";
    }
    return AsUser(
        *user, [&](std::string&) { return TrustForUser(*user, fingerprint, systemTrusts); },
        nullptr);
}

int UntrustRoot(const TrustOptions& options) {
    std::string problem;
    const auto user = FindTrustUser(options.dataHome, &problem);
    // Without a user to act for (a removal of the package, say), the machine's store is still
    // emptied.
    int status = user ? AsUser(
                            *user, [&](std::string&) { return UntrustForUser(*user); }, nullptr)
                      : Fail(problem);
    if (options.userOnly) {
        if (tls::SystemStoreHasOurFile()) {
            std::cout << "  Le magasin du système contient encore la racine ("
                      << tls::SystemStoreCertificatePath()
                      << ") : sudo gx-driver untrust pour l'en retirer.\n";
        }
        return status;
    }
    bool removed = false;
    std::string error;
    if (!RemoveFromSystemStore(&removed, &error)) {
        return Fail(Trimmed(error));
    }
    std::cout << "  Magasin du système : " << (removed ? "racine retirée" : "rien à retirer")
              << ".\n";
    return status;
}

bool ShowTrustStatus(const TrustOptions& options) {
    std::string problem;
    const auto user = FindTrustUser(options.dataHome, &problem);
    if (!user) {
        Fail(problem);
        return false;
    }
    std::string enabled;
    AsUser(
        *user, [&](std::string& reply) { return StatusForUser(*user, reply); }, &enabled);
    return enabled == "1";
}

}  // namespace gx
