// The TLS units alone: the ClientHello reader on real and damaged hellos, the server-name rule,
// the leaf issuer and its bounded cache, the memory of connections that cannot be inspected.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/interception/FailOpenMemory.h"
#include "platform/program/UserDataFolder.h"
#include "platform/tls/CertificateBuilder.h"
#include "platform/tls/ClientHello.h"
#include "platform/tls/DataFolder.h"
#include "platform/tls/LeafIssuer.h"
#include "platform/tls/RootAuthority.h"
#include "support/TempFolder.h"

namespace gx::tls {
namespace {

// The first flight of a real OpenSSL client: its ClientHello record.
std::string RealClientHello(const char* serverName, const std::vector<std::string>& alpn) {
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    SSL* ssl = SSL_new(context);
    BIO* in = BIO_new(BIO_s_mem());
    BIO* out = BIO_new(BIO_s_mem());
    SSL_set_bio(ssl, in, out);
    if (serverName) {
        SSL_set_tlsext_host_name(ssl, serverName);
    }
    std::string wire;
    for (const std::string& protocol : alpn) {
        wire += static_cast<char>(protocol.size());
        wire += protocol;
    }
    if (!wire.empty()) {
        SSL_set_alpn_protos(ssl, reinterpret_cast<const unsigned char*>(wire.data()),
                            static_cast<unsigned>(wire.size()));
    }
    SSL_connect(ssl);  // wants to read the answer; the hello is written
    char* data = nullptr;
    long size = BIO_get_mem_data(out, &data);
    std::string hello(data, static_cast<size_t>(size));
    SSL_free(ssl);
    SSL_CTX_free(context);
    return hello;
}

ClientHello Read(const std::string& bytes) {
    return ReadClientHello(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

TEST(ClientHelloReader, ReadsTheServerNameAndProtocolsOfARealHello) {
    std::string hello = RealClientHello("www.example.org", {"h2", "http/1.1"});
    ClientHello read = Read(hello + "trailing bytes");
    ASSERT_EQ(read.verdict, ClientHello::Verdict::Hello);
    EXPECT_EQ(read.serverName, "www.example.org");
    EXPECT_EQ(read.alpn, (std::vector<std::string>{"h2", "http/1.1"}));
    EXPECT_EQ(read.recordSize, hello.size());

    ClientHello bare = Read(RealClientHello(nullptr, {}));
    ASSERT_EQ(bare.verdict, ClientHello::Verdict::Hello);
    EXPECT_EQ(bare.serverName, "");
    EXPECT_TRUE(bare.alpn.empty());

    for (size_t size = 0; size < hello.size(); ++size) {
        EXPECT_EQ(Read(hello.substr(0, size)).verdict, ClientHello::Verdict::NeedMore) << size;
    }
}

TEST(ClientHelloReader, WhatIsNotAHelloIsToldAtOnce) {
    const std::vector<std::string> cases = {
        "GET / HTTP/1.1\r\n",
        "SSH-2.0-OpenSSH_9.2\r\n",
        std::string("\x16\x02\x00", 3),                          // not version 3.x
        std::string("\x16\x03\x01\x00\x00", 5),                  // an empty record
        std::string("\x16\x03\x01\x48\x01", 5),                  // longer than a record may be
        std::string("\x16\x03\x01\x00\x04\x02\x00\x00\x00", 9),  // a ServerHello
    };
    for (const std::string& bytes : cases) {
        SCOPED_TRACE(bytes);
        EXPECT_EQ(Read(bytes).verdict, ClientHello::Verdict::NotTls);
    }
}

// Lengths that lie must never make the reader look past its bytes (run under the sanitizers,
// this is where it would show).
TEST(ClientHelloReader, DamagedHellosAreReadWithinTheirBytes) {
    std::string hello = RealClientHello("damaged.example", {"http/1.1"});
    std::mt19937 random(12345);
    for (int round = 0; round < 5000; ++round) {
        std::string damaged = hello;
        for (int flips = 0; flips < 4; ++flips) {
            damaged[random() % damaged.size()] = static_cast<char>(random());
        }
        ClientHello read = Read(damaged.substr(0, random() % (damaged.size() + 1)));
        EXPECT_LE(read.serverName.size(), 65535u);
    }
}

TEST(ServerNames, OnlyHostNamesAreTakenFromTheHello) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"www.example.org", true},
        {"www.example.org.", true},
        {"localhost", true},
        {"xn--bcher-kva.example", true},
        {"a-b.example", true},
        {"192.0.2.1", false},            // an address
        {"www.example.org:443", false},  // host and port, as some load tools send
        {"[2001:db8::1]", false},
        {"-bad.example", false},
        {"bad-.example", false},
        {"a..example", false},
        {"", false},
        {std::string(64, 'a') + ".example", false},  // a label of 64 characters
        {"under_score.example", false},
    };
    for (const auto& [name, isHost] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(IsHostName(name), isHost);
    }
}

std::string NamePart(X509* certificate, int nid) {
    char text[256] = "";
    X509_NAME_get_text_by_NID(X509_get_subject_name(certificate), nid, text, sizeof text);
    return text;
}

bool SomethingSetAsideWith(const std::string& folder, const std::string& marker) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().filename().string().find(marker) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// The root says what it is and whose: a person opening a certificate viewer sees it.
TEST(RootAuthority, NamesTheProgramAndTheAccountItWasMadeFor) {
    gx::testing::TempFolder folder;
    const auto root = LoadOrCreateRoot(folder.File("ca"), "Gardalix Root CA");
    ASSERT_TRUE(root);
    X509* certificate = root->certificate.get();
    EXPECT_EQ(NamePart(certificate, NID_commonName), "Gardalix Root CA");
    EXPECT_EQ(NamePart(certificate, NID_organizationName), "Gardalix");
    const std::string unit = NamePart(certificate, NID_organizationalUnitName);
    EXPECT_EQ(unit, AccountLabel());
    EXPECT_NE(unit.find('@'), std::string::npos) << unit;
    // The issuer is the same name: a root.
    EXPECT_EQ(X509_NAME_cmp(X509_get_subject_name(certificate), X509_get_issuer_name(certificate)),
              0);
}

// A sound root made under a former name is not used: it is set aside, a new one is made, and
// the French line says that trust must be given again.
TEST(RootAuthority, ARootOfAFormerNameIsSetAsideAndMadeAnew) {
    gx::testing::TempFolder folder;
    const std::string ca = folder.File("ca");
    const auto former = LoadOrCreateRoot(ca, "Former sample name");
    ASSERT_TRUE(former);
    std::string notice;
    const auto renewed = LoadOrCreateRoot(ca, "Gardalix Root CA", &notice);
    ASSERT_TRUE(renewed);
    EXPECT_NE(renewed->fingerprint, former->fingerprint);
    EXPECT_EQ(NamePart(renewed->certificate.get(), NID_commonName), "Gardalix Root CA");
    EXPECT_TRUE(SomethingSetAsideWith(ca, ".renamed-"));
    EXPECT_FALSE(SomethingSetAsideWith(ca, ".damaged-"));
    EXPECT_NE(notice.find("ancien nom"), std::string::npos) << notice;
    EXPECT_NE(notice.find("confiance"), std::string::npos) << notice;
    // Made once, the new root is the one read from then on, with no notice.
    notice.clear();
    EXPECT_EQ(LoadOrCreateRoot(ca, "Gardalix Root CA", &notice)->fingerprint, renewed->fingerprint);
    EXPECT_TRUE(notice.empty());
}

class LeafIssuerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto made = LoadOrCreateRoot(folder_.Path().string() + "/ca", "Leaf test root");
        ASSERT_TRUE(made);
        root_ = *made;
    }
    gx::testing::TempFolder folder_;
    RootAuthority root_;
};

TEST_F(LeafIssuerTest, EachNameGetsALeafForItAloneSignedByTheRoot) {
    LeafIssuer issuer(root_);
    for (const std::string name : {"Www.Example.ORG.", "192.0.2.7", "2001:db8::7"}) {
        SCOPED_TRACE(name);
        std::shared_ptr<X509> leaf = issuer.LeafFor(name);
        ASSERT_TRUE(leaf);
        EXPECT_EQ(X509_verify(leaf.get(), root_.key.get()), 1);
        std::string canonical = CanonicalServerName(name);
        bool address = canonical.find_first_not_of("0123456789.:abcdef") == std::string::npos;
        int matches = address ? X509_check_ip_asc(leaf.get(), canonical.c_str(), 0)
                              : X509_check_host(leaf.get(), canonical.c_str(), 0, 0, nullptr);
        EXPECT_EQ(matches, 1);
        EXPECT_EQ(X509_check_host(leaf.get(), "other.example", 0, 0, nullptr), 0);
        // At most 397 days of validity.
        int days = 0;
        int seconds = 0;
        ASN1_TIME_diff(&days, &seconds, X509_get0_notBefore(leaf.get()),
                       X509_get0_notAfter(leaf.get()));
        EXPECT_LE(days, 397);
        EXPECT_LT(X509_cmp_current_time(X509_get0_notBefore(leaf.get())), 0);  // starts earlier
    }
    EXPECT_EQ(issuer.LeafFor("www.example.org").get(), issuer.LeafFor("WWW.example.org").get());
    EXPECT_FALSE(issuer.LeafFor("bad,name"));  // never into the certificate's configuration
    EXPECT_FALSE(issuer.LeafFor("host:443"));
}

TEST_F(LeafIssuerTest, TheCacheStaysBoundedAndKeepsTheRecentLeaves) {
    LeafIssuer issuer(root_, 3);
    for (const std::string name :
         {"a.example", "b.example", "c.example", "d.example", "e.example"}) {
        issuer.LeafFor(name);
    }
    EXPECT_EQ(issuer.Cached(), 3u);
    EXPECT_EQ(issuer.Misses(), 5u);
    issuer.LeafFor("e.example");  // recent: still there
    EXPECT_EQ(issuer.Hits(), 1u);
    issuer.LeafFor("a.example");  // forgotten: issued again
    EXPECT_EQ(issuer.Misses(), 6u);
}

TEST(InterceptionFolder, IsMadeWithTheFoldersAboveItOnAFreshAccount) {
    gx::testing::TempFolder home;
    std::string base = UserDataBase(home.Path().string(), "");
    ASSERT_TRUE(MakeInterceptionFolder(base));  // neither .local nor .local/share exist yet
    struct stat info {};
    ASSERT_EQ(::stat(InterceptionFolder(base).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(UserDataBase("/home/a", "/data/a"), "/data/a");
    EXPECT_EQ(UserDataBase("/home/a", "relative"), "/home/a/.local/share");
}

TEST(FailOpen, RemembersAProgramAndAHostForAWhileAndABoundedNumber) {
    interception::FailOpenMemory memory(2, std::chrono::hours(1));
    memory.Remember("pinned.example", "/usr/bin/app");
    EXPECT_TRUE(memory.Remembers("pinned.example", "/usr/bin/app"));
    EXPECT_FALSE(memory.Remembers("pinned.example", "/usr/bin/browser"));
    EXPECT_FALSE(memory.Remembers("other.example", "/usr/bin/app"));
    memory.Remember("b.example", "/p");
    memory.Remember("c.example", "/p");
    EXPECT_EQ(memory.Size(), 2u);
    EXPECT_FALSE(memory.Remembers("pinned.example", "/usr/bin/app"));  // the oldest went

    interception::FailOpenMemory shortLived(10, std::chrono::seconds(0));
    shortLived.Remember("gone.example", "/p");
    EXPECT_FALSE(shortLived.Remembers("gone.example", "/p"));
}

}  // namespace
}  // namespace gx::tls
