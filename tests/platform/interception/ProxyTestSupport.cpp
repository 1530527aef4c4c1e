#include "platform/interception/ProxyTestSupport.h"

#include "platform/driver/DriverConfig.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

namespace gx::test {
namespace {

void OnConnected(ENDPOINT_ID id, PNF_TCP_CONN_INFO info) {
    TestProgram& program = Program();
    char name[257] = "";
    if (!nf_getProcessNameA(info->processId, name, sizeof name)) {
        name[0] = '\0';
    }
    uint32_t account = UINT32_MAX;
    if (nf_getConnectionAccount(id, &account) != NF_STATUS_SUCCESS) {
        account = UINT32_MAX;
    }
    {
        std::lock_guard lock(program.mutex);
        program.connected.push_back(*info);
        program.connectedNames.push_back(name);
        program.connectedAccounts.push_back(account);
    }
    if (const auto onConnected = program.onConnected.Get()) {
        onConnected(id, info);
        return;
    }
    pfc_addFilter(id, FT_PROXY, FF_DEFAULT, 3, FT_NONE);
    pfc_addFilter(id, FT_SSL, FF_SSL_VERIFY, 3, FT_NONE);
    pfc_addFilter(id, FT_HTTP, FF_READ_ONLY_IN, 3, FT_NONE);
}

void OnClosed(ENDPOINT_ID, PNF_TCP_CONN_INFO) {
    ++Program().closed;
}

PF_DATA_PART_CHECK_RESULT OnPart(ENDPOINT_ID id, PFObject* object) {
    TestProgram& program = Program();
    {
        std::lock_guard lock(program.mutex);
        program.partLines.push_back(StreamText(object, HS_STATUS));
        program.partHeaders.push_back(StreamText(object, HS_HEADER));
    }
    const auto onPart = program.onPart.Get();
    int result = onPart ? onPart(id, object) : DPCR_BYPASS;
    PFObject_free(object);  // the program owns the objects handed to it
    return static_cast<PF_DATA_PART_CHECK_RESULT>(result);
}

void OnWhole(ENDPOINT_ID id, PFObject* object) {
    TestProgram& program = Program();
    {
        std::lock_guard lock(program.mutex);
        program.wholeBodies.push_back(StreamText(object, HS_CONTENT));
    }
    if (const auto onWhole = program.onWhole.Get()) {
        onWhole(id, object);
    } else {
        pfc_postObject(id, object);
    }
    PFObject_free(object);
}

PFEvents gEvents{};

}  // namespace

TestProgram& Program() {
    static TestProgram program;
    return program;
}

void TestProgram::Reset() {
    std::lock_guard lock(mutex);
    onPart = nullptr;
    onWhole = nullptr;
    onConnected = nullptr;
    partLines.clear();
    partHeaders.clear();
    wholeBodies.clear();
    connected.clear();
    connectedNames.clear();
    connectedAccounts.clear();
    closed = 0;
}

size_t TestProgram::PartCount() {
    std::lock_guard lock(mutex);
    return partLines.size();
}

std::string StreamText(PFObject* object, int index) {
    PFStream* stream = PFObject_getStream(object, index);
    if (!stream) {
        return {};
    }
    std::string text(PFStream_size(stream), '\0');
    PFStream_seek(stream, 0, 0);
    PFStream_read(stream, text.data(), static_cast<uint32_t>(text.size()));
    return text;
}

void PostAnswer(ENDPOINT_ID id, const std::string& statusLine, const std::string& body, bool close,
                size_t padTo) {
    PFObject* response = PFObject_create(OT_HTTP_RESPONSE, 3);
    PFStream* first = PFObject_getStream(response, HS_STATUS);
    PFStream_reset(first);
    std::string line = statusLine + "\r\n";
    PFStream_write(first, line.data(), static_cast<uint32_t>(line.size()));
    PFHeader* header = PFHeader_create();
    PFHeader_addField(header, "Content-Type", "text/html", -1);
    PFHeader_addField(header, "Content-Length", std::to_string(body.size()).c_str(), -1);
    if (close) {
        PFHeader_addField(header, "Connection", "Close", -1);
    }
    pfc_writeHeader(PFObject_getStream(response, HS_HEADER), header);
    PFHeader_free(header);
    std::string padded = body;
    padded.resize(std::max(padTo, body.size()), '\0');
    PFStream_write(PFObject_getStream(response, HS_CONTENT), padded.data(),
                   static_cast<uint32_t>(padded.size()));
    pfc_postObject(id, response);
    PFObject_free(response);
}

NF_RULE LoopbackRule() {
    NF_RULE rule{};
    rule.ip_family = NF_AF_INET;
    uint32_t address = inet_addr("127.0.0.1");
    uint32_t mask = inet_addr("255.0.0.0");
    std::memcpy(rule.remoteIpAddress, &address, 4);
    std::memcpy(rule.remoteIpAddressMask, &mask, 4);
    rule.filteringFlag = NF_ALLOW;
    return rule;
}

NF_RULE OutboundTcpRule() {
    NF_RULE rule{};
    rule.protocol = NF_IPPROTO_TCP;
    rule.direction = NF_D_OUT;
    rule.filteringFlag = NF_FILTER;
    return rule;
}

void ProxyTest::SetUp() {
    Program().Reset();
    char folder[] = "/tmp/gx-interception-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    dataHome_ = folder;
    ::setenv("XDG_DATA_HOME", dataHome_.c_str(), 1);
    ::setenv(interception::kProxyAddressVariable, "127.0.0.1:0", 1);
    // Whatever driver this machine has installed, these tests run the explicit proxy alone.
    ::setenv(gx::kDriverConfigEnvironment, (dataHome_ + "/no-driver.conf").c_str(), 1);
    // Short enough that time-out tests finish quickly, long enough for a loaded machine.
    limits_.headerTimeout = 2s;
    limits_.idleTimeout = 5s;
    limits_.connectTimeout = 5s;
    limits_.responseTimeout = 5s;
}

void ProxyTest::TearDown() {
    StopLibrary();
    std::string command = "rm -rf '" + dataHome_ + "'";
    [[maybe_unused]] int ignored = std::system(command.c_str());
}

bool ProxyTest::StartLibrary(bool baseRules) {
    interception::SetLimits(limits_);
    gEvents = PFEvents{};
    gEvents.tcpConnected = OnConnected;
    gEvents.tcpClosed = OnClosed;
    gEvents.dataAvailable = OnWhole;
    gEvents.dataPartAvailable = OnPart;
    if (!pfc_init(&gEvents, L"c:\\netfilter2")) {
        return false;
    }
    if (!rootSubject_.empty()) {
        pfc_setRootSSLCertSubject(rootSubject_.c_str());
    }
    if (nf_init("gardalix", pfc_getNFEventHandler()) != 0) {
        pfc_free();
        return false;
    }
    if (baseRules) {
        NF_RULE loopback = LoopbackRule();
        NF_RULE outbound = OutboundTcpRule();
        nf_addRule(&loopback, 0);
        nf_addRule(&outbound, 0);
    }
    return true;
}

void ProxyTest::StopLibrary() {
    nf_free();
    pfc_free();
}

RawClient::RawClient(uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

RawClient::~RawClient() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void RawClient::Send(const std::string& data) {
    size_t sent = 0;
    while (fd_ >= 0 && sent < data.size()) {
        ssize_t n = ::send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        sent += static_cast<size_t>(n);
    }
}

void RawClient::ShutdownSend() {
    ::shutdown(fd_, SHUT_WR);
}

bool RawClient::ReadSome(std::chrono::steady_clock::time_point deadline) {
    if (fd_ < 0 || peerClosed_) {
        return false;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
        return false;
    }
    pollfd poller{fd_, POLLIN, 0};
    if (::poll(&poller, 1, static_cast<int>(left.count())) <= 0) {
        return false;
    }
    char chunk[65536];
    ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) {
        peerClosed_ = true;
        return false;
    }
    received_.append(chunk, static_cast<size_t>(n));
    return true;
}

std::string RawClient::ReadToEnd(std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (ReadSome(deadline)) {
    }
    return std::move(received_);
}

std::string RawClient::ReadAtLeast(size_t n, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (received_.size() < n && ReadSome(deadline)) {
    }
    std::string taken = received_.substr(0, std::min(n, received_.size()));
    received_.erase(0, taken.size());
    return taken;
}

std::string RawClient::ReadUntil(const std::string& marker, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (received_.find(marker) == std::string::npos && ReadSome(deadline)) {
    }
    size_t at = received_.find(marker);
    size_t end = at == std::string::npos ? received_.size() : at + marker.size();
    std::string taken = received_.substr(0, end);
    received_.erase(0, end);
    return taken;
}

CurlResult RunCurl(const std::string& arguments) {
    CurlResult result;
    std::string command = "curl -s -S --max-time 20 " + arguments + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        return result;
    }
    char chunk[4096];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) {
        result.output.append(chunk, n);
    }
    int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

int StatusOf(const std::string& response) {
    if (response.size() < 12 || response.compare(0, 5, "HTTP/") != 0) {
        return 0;
    }
    return std::atoi(response.c_str() + 9);
}

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

}  // namespace gx::test
