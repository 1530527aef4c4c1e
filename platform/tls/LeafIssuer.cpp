#include "platform/tls/LeafIssuer.h"

#include <arpa/inet.h>

#include <chrono>

#include "platform/text/AsciiText.h"
#include "platform/tls/CertificateBuilder.h"
#include "platform/tls/ClientHello.h"

namespace gx::tls {
namespace {

constexpr std::chrono::seconds kBackdating{24 * 3600};
constexpr std::chrono::seconds kLeafLifetime{397LL * 24 * 3600};

bool IsAddress(const std::string& name) {
    unsigned char bytes[16];
    return inet_pton(AF_INET, name.c_str(), bytes) == 1 ||
           inet_pton(AF_INET6, name.c_str(), bytes) == 1;
}

}  // namespace

std::string CanonicalServerName(const std::string& name) {
    std::string canonical = name;
    if (!canonical.empty() && canonical.back() == '.') {
        canonical.pop_back();
    }
    for (char& c : canonical) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return canonical;
}

bool SameServerName(std::string_view a, std::string_view b) {
    if (!a.empty() && a.back() == '.') {
        a.remove_suffix(1);
    }
    if (!b.empty() && b.back() == '.') {
        b.remove_suffix(1);
    }
    return ascii::EqualsNoCase(a, b);
}

LeafIssuer::LeafIssuer(RootAuthority root, size_t capacity)
    : root_(std::move(root)), leafKey_(ShareKey(NewEcKey())), capacity_(capacity) {}

std::shared_ptr<X509> LeafIssuer::LeafFor(const std::string& name) {
    std::string key = CanonicalServerName(name);
    {
        std::lock_guard lock(mutex_);
        if (auto found = byName_.find(key); found != byName_.end()) {
            recent_.splice(recent_.begin(), recent_, found->second);
            ++hits_;
            return found->second->second;
        }
    }
    ++misses_;
    std::shared_ptr<X509> leaf = Issue(key);  // outside the lock: signing takes a while
    if (!leaf) {
        return nullptr;
    }
    std::lock_guard lock(mutex_);
    if (auto found = byName_.find(key); found != byName_.end()) {
        return found->second->second;  // another thread issued it meanwhile
    }
    recent_.emplace_front(key, leaf);
    byName_[key] = recent_.begin();
    while (recent_.size() > capacity_) {
        byName_.erase(recent_.back().first);
        recent_.pop_back();
    }
    return leaf;
}

size_t LeafIssuer::Cached() {
    std::lock_guard lock(mutex_);
    return recent_.size();
}

std::shared_ptr<X509> LeafIssuer::Issue(const std::string& name) {
    // Only a host name or an address goes into the certificate's configuration text.
    if (!leafKey_ || (!IsHostName(name) && !IsAddress(name))) {
        return nullptr;
    }
    CertificateFields fields;
    fields.commonName = name.size() <= 64 ? name : name.substr(0, 64);  // the CN field's limit
    fields.publicKey = leafKey_.get();
    fields.signingKey = root_.key.get();
    fields.issuer = root_.certificate.get();
    fields.subjectAltName = (IsAddress(name) ? "IP:" : "DNS:") + name;
    fields.validFrom = -kBackdating;
    fields.validFor = kLeafLifetime;
    X509Handle leaf = BuildCertificate(fields);
    return leaf ? ShareCertificate(std::move(leaf)) : nullptr;
}

}  // namespace gx::tls
