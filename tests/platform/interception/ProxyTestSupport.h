// What the interception tests share: a test program that installs its own callbacks in the
// event table, a fixture that starts the library on a free loopback port, a raw-socket client
// and a curl runner.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "api/interception/NetFilter2API.h"
#include "api/interception/ProtocolFiltersAPI.h"
#include "platform/interception/Interception.h"
#include "support/Loopback.h"

namespace gx::test {

using namespace std::chrono_literals;

// A callback that the test thread sets while the proxy's worker threads may be calling it (a
// connection of the test, or one still ending from the test before): it is set and taken under
// a lock, and each call runs on a copy taken at its start.
template <typename Signature>
class SharedCallback {
  public:
    template <typename Callable>
    SharedCallback& operator=(Callable&& callable) {
        std::lock_guard lock(mutex_);
        function_ = std::forward<Callable>(callable);
        return *this;
    }
    std::function<Signature> Get() const {
        std::lock_guard lock(mutex_);
        return function_;
    }

  private:
    mutable std::mutex mutex_;
    std::function<Signature> function_;
};

// The program side of the interface, as a test wants it. Callbacks run on the proxy's worker
// threads; everything recorded is guarded.
struct TestProgram {
    // Slot 9: the result for each request (default: pass). Called with the request object.
    SharedCallback<int(ENDPOINT_ID, PFObject*)> onPart;
    // Slot 8: default posts the request on, as the engine does.
    SharedCallback<void(ENDPOINT_ID, PFObject*)> onWhole;
    // Slot 3: default attaches the three filters, as the engine does.
    SharedCallback<void(ENDPOINT_ID, PNF_TCP_CONN_INFO)> onConnected;

    std::mutex mutex;
    std::vector<std::string> partLines;    // stream 0 of each slot-9 request
    std::vector<std::string> partHeaders;  // stream 1 of each slot-9 request
    std::vector<std::string> wholeBodies;  // stream 2 of each slot-8 request
    std::vector<NF_TCP_CONN_INFO> connected;
    std::vector<std::string> connectedNames;  // nf_getProcessNameA while the client runs
    std::vector<uint32_t> connectedAccounts;  // nf_getConnectionAccount (max: not known)
    std::atomic<int> closed{0};

    void Reset();
    size_t PartCount();
};

TestProgram& Program();

std::string StreamText(PFObject* object, int index);

// Posts a response on the connection the way the engine's block page is built: status line,
// header written with pfc_writeHeader, body padded with zeros to `padTo` bytes.
void PostAnswer(ENDPOINT_ID id, const std::string& statusLine, const std::string& body, bool close,
                size_t padTo = 0);

// The engine's two base rules: loopback unfiltered, every outbound TCP connection filtered.
NF_RULE LoopbackRule();
NF_RULE OutboundTcpRule();

class ProxyTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // Starts the library (pfc_init, nf_init on 127.0.0.1:0); true when it runs.
    bool StartLibrary(bool baseRules = true);
    void StopLibrary();
    uint16_t ProxyPort() const { return interception::ExplicitProxyPort(); }

    interception::Limits limits_;
    std::string dataHome_;
    std::string rootSubject_;  // named to the library at start when not empty (HTTPS tests)
};

// A blocking client socket with generous time-outs.
class RawClient {
  public:
    explicit RawClient(uint16_t port);
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool Connected() const { return fd_ >= 0; }
    void Send(const std::string& data);
    void ShutdownSend();
    // Reads until the peer closes or the time runs out.
    std::string ReadToEnd(std::chrono::milliseconds limit = 10s);
    // Reads until at least n bytes came, the peer closed or the time ran out.
    std::string ReadAtLeast(size_t n, std::chrono::milliseconds limit = 10s);
    // Reads until the text contains marker.
    std::string ReadUntil(const std::string& marker, std::chrono::milliseconds limit = 10s);
    bool PeerClosed() const { return peerClosed_; }

  private:
    bool ReadSome(std::chrono::steady_clock::time_point deadline);
    int fd_ = -1;
    bool peerClosed_ = false;
    std::string received_;
};

struct CurlResult {
    int exitCode = -1;
    std::string output;
};
CurlResult RunCurl(const std::string& arguments);

// Waits until the condition holds or the time runs out (for effects on other threads).
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 10s);

// The status code of a response text ("HTTP/1.1 404 ..." gives 404), 0 when none.
int StatusOf(const std::string& response);

// Request lines that servers accept although they are not written the usual way. However a
// request reaches the proxy (inside a CONNECT tunnel, or redirected in transparent mode), such a
// line is judged (404 from a program that blocks everything) or refused (400), and never taken
// for another protocol and relayed unjudged. Each mode's test runs the whole table.
struct OddRequestLine {
    const char* name;
    const char* firstLine;  // what the client sends before "\r\nHost: ..."
    int status;             // 404: judged and blocked; 400: refused
};
inline constexpr OddRequestLine kOddRequestLines[] = {
    {"an empty line first", "\r\nGET /listed HTTP/1.1", 404},
    {"two empty lines first", "\r\n\r\nGET /listed HTTP/1.1", 404},
    {"a bare line feed first", "\nGET /listed HTTP/1.1", 400},
    {"two blanks before the target", "GET  /listed HTTP/1.1", 400},
    {"a tab before the target", "GET\t/listed HTTP/1.1", 400},
};

// A blocking TCP connection to 127.0.0.1:port; -1 when refused.
using gx::testing::ConnectLoopback;

using gx::testing::ConnectThrough;

// Under AddressSanitizer freed memory waits in a quarantine (up to 256 MiB) and still counts as
// resident: a bound on resident memory that frees under a flood says nothing there.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kResidentMemoryMeaningful = false;
#else
inline constexpr bool kResidentMemoryMeaningful = true;
#endif

// This process's resident memory in KiB (VmRSS), 0 when unknown.
long ResidentKiB();

}  // namespace gx::test
