#include "platform/tls/RootAuthority.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <vector>

#include "platform/program/FdText.h"
#include "platform/program/LocalTime.h"
#include "platform/program/WholeFile.h"
#include "platform/tls/CertificateBuilder.h"

namespace gx::tls {
namespace {

constexpr std::chrono::seconds kRootLifetime{10LL * 365 * 24 * 3600};
constexpr std::chrono::seconds kRootBackdating{24 * 3600};  // clocks that run a little late

bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

std::string CommonNameOf(X509* certificate) {
    char name[256] = "";
    X509_NAME_get_text_by_NID(X509_get_subject_name(certificate), NID_commonName, name,
                              sizeof name);
    return name;
}

// What is in the folder when no usable root is.
enum class Found { Nothing, Damaged, OtherName };

Found WhatIsThere(const std::string& folder) {
    const bool somethingThere =
        Exists(folder + "/" + kRootKeyFile) || Exists(folder + "/" + kRootCertificateFile);
    if (!somethingThere) {
        return Found::Nothing;
    }
    auto keyPem = ReadWholeFile(folder + "/" + kRootKeyFile);
    auto certPem = ReadWholeFile(folder + "/" + kRootCertificateFile);
    PkeyHandle key = keyPem ? PrivateKeyFromPem(*keyPem) : PkeyHandle();
    X509Handle cert = certPem ? CertificateFromPem(*certPem) : X509Handle();
    const bool soundPair = key && cert && X509_check_private_key(cert.get(), key.get()) == 1 &&
                           X509_cmp_current_time(X509_get0_notAfter(cert.get())) > 0;
    return soundPair ? Found::OtherName : Found::Damaged;
}

void SetAside(const std::string& folder, const char* pattern) {
    const std::string suffix = LocalTimeText(std::time(nullptr), pattern);
    for (const char* name : {kRootKeyFile, kRootCertificateFile}) {
        std::string path = folder + "/" + name;
        if (Exists(path)) {
            ::rename(path.c_str(), (path + suffix).c_str());
        }
    }
}

RootAuthority Complete(PkeyHandle key, X509Handle cert, const std::string& folder) {
    RootAuthority root;
    root.fingerprint = Fingerprint(cert.get());
    root.key = ShareKey(std::move(key));
    root.certificate = ShareCertificate(std::move(cert));
    root.certificatePath = folder + "/" + kRootCertificateFile;
    return root;
}

std::optional<RootAuthority> CreateRoot(const std::string& folder, const std::string& subject) {
    PkeyHandle key = NewEcKey();
    if (!key) {
        return std::nullopt;
    }
    CertificateFields fields;
    fields.commonName = subject;
    fields.organization = kRootOrganization;
    fields.organizationalUnit = AccountLabel();
    fields.publicKey = key.get();
    fields.signingKey = key.get();
    fields.authority = true;
    fields.validFrom = -kRootBackdating;
    fields.validFor = kRootLifetime;
    X509Handle cert = BuildCertificate(fields);
    if (!cert ||
        !WriteFileAtomically(folder + "/" + kRootKeyFile, PrivateKeyPem(key.get()), 0600) ||
        !WriteFileAtomically(folder + "/" + kRootCertificateFile, CertificatePem(cert.get()),
                             0644)) {
        return std::nullopt;
    }
    return Complete(std::move(key), std::move(cert), folder);
}

}  // namespace

std::string AccountLabel() {
    std::string account;
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
        account = found->pw_name;
    } else {
        account = std::to_string(::geteuid());
    }
    char host[256] = "";
    if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') {
        return account;
    }
    return account + "@" + host;
}

bool WriteFileAtomically(const std::string& path, const std::string& contents, unsigned mode) {
    std::string temporary = path + ".tmp-XXXXXX";
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        return false;
    }
    bool written = ::fchmod(fd, mode) == 0 && WriteAll(fd, contents);
    written = written && ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

std::optional<RootAuthority> LoadRoot(const std::string& folder, const std::string& subject) {
    auto keyPem = ReadWholeFile(folder + "/" + kRootKeyFile);
    auto certPem = ReadWholeFile(folder + "/" + kRootCertificateFile);
    if (!keyPem || !certPem) {
        return std::nullopt;
    }
    PkeyHandle key = PrivateKeyFromPem(*keyPem);
    X509Handle cert = CertificateFromPem(*certPem);
    if (!key || !cert || X509_check_private_key(cert.get(), key.get()) != 1 ||
        CommonNameOf(cert.get()) != subject ||
        X509_cmp_current_time(X509_get0_notAfter(cert.get())) <= 0) {
        return std::nullopt;
    }
    return Complete(std::move(key), std::move(cert), folder);
}

std::optional<RootAuthority> LoadOrCreateRoot(const std::string& folder, const std::string& subject,
                                              std::string* notice) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return std::nullopt;
    }
    if (auto root = LoadRoot(folder, subject)) {
        return root;
    }
    const Found found = WhatIsThere(folder);
    if (found == Found::OtherName) {
        SetAside(folder, ".renamed-%Y%m%d-%H%M%S");
        if (notice) {
            *notice =
                "le certificat racine de Gardalix portait un ancien nom ; il a été mis de "
                "côté et un nouveau, « " +
                subject +
                " », a été créé. Les sites HTTPS ne "
                "sont plus protégés tant que vous ne lui faites pas confiance (« gx-driver "
                "trust », ou le bouton « Protéger aussi les sites HTTPS » de la console).";
        }
    } else if (found == Found::Damaged) {
        SetAside(folder, ".damaged-%Y%m%d-%H%M%S");
        if (notice) {
            *notice =
                "le certificat racine de Gardalix \xC3\xA9tait illisible ou ab\xC3\xAEm\xC3\xA9 ; "
                "il a "
                "\xC3\xA9t\xC3\xA9 mis de c\xC3\xB4t\xC3\xA9 et un nouveau a \xC3\xA9t\xC3\xA9 "
                "cr\xC3\xA9\xC3\xA9 "
                "(\xC2\xAB gx-driver trust \xC2\xBB pour lui faire confiance).";
        }
    }
    return CreateRoot(folder, subject);
}

}  // namespace gx::tls
