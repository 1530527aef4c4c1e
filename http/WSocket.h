// A non-blocking TCP socket driven by the Qt event loop of the main thread: name resolution,
// connection, sending, receiving and closing, each outcome reported later as an event.
// Errors are numbered as Windows Sockets numbers them, whatever the platform said, so that
// the texts of SocketErrorText() apply everywhere.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <QObject>
#include <QTimer>

class QSocketNotifier;

namespace gx {

// Windows Sockets numbers used by the program itself.
inline constexpr std::uint16_t kWsaEConnAborted = 10053;
inline constexpr std::uint16_t kWsaETimedOut = 10060;
inline constexpr std::uint16_t kWsaHostNotFound = 11001;

// The text of a socket error code; "Not a WinSock error" for a code outside the table.
std::string SocketErrorText(std::uint16_t code);
// SocketErrorText(code) + " (Error #" + code + ")".
std::string SocketErrorMessage(std::uint16_t code);

// The Windows Sockets number of a Linux errno value (65535 for one that has no counterpart).
std::uint16_t WinsockErrorOfErrno(int errnoValue);

// True for exactly four decimal numbers from 0 to 255 joined by three dots, spaces around
// allowed: such a host is used as it is, without asking the resolver.
bool IsDottedIPv4(std::string_view host);

enum class SocketState { Closed, DnsLookup, Connecting, Connected };

class TWSocket {
  public:
    TWSocket();
    ~TWSocket();
    TWSocket(const TWSocket&) = delete;
    TWSocket& operator=(const TWSocket&) = delete;

    // Events, each delivered on the main thread with a Windows Sockets code (0 = success).
    std::function<void(std::uint16_t)> OnDnsLookupDone;
    // Fires once per connection attempt; a failed attempt is followed by OnSessionClosed.
    std::function<void(std::uint16_t)> OnSessionConnected;
    std::function<void(std::uint16_t)> OnDataAvailable;
    std::function<void(std::uint16_t)> OnSessionClosed;

    // Resolves host without blocking; the answer is DnsResult() once OnDnsLookupDone(0) fired.
    // host is Windows-1252 text.
    void DnsLookup(const std::string& host);
    void CancelDnsLookup();
    // The address found: the first IPv4 address of the answer, else its first address.
    const std::string& DnsResult() const { return fDnsResult; }

    // Starts a connection to a numeric address; port is a decimal number or a TCP service name;
    // localAddr "0.0.0.0" (or empty) binds nothing. Returns 0 when the attempt has started (its
    // end comes as OnSessionConnected), otherwise the code of why it could not start.
    std::uint16_t Connect(const std::string& address, const std::string& port,
                          const std::string& localAddr);

    // Queues bytes; they go out as the connection accepts them.
    void Send(std::string_view data);
    // Reads at most size available bytes; returns their count, 0 when none is waiting.
    int Receive(char* buffer, int size);

    // Graceful close: the sending side first, then the socket; OnSessionClosed(0) follows.
    void Close();
    // Drops the connection (or the resolution) at once; no event follows.
    void Abort();

    SocketState State() const { return fState; }

  private:
    void OnConnectReady();
    void OnReadReady();
    void FlushSendQueue();
    void ReleaseSocket();
    void FailConnectLater(std::uint16_t code);
    void CloseWithEvent(std::uint16_t code);
    template <typename F>
    void Post(F step);

    QObject fContext;  // owner of posted steps and connections; they die with this object
    SocketState fState = SocketState::Closed;
    int fFd = -1;
    QSocketNotifier* fReadNotifier = nullptr;
    QSocketNotifier* fWriteNotifier = nullptr;
    std::string fSendQueue;
    std::string fDnsResult;
    int fLookupId = -1;
    std::uint64_t fGeneration = 0;  // bumped on every drop so that stale posted events vanish
};

}  // namespace gx
