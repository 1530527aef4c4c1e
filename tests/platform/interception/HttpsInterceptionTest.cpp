// HTTPS through the proxy once the installation's root is trusted: requests inside TLS are
// judged like plain ones, a blocked one is answered inside TLS without any connection to its
// server, the rest travel over a TLS connection that verifies the server; an invalid server is
// never relayed; what cannot be inspected is relayed untouched, and not broken twice.
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/interception/HttpsTestFixture.h"
#include "platform/interception/ProxyTestSupport.h"
#include "platform/interception/TlsTestOrigin.h"
#include "platform/tls/RootAuthority.h"
#include "platform/tls/TrustMarker.h"

namespace gx::test {
namespace {

constexpr char kSubject[] = "Gardalix test root";

class HttpsTest : public InspectedHttpsTest {
  protected:
    void SetUp() override {
        ProxyTest::SetUp();
        SetUpHttps(kSubject, "bloqu\xE9");
        front_ = std::make_unique<TlsFront>(*authority_);
    }

    // curl through the proxy, trusting the given authority (our root by default).
    CurlResult Curl(const std::string& arguments, const std::string& trust = "") {
        return RunCurl("--proxy http://127.0.0.1:" + std::to_string(ProxyPort()) + " --cacert '" +
                       (trust.empty() ? RootPem() : trust) + "' " + arguments);
    }

    std::unique_ptr<TlsFront> front_;
};

TEST_F(HttpsTest, AListedAddressIsAnsweredInsideTlsAndItsServerIsNeverContacted) {
    ASSERT_TRUE(StartHttps());
    CurlResult blocked = Curl("-w ' %{http_code}' " + front_->Url("/listed"));
    EXPECT_EQ(blocked.exitCode, 0) << blocked.output;
    EXPECT_EQ(blocked.output, "bloqu\xE9 404");
    EXPECT_EQ(front_->HandshakeCount(), 0);  // no TLS, not even a connection, to the server

    CurlResult passed = Curl(front_->Url("/page"));
    EXPECT_EQ(passed.exitCode, 0) << passed.output;
    EXPECT_EQ(passed.output, "origin saw GET /page");
    std::lock_guard lock(Program().mutex);
    ASSERT_EQ(Program().partLines.size(), 2u);
    EXPECT_EQ(Program().partLines[1], "GET /page HTTP/1.1\r\n");
    EXPECT_NE(Program().partHeaders[1].find("Host: localhost:" + std::to_string(front_->Port())),
              std::string::npos);
}

// A new connection to a server the proxy spoke to before resumes the session the server gave:
// one round trip less, and the certificate was checked when the session was made.
TEST_F(HttpsTest, ANewConnectionToTheSameServerResumesItsSession) {
    ASSERT_TRUE(StartHttps());
    for (const char* path : {"/first", "/second"}) {
        CurlResult result = Curl("--http1.1 " + front_->Url(path));
        EXPECT_EQ(result.output, std::string("origin saw GET ") + path);
    }
    EXPECT_EQ(front_->HandshakeCount(), 2);
    EXPECT_EQ(front_->ResumedCount(), 1);
}

TEST_F(HttpsTest, KeptAliveRequestsShareOneConnectionToTheServer) {
    ASSERT_TRUE(StartHttps());
    CurlResult result = Curl(front_->Url("/a") + " " + front_->Url("/b") + " " + front_->Url("/c"));
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output, "origin saw GET /aorigin saw GET /borigin saw GET /c");
    EXPECT_EQ(front_->HandshakeCount(), 1);
    EXPECT_EQ(Program().PartCount(), 3u);
}

TEST_F(HttpsTest, AClientOfferingHttp2SpeaksItAndOneThatDoesNotSpeaksHttp11) {
    ASSERT_TRUE(StartHttps());
    const std::pair<const char*, const char*> cases[] = {{"--http2", "2"}, {"--http1.1", "1.1"}};
    for (const auto& [option, version] : cases) {
        SCOPED_TRACE(option);
        CurlResult result =
            Curl(std::string(option) + " -w ' %{http_version}' " + front_->Url("/h2"));
        EXPECT_EQ(result.exitCode, 0) << result.output;
        EXPECT_EQ(result.output, std::string("origin saw GET /h2 ") + version);
    }
}

TEST_F(HttpsTest, AnAddressWithoutServerNameIsInspectedUnderTheTunnelsHost) {
    ASSERT_TRUE(StartHttps());
    // curl sends no SNI for an address: the CONNECT host names the leaf (an IP entry).
    std::string url = "https://127.0.0.1:" + std::to_string(front_->Port()) + "/by-address";
    CurlResult result = Curl(url);
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output, "origin saw GET /by-address");
    EXPECT_EQ(Program().PartCount(), 1u);
}

// A tunnel opened for one server with a ClientHello naming another: the request goes to the
// tunnel's server, so it is judged under that server too, and blocked when that one is listed.
TEST_F(HttpsTest, ARequestIsJudgedUnderTheTunnelsServerWhenItsServerNameDiffers) {
    std::string port = std::to_string(front_->Port());
    Program().onPart = [port](ENDPOINT_ID id, PFObject* object) {
        if (StreamText(object, 1).find("Host: 127.0.0.1:" + port) == std::string::npos) {
            return int{DPCR_BYPASS};
        }
        PostAnswer(id, "HTTP/1.1 404 Not OK", "bloqu\xE9", true);
        return int{DPCR_BLOCK};
    };
    ASSERT_TRUE(StartHttps());
    // curl opens CONNECT 127.0.0.1:PORT, and names localhost in its ClientHello and Host.
    CurlResult result = Curl("--connect-to localhost:" + port + ":127.0.0.1:" + port + " " +
                             front_->Url("/listed-by-address"));
    EXPECT_EQ(result.output, "bloqu\xE9");
    EXPECT_EQ(front_->Origin().RequestCount(), 0);
    EXPECT_EQ(Program().PartCount(), 2u);
}

TEST_F(HttpsTest, ServersWhoseCertificateDoesNotVerifyAreNeverRelayed) {
    struct Case {
        FrontCertificate kind;
        std::string reason;  // in the page, Windows-1252
    };
    const std::vector<Case> cases = {
        {FrontCertificate::Expired, "a expir\xE9"},
        {FrontCertificate::SelfSigned, "auto-sign\xE9"},
        {FrontCertificate::WrongName, "pour un autre nom"},
        {FrontCertificate::CommonNameOnly, "que dans son nom commun (CN)"},
    };
    ASSERT_TRUE(StartHttps());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        TlsFront bad(*authority_, c.kind);
        CurlResult result = Curl("-w ' %{http_code}' " + bad.Url("/secret"));
        EXPECT_EQ(result.exitCode, 0) << result.output;
        EXPECT_TRUE(result.output.ends_with(" 502")) << result.output;
        EXPECT_NE(result.output.find("<b>localhost</b>"), std::string::npos) << result.output;
        EXPECT_NE(result.output.find(c.reason), std::string::npos) << result.output;
        EXPECT_EQ(bad.Origin().RequestCount(), 0);
    }
}

TEST_F(HttpsTest, ARequestNamingAnotherServerThanItsTlsIsRefused) {
    ASSERT_TRUE(StartHttps());
    const std::string port = std::to_string(front_->Port());
    const std::pair<const char*, std::string> hosts[] = {
        {"another name", "other.example:" + port},
        {"another port", "localhost:1"},
        {"no port, which names 443", "localhost"},
    };
    for (const auto& [description, host] : hosts) {
        SCOPED_TRACE(description);
        CurlResult result = Curl("-H 'Host: " + host + "' -w ' %{http_code}' " + front_->Url("/x"));
        EXPECT_TRUE(result.output.ends_with(" 421")) << result.output;
    }
    EXPECT_EQ(front_->Origin().RequestCount(), 0);
    EXPECT_EQ(Program().PartCount(), 0u);
}

// The proxy ends an inspected connection with TLS's closing alert, so that the client can tell
// a response that ended from a connection that was cut.
TEST_F(HttpsTest, AnInspectedConnectionEndsWithTheClosingAlert) {
    ASSERT_TRUE(StartHttps());
    const std::string authority = "localhost:" + std::to_string(front_->Port());
    const int fd = ConnectThrough(ProxyPort(), authority);
    ASSERT_GE(fd, 0);

    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    ASSERT_EQ(SSL_CTX_load_verify_locations(context, RootPem().c_str(), nullptr), 1);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    SSL* ssl = SSL_new(context);
    SSL_set_fd(ssl, fd);
    SSL_set_tlsext_host_name(ssl, "localhost");
    SSL_set1_host(ssl, "localhost");
    ASSERT_EQ(SSL_connect(ssl), 1);
    const std::string request =
        "GET /x HTTP/1.1\r\nHost: " + authority + "\r\nConnection: close\r\n\r\n";
    ASSERT_EQ(SSL_write(ssl, request.data(), static_cast<int>(request.size())),
              static_cast<int>(request.size()));
    std::string response;
    char buffer[4096];
    int n = 0;
    while ((n = SSL_read(ssl, buffer, sizeof buffer)) > 0) {
        response.append(buffer, static_cast<size_t>(n));
    }
    EXPECT_EQ(SSL_get_error(ssl, n), SSL_ERROR_ZERO_RETURN) << "the connection was cut";
    EXPECT_TRUE(response.starts_with("HTTP/1.1 ")) << response;
    SSL_free(ssl);
    SSL_CTX_free(context);
    ::close(fd);
}

TEST_F(HttpsTest, UntilTheRootIsTrustedTlsIsRelayedUntouched) {
    ASSERT_TRUE(StartHttps(false));
    CurlResult result = Curl(front_->Url("/direct"), authority_->PemPath());
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output, "origin saw GET /direct");
    EXPECT_EQ(Program().PartCount(), 0u);
}

TEST_F(HttpsTest, AClientThatRefusesOurCertificateIsRelayedUntouchedTheNextTime) {
    ASSERT_TRUE(StartHttps());
    // This client trusts only the server's own authority, as a program with a store (or pinned
    // keys) of its own does: the first connection fails, the next one goes through untouched.
    CurlResult first = Curl(front_->Url("/pinned"), authority_->PemPath());
    EXPECT_NE(first.exitCode, 0);
    CurlResult second = Curl(front_->Url("/pinned"), authority_->PemPath());
    EXPECT_EQ(second.exitCode, 0) << second.output;
    EXPECT_EQ(second.output, "origin saw GET /pinned");
    EXPECT_EQ(Program().PartCount(), 0u);
    // Another program (here: any other client) to another host is still inspected.
    CurlResult other = Curl("https://127.0.0.1:" + std::to_string(front_->Port()) + "/other");
    EXPECT_EQ(other.output, "origin saw GET /other");
    EXPECT_EQ(Program().PartCount(), 1u);
}

TEST_F(HttpsTest, TheRootIsMadeOnceKeptPrivateAndADamagedOneIsSetAside) {
    ASSERT_TRUE(StartHttps(false));
    std::string folder = interception::DataFolder();
    struct stat key {};
    struct stat dir {};
    ASSERT_EQ(::stat((folder + "/" + tls::kRootKeyFile).c_str(), &key), 0);
    ASSERT_EQ(::stat(folder.c_str(), &dir), 0);
    EXPECT_EQ(key.st_mode & 0777, 0600u);
    EXPECT_EQ(dir.st_mode & 0777, 0700u);
    std::string first = tls::LoadRoot(folder, kSubject)->fingerprint;

    StopLibrary();
    ASSERT_TRUE(StartHttps(false));
    EXPECT_EQ(tls::LoadRoot(folder, kSubject)->fingerprint, first);  // reused

    StopLibrary();
    std::ofstream(folder + "/" + tls::kRootKeyFile) << "not a key";
    ASSERT_TRUE(StartHttps(false));
    auto renewed = tls::LoadRoot(folder, kSubject);
    ASSERT_TRUE(renewed);
    EXPECT_NE(renewed->fingerprint, first);
    bool setAside = false;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        setAside = setAside || entry.path().filename().string().starts_with(
                                   std::string(tls::kRootKeyFile) + ".damaged-");
    }
    EXPECT_TRUE(setAside);
}

}  // namespace
}  // namespace gx::test
