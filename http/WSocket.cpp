#include "http/WSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <map>
#include <optional>
#include <utility>

#include <QHostAddress>
#include <QHostInfo>
#include <QSocketNotifier>

#include "platform/codepage/Cp1252.h"

namespace gx {
namespace {

const std::map<std::uint16_t, const char*>& ErrorTexts() {
    static const std::map<std::uint16_t, const char*> texts = {
        {0, "No Error"},
        {10004, "Interrupted system call"},
        {10009, "Bad file number"},
        {10013, "Permission denied"},
        {10014, "Bad address"},
        {10022, "Invalid argument"},
        {10024, "Too many open files"},
        {10035, "Operation would block"},
        {10036, "Operation now in progress"},
        {10037, "Operation already in progress"},
        {10038, "Socket operation on non-socket"},
        {10039, "Destination address required"},
        {10040, "Message too long"},
        {10041, "Protocol wrong type for socket"},
        {10042, "Protocol not available"},
        {10043, "Protocol not supported"},
        {10044, "Socket type not supported"},
        {10045, "Operation not supported on socket"},
        {10046, "Protocol family not supported"},
        {10047, "Address family not supported by protocol family"},
        {10048, "Address already in use"},
        {10049, "Address not available"},
        {10050, "Network is down"},
        {10051, "Network is unreachable"},
        {10052, "Network dropped connection on reset"},
        {10053, "Connection aborted"},
        {10054, "Connection reset by peer"},
        {10055, "No buffer space available"},
        {10056, "Socket is already connected"},
        {10057, "Socket is not connected"},
        {10058, "Can't send after socket shutdown"},
        {10059, "Too many references: can't splice"},
        {10060, "Connection timed out"},
        {10061, "Connection refused"},
        {10062, "Too many levels of symbolic links"},
        {10063, "File name too long"},
        {10064, "Host is down"},
        {10065, "No route to host"},
        {10066, "Directory not empty"},
        {10067, "Too many processes"},
        {10068, "Too many users"},
        {10069, "Disc quota exceeded"},
        {10070, "Stale NFS file handle"},
        {10071, "Too many levels of remote in path"},
        {10091, "Network sub-system is unusable"},
        {10092, "WinSock DLL cannot support this application"},
        {10093, "WinSock not initialized"},
        {11001, "Host not found"},
        {11002, "Non-authoritative host not found"},
        {11003, "Non-recoverable error"},
        {11004, "No Data"},
    };
    return texts;
}

constexpr std::uint16_t kWsaNoData = 11004;
constexpr std::uint16_t kWsaNoRecovery = 11003;
constexpr std::uint16_t kWsaEAfNoSupport = 10047;
constexpr std::uint16_t kWsaEAddrNotAvail = 10049;
constexpr std::uint16_t kUnmappedError = 65535;

std::uint16_t LastSocketError() {
    return WinsockErrorOfErrno(errno);
}

// Errors that a non-blocking connect may report at once on a local network; they are
// reported like any later failure of the attempt.
bool IsAttemptOutcome(int errnoValue) {
    return errnoValue == ECONNREFUSED || errnoValue == ETIMEDOUT || errnoValue == ENETUNREACH ||
           errnoValue == EHOSTUNREACH || errnoValue == ECONNRESET;
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    return text;
}

// A decimal port number or a TCP service name; nullopt when it is neither.
std::optional<std::uint16_t> ResolvePort(const std::string& port) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (!port.empty() && ec == std::errc() && end == port.data() + port.size()) {
        if (value > 65535) {
            return std::nullopt;
        }
        return static_cast<std::uint16_t>(value);
    }
    if (const servent* service = getservbyname(port.c_str(), "tcp")) {
        return ntohs(static_cast<std::uint16_t>(service->s_port));
    }
    return std::nullopt;
}

bool MakeSockAddr(const std::string& address, std::uint16_t port, sockaddr_storage& out,
                  socklen_t& length) {
    std::memset(&out, 0, sizeof out);
    auto* v4 = reinterpret_cast<sockaddr_in*>(&out);
    if (inet_pton(AF_INET, std::string(Trimmed(address)).c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        length = sizeof(sockaddr_in);
        return true;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&out);
    if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        length = sizeof(sockaddr_in6);
        return true;
    }
    return false;
}

}  // namespace

std::string SocketErrorText(std::uint16_t code) {
    const auto& texts = ErrorTexts();
    const auto found = texts.find(code);
    return found == texts.end() ? std::string("Not a WinSock error") : std::string(found->second);
}

std::string SocketErrorMessage(std::uint16_t code) {
    return SocketErrorText(code) + " (Error #" + std::to_string(code) + ")";
}

std::uint16_t WinsockErrorOfErrno(int errnoValue) {
    static const std::map<int, std::uint16_t> numbers = {
        {EINTR, 10004},        {EBADF, 10009},           {EACCES, 10013},
        {EPERM, 10013},        {EFAULT, 10014},          {EINVAL, 10022},
        {EMFILE, 10024},       {ENFILE, 10024},          {EWOULDBLOCK, 10035},
        {EINPROGRESS, 10036},  {EALREADY, 10037},        {ENOTSOCK, 10038},
        {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},        {EPROTOTYPE, 10041},
        {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044},
        {EOPNOTSUPP, 10045},   {EPFNOSUPPORT, 10046},    {EAFNOSUPPORT, 10047},
        {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049},   {ENETDOWN, 10050},
        {ENETUNREACH, 10051},  {ENETRESET, 10052},       {ECONNABORTED, 10053},
        {ECONNRESET, 10054},   {ENOBUFS, 10055},         {ENOMEM, 10055},
        {EISCONN, 10056},      {ENOTCONN, 10057},        {ESHUTDOWN, 10058},
        {EPIPE, 10058},        {ETOOMANYREFS, 10059},    {ETIMEDOUT, 10060},
        {ECONNREFUSED, 10061}, {ELOOP, 10062},           {ENAMETOOLONG, 10063},
        {EHOSTDOWN, 10064},    {EHOSTUNREACH, 10065},    {ENOTEMPTY, 10066},
        {EUSERS, 10068},       {EDQUOT, 10069},          {ESTALE, 10070},
        {EREMOTE, 10071},
    };
    const auto found = numbers.find(errnoValue);
    return found == numbers.end() ? kUnmappedError : found->second;
}

bool IsDottedIPv4(std::string_view host) {
    host = Trimmed(host);
    int numbers = 0;
    while (true) {
        std::size_t digits = 0;
        unsigned value = 0;
        while (digits < host.size() && host[digits] >= '0' && host[digits] <= '9') {
            value = value * 10 + static_cast<unsigned>(host[digits] - '0');
            if (++digits > 3) {
                return false;
            }
        }
        if (digits == 0 || value > 255) {
            return false;
        }
        host.remove_prefix(digits);
        if (++numbers == 4) {
            return host.empty();
        }
        if (host.empty() || host.front() != '.') {
            return false;
        }
        host.remove_prefix(1);
    }
}

TWSocket::TWSocket() = default;

TWSocket::~TWSocket() {
    Abort();
}

template <typename F>
void TWSocket::Post(F step) {
    QMetaObject::invokeMethod(
        &fContext,
        [this, generation = fGeneration, step = std::move(step)]() {
            if (generation == fGeneration) {
                step();
            }
        },
        Qt::QueuedConnection);
}

void TWSocket::DnsLookup(const std::string& host) {
    Abort();
    fState = SocketState::DnsLookup;
    fDnsResult.clear();
    if (IsDottedIPv4(host)) {
        fDnsResult = std::string(Trimmed(host));
        Post([this] {
            fState = SocketState::Closed;
            if (OnDnsLookupDone) {
                OnDnsLookupDone(0);
            }
        });
        return;
    }
    const QString name = QString::fromStdString(Cp1252ToUtf8(host));
    fLookupId = QHostInfo::lookupHost(name, &fContext, [this](const QHostInfo& info) {
        const bool current = fLookupId == -1 || info.lookupId() == fLookupId;
        if (!current || fState != SocketState::DnsLookup) {
            return;
        }
        fLookupId = -1;
        fState = SocketState::Closed;
        std::uint16_t code = 0;
        if (info.error() == QHostInfo::HostNotFound) {
            code = kWsaHostNotFound;
        } else if (info.error() != QHostInfo::NoError) {
            code = kWsaNoRecovery;
        } else if (info.addresses().isEmpty()) {
            code = kWsaNoData;
        } else {
            QHostAddress chosen = info.addresses().first();
            for (const QHostAddress& address : info.addresses()) {
                if (address.protocol() == QAbstractSocket::IPv4Protocol) {
                    chosen = address;
                    break;
                }
            }
            fDnsResult = chosen.toString().toStdString();
        }
        if (OnDnsLookupDone) {
            OnDnsLookupDone(code);
        }
    });
}

void TWSocket::CancelDnsLookup() {
    if (fState != SocketState::DnsLookup) {
        return;
    }
    if (fLookupId != -1) {
        QHostInfo::abortHostLookup(fLookupId);
        fLookupId = -1;
    }
    ++fGeneration;
    fState = SocketState::Closed;
}

std::uint16_t TWSocket::Connect(const std::string& address, const std::string& port,
                                const std::string& localAddr) {
    Abort();
    const auto portNumber = ResolvePort(port);
    if (!portNumber) {
        return kWsaNoData;
    }
    sockaddr_storage remote;
    socklen_t remoteLength = 0;
    if (!MakeSockAddr(address, *portNumber, remote, remoteLength)) {
        return kWsaEAddrNotAvail;
    }
    fFd = ::socket(remote.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fFd < 0) {
        return LastSocketError();
    }
    const std::string local(Trimmed(localAddr));
    if (!local.empty() && local != "0.0.0.0") {
        sockaddr_storage bound;
        socklen_t boundLength = 0;
        if (!MakeSockAddr(local, 0, bound, boundLength)) {
            ReleaseSocket();
            return kWsaEAddrNotAvail;
        }
        if (bound.ss_family != remote.ss_family) {
            ReleaseSocket();
            return kWsaEAfNoSupport;
        }
        if (::bind(fFd, reinterpret_cast<sockaddr*>(&bound), boundLength) != 0) {
            const std::uint16_t code = LastSocketError();
            ReleaseSocket();
            return code;
        }
    }
    fState = SocketState::Connecting;
    if (::connect(fFd, reinterpret_cast<sockaddr*>(&remote), remoteLength) != 0 &&
        errno != EINPROGRESS) {
        const int failure = errno;
        if (!IsAttemptOutcome(failure)) {
            ReleaseSocket();
            return WinsockErrorOfErrno(failure);
        }
        FailConnectLater(WinsockErrorOfErrno(failure));
        return 0;
    }
    fWriteNotifier = new QSocketNotifier(fFd, QSocketNotifier::Write);
    QObject::connect(fWriteNotifier, &QSocketNotifier::activated, &fContext,
                     [this] { OnConnectReady(); });
    return 0;
}

void TWSocket::FailConnectLater(std::uint16_t code) {
    ReleaseSocket();
    fState = SocketState::Connecting;
    Post([this, code] {
        fState = SocketState::Closed;
        if (OnSessionConnected) {
            OnSessionConnected(code);
        }
        Post([this, code] {
            if (OnSessionClosed) {
                OnSessionClosed(code);
            }
        });
    });
}

void TWSocket::OnConnectReady() {
    if (fState == SocketState::Connected) {
        FlushSendQueue();
        return;
    }
    int failure = 0;
    socklen_t length = sizeof failure;
    if (::getsockopt(fFd, SOL_SOCKET, SO_ERROR, &failure, &length) != 0) {
        failure = errno;
    }
    if (failure != 0) {
        FailConnectLater(WinsockErrorOfErrno(failure));
        return;
    }
    fState = SocketState::Connected;
    fWriteNotifier->setEnabled(!fSendQueue.empty());
    fReadNotifier = new QSocketNotifier(fFd, QSocketNotifier::Read);
    QObject::connect(fReadNotifier, &QSocketNotifier::activated, &fContext,
                     [this] { OnReadReady(); });
    if (OnSessionConnected) {
        OnSessionConnected(0);
    }
}

void TWSocket::OnReadReady() {
    char probe;
    const ssize_t peeked = ::recv(fFd, &probe, 1, MSG_PEEK);
    if (peeked > 0) {
        if (OnDataAvailable) {
            OnDataAvailable(0);
        }
        return;
    }
    if (peeked < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return;
    }
    CloseWithEvent(peeked == 0 ? 0 : LastSocketError());
}

void TWSocket::Send(std::string_view data) {
    fSendQueue.append(data);
    if (fState == SocketState::Connected) {
        FlushSendQueue();
    }
}

void TWSocket::FlushSendQueue() {
    while (!fSendQueue.empty()) {
        const ssize_t sent = ::send(fFd, fSendQueue.data(), fSendQueue.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                // The failure shows on the receiving side as a reset or a close.
                fSendQueue.clear();
            }
            break;
        }
        fSendQueue.erase(0, static_cast<std::size_t>(sent));
    }
    if (fWriteNotifier) {
        fWriteNotifier->setEnabled(!fSendQueue.empty());
    }
}

int TWSocket::Receive(char* buffer, int size) {
    if (fState != SocketState::Connected || size <= 0) {
        return 0;
    }
    ssize_t received;
    do {
        received = ::recv(fFd, buffer, static_cast<std::size_t>(size), 0);
    } while (received < 0 && errno == EINTR);
    return received > 0 ? static_cast<int>(received) : 0;
}

void TWSocket::Close() {
    if (fState != SocketState::Connected && fState != SocketState::Connecting) {
        Abort();
        return;
    }
    if (fState == SocketState::Connected) {
        FlushSendQueue();
        ::shutdown(fFd, SHUT_WR);
    }
    CloseWithEvent(0);
}

void TWSocket::CloseWithEvent(std::uint16_t code) {
    ReleaseSocket();
    Post([this, code] {
        if (OnSessionClosed) {
            OnSessionClosed(code);
        }
    });
}

void TWSocket::Abort() {
    CancelDnsLookup();
    ReleaseSocket();
    ++fGeneration;
}

void TWSocket::ReleaseSocket() {
    for (QSocketNotifier** notifier : {&fReadNotifier, &fWriteNotifier}) {
        if (*notifier) {
            (*notifier)->setEnabled(false);
            (*notifier)->disconnect();
            (*notifier)->deleteLater();
            *notifier = nullptr;
        }
    }
    if (fFd >= 0) {
        ::close(fFd);
        fFd = -1;
    }
    fSendQueue.clear();
    fState = SocketState::Closed;
}

}  // namespace gx
