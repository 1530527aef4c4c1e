#include "http/HttpProt.h"

#include <charconv>
#include <cstring>
#include <utility>

#include <QEventLoop>

#include "http/IcsUrl.h"
#include "platform/text/AsciiText.h"
#include "platform/text/Hex.h"

namespace gx {
namespace {

constexpr int kReceiveChunk = 8190;          // bytes read per data event
constexpr std::size_t kMaxLineBytes = 8190;  // a longer header line is cut to this length
constexpr std::uint16_t kErrorBusy = 1;
constexpr std::uint16_t kErrorAborted = 3;
constexpr std::uint16_t kErrorBadVersion = 5;
constexpr std::uint16_t kErrorWriteFailed = 65534;

const char* MethodName(THttpRequest request) {
    switch (request) {
        case httpPOST:
            return "POST";
        case httpPUT:
            return "PUT";
        case httpHEAD:
            return "HEAD";
        default:
            return "GET";
    }
}

// RFC 1123 layout of the time as given, without any change of time zone.
std::string Rfc1123Date(std::time_t time) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm parts{};
    gmtime_r(&time, &parts);
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d", kDays[parts.tm_wday],
                  parts.tm_mday, kMonths[parts.tm_mon], parts.tm_year + 1900, parts.tm_hour,
                  parts.tm_min, parts.tm_sec);
    return text;
}

// A non-negative decimal number; -1 for anything else.
std::int64_t DecimalOrMinusOne(std::string_view text) {
    std::int64_t value = -1;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < 0) {
        return -1;
    }
    return value;
}

}  // namespace

THttpCli::THttpCli(std::string name) : Name(std::move(name)) {
    fSocket.OnDnsLookupDone = [this](std::uint16_t error) { SocketDnsLookupDone(error); };
    fSocket.OnSessionConnected = [this](std::uint16_t error) { SocketSessionConnected(error); };
    fSocket.OnDataAvailable = [this](std::uint16_t error) { SocketDataAvailable(error); };
    fSocket.OnSessionClosed = [this](std::uint16_t error) { SocketSessionClosed(error); };
    fTimeout.setSingleShot(true);
    QObject::connect(&fTimeout, &QTimer::timeout, &fContext, [this] { TimedOut(); });
}

THttpCli::~THttpCli() {
    fSocket.Abort();
    if (fWaitLoop) {
        fWaitLoop->quit();
    }
}

template <typename F>
void THttpCli::Post(F step) {
    QMetaObject::invokeMethod(&fContext, std::move(step), Qt::QueuedConnection);
}

// A step that belongs to the request under way and vanishes when it has been aborted.
template <typename F>
void THttpCli::PostForRequest(F step) {
    Post([this, sequence = fRequestSeq, step = std::move(step)]() {
        if (sequence == fRequestSeq && fState != httpReady) {
            step();
        }
    });
}

void THttpCli::SetRequestVer(const std::string& version) {
    if (version == fRequestVer) {
        return;
    }
    if (version != "1.0" && version != "1.1") {
        throw EHttpException("Insupported HTTP version", kErrorBadVersion);
    }
    fRequestVer = version;
}

bool THttpCli::SetState(THttpState state) {
    fState = state;
    return Fire(OnStateChange);
}

bool THttpCli::Fire(const std::function<void(THttpCli&)>& event) {
    const std::uint64_t request = fRequestSeq;
    if (event) {
        event(*this);
    }
    return request == fRequestSeq;
}

void THttpCli::Get() {
    fLocationChangeCurCount = 0;
    StartRequest(httpGET);
    if (fState != httpReady) {
        QEventLoop loop;
        fWaitLoop = &loop;
        loop.exec();  // ends when the request is over, or when the application is quitting
        fWaitLoop = nullptr;
    }
    if (fState != httpReady) {
        Abort();
    }
    if (fStatusCode >= 400 && fStatusCode != 401 && fStatusCode != 407) {
        throw EHttpException(fReasonPhrase, static_cast<std::uint16_t>(fStatusCode));
    }
}

void THttpCli::StartRequest(THttpRequest request) {
    if (fState != httpReady) {
        throw EHttpException("HTTP component " + Name + " is busy", kErrorBusy);
    }
    ++fRequestSeq;
    fRequestType = request;
    fEnding = false;
    fRequestDoneError = 0;
    fLocationChangePending = false;
    ResetResponse();
    fReasonPhrase.clear();
    fLocation = URL;
    fCloseReq = fRequestVer == "1.0";
    fStreamStartSize = ReceiveStream ? ReceiveStream->Size() : 0;

    const UrlParts parts = SplitUrl(URL, fPath);
    fTargetScheme = parts.scheme.empty() ? "http" : parts.scheme;
    fTargetHost = parts.host;
    fTargetPort = parts.port.empty() ? "80" : parts.port;
    fPath = parts.path.empty() ? "/" : parts.path;

    if (fConnected && fConnHost == fTargetHost && fConnPort == fTargetPort &&
        fConnScheme == fTargetScheme) {
        if (SetState(httpConnected) && Fire(OnSessionConnected) && SetState(httpWaitingHeader)) {
            SendRequest();
        }
        return;
    }
    if (fConnected) {
        fSocket.Abort();
        fConnected = false;
    }
    if (SetState(httpNotConnected)) {
        Connect();
    }
}

void THttpCli::ResetResponse() {
    ++fResponseSeq;
    fRcvdHeader.clear();
    fStatusCode = 0;
    fContentLength = -1;
    fContentType.clear();
    fTransferEncoding.clear();
    fContentEncoding.clear();
    fResponseVer.clear();
    fLine.clear();
    fLineTruncated = false;
    fHeaderBytes = 0;
    fHeaderLineCount = 0;
    fBodyLineCount = 0;
    fRcvdCount = 0;
    fInHeader = false;
    fChunkLength = 0;
    fChunkRcvd = 0;
    fChunkState = 0;
}

void THttpCli::Connect() {
    if (!SetState(httpDnsLookup)) {
        return;
    }
    fTimeout.start(TimeoutMs);
    fSocket.DnsLookup(fTargetHost);
}

void THttpCli::SocketDnsLookupDone(std::uint16_t error) {
    if (fState != httpDnsLookup || fEnding) {
        return;
    }
    if (error != 0) {
        FailRequest(404, "can't resolve hostname to IP address", error);
        return;
    }
    if (!SetState(httpDnsLookupDone)) {
        return;
    }
    fConnHost = fTargetHost;
    fConnPort = fTargetPort;
    fConnScheme = fTargetScheme;
    if (fTargetScheme != "http") {
        FailRequest(501, "Protocol \"" + fTargetScheme + "\" not implemented", 501);
        return;
    }
    const std::uint16_t failure = fSocket.Connect(fSocket.DnsResult(), fTargetPort, LocalAddr);
    if (failure != 0) {
        if (OnSocketError) {
            OnSocketError(*this);
        }
        FailRequest(404, "can't connect: " + SocketErrorMessage(failure), failure);
    }
}

void THttpCli::SocketSessionConnected(std::uint16_t error) {
    if (fState != httpDnsLookupDone || fEnding) {
        return;
    }
    if (error != 0) {
        // The socket closes next, and the close ends the request.
        if (OnSessionConnected) {
            OnSessionConnected(*this);
        }
        fStatusCode = 404;
        fReasonPhrase = SocketErrorMessage(error);
        fRequestDoneError = error;
        return;
    }
    fConnected = true;
    fLocationChangePending = false;
    if (SetState(httpConnected) && Fire(OnSessionConnected) && SetState(httpWaitingHeader)) {
        SendRequest();
    }
}

std::vector<std::string> THttpCli::BuildRequestLines() const {
    std::vector<std::string> lines;
    lines.push_back(std::string(MethodName(fRequestType)) + " " + fPath + " HTTP/" + fRequestVer);
    if (!Sender.empty()) {
        lines.push_back("From: " + Sender);
    }
    if (!Accept.empty()) {
        lines.push_back("Accept: " + Accept);
    }
    if (!Reference.empty()) {
        lines.push_back("Referer: " + Reference);
    }
    if (!Connection.empty()) {
        lines.push_back("Connection: " + Connection);
    }
    if (!AcceptLanguage.empty()) {
        lines.push_back("Accept-Language: " + AcceptLanguage);
    }
    if (fRequestType == httpPOST || fRequestType == httpPUT) {
        lines.push_back("Content-Type: " + ContentTypePost);
    }
    if (!Agent.empty()) {
        lines.push_back("User-Agent: " + Agent);
    }
    if (fTargetPort.empty() || fTargetPort == "80") {
        lines.push_back("Host: " + fTargetHost);
    } else {
        lines.push_back("Host: " + fTargetHost + ":" + fTargetPort);
    }
    if (NoCache) {
        lines.push_back("Pragma: no-cache");
    }
    if (!ProxyConnection.empty()) {
        lines.push_back("Proxy-Connection: " + ProxyConnection);
    }
    if (ModifiedSince != 0) {
        lines.push_back("If-Modified-Since: " + Rfc1123Date(ModifiedSince) + " GMT");
    }
    if (!Cookie.empty()) {
        lines.push_back("Cookie: " + Cookie);
    }
    if (!ContentRangeBegin.empty() || !ContentRangeEnd.empty()) {
        lines.push_back("Range: bytes=" + ContentRangeBegin + "-" + ContentRangeEnd);
    }
    return lines;
}

void THttpCli::SendRequest() {
    if (OnRequestHeaderBegin) {
        OnRequestHeaderBegin(*this);
    }
    std::vector<std::string> lines = BuildRequestLines();
    ContentRangeBegin.clear();
    ContentRangeEnd.clear();
    fAcceptRanges.clear();
    if (OnBeforeHeaderSend) {
        OnBeforeHeaderSend(*this, MethodName(fRequestType), lines);
    }
    std::string header;
    for (std::string& line : lines) {
        if (OnCommand) {
            OnCommand(*this, line);
        }
        header += line;
        header += "\r\n";
    }
    if (OnRequestHeaderEnd) {
        OnRequestHeaderEnd(*this);
    }
    header += "\r\n";
    fSocket.Send(header);
    fTimeout.start(TimeoutMs);
}

void THttpCli::SocketDataAvailable(std::uint16_t) {
    char buffer[kReceiveChunk + 3];
    const int received = fSocket.Receive(buffer, kReceiveChunk);
    if (received <= 0 || fEnding) {
        return;  // bytes outside a response are thrown away
    }
    const auto length = static_cast<std::size_t>(received);
    if (fState == httpWaitingHeader) {
        fTimeout.start(TimeoutMs);
        ReceiveHeaderBytes(buffer, length);
    } else if (fState == httpWaitingBody) {
        fTimeout.start(TimeoutMs);
        ReceiveBodyBytes(buffer, length);
    }
}

bool THttpCli::StillReading(std::uint64_t responseSeq) const {
    return responseSeq == fResponseSeq && fConnected && !fEnding && fState != httpReady;
}

void THttpCli::ReceiveHeaderBytes(const char* data, std::size_t length) {
    const std::uint64_t response = fResponseSeq;
    std::size_t next = 0;
    while (next < length) {
        const void* found = std::memchr(data + next, '\n', length - next);
        const std::size_t end =
            found ? static_cast<std::size_t>(static_cast<const char*>(found) - data) : length;
        fHeaderBytes += end - next + (found ? 1 : 0);
        if (fHeaderBytes > kMaxHeaderBytes) {
            DropConnection(kWsaEConnAborted);
            return;
        }
        const std::size_t room = kMaxLineBytes - fLine.size();
        if (end - next > room) {
            fLineTruncated = true;
        }
        fLine.append(data + next, std::min(end - next, room));
        if (!found) {
            return;
        }
        next = end + 1;
        std::string line = std::move(fLine);
        fLine.clear();
        if (!fLineTruncated && !line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        fLineTruncated = false;
        GetHeaderLineNext(line);
        if (!StillReading(response)) {
            return;
        }
        if (fState == httpWaitingBody) {
            ReceiveBodyBytes(data + next, length - next);
            return;
        }
    }
}

void THttpCli::GetHeaderLineNext(const std::string& line) {
    if (!fInHeader) {
        fInHeader = true;
        if (OnHeaderBegin) {
            OnHeaderBegin(*this);
        }
    }
    if (fHeaderLineCount == 0 && ascii::StartsWithNoCase(line, "<html>")) {
        if (fContentType.empty()) {
            fContentType = "text/html";
        }
        fInHeader = false;
        if (OnHeaderEnd) {
            OnHeaderEnd(*this);
        }
        if (SetState(httpWaitingBody)) {
            ReceiveBodyBytes(line.data(), line.size());
        }
        return;
    }
    if (line.empty()) {
        HeaderComplete();
        return;
    }
    fRcvdHeader.push_back(line);
    if (fHeaderLineCount == 0) {
        if (!ParseStatusLine(line)) {
            return;
        }
    } else {
        ParseHeaderField(line);
    }
    ++fHeaderLineCount;
    if (OnHeaderData) {
        OnHeaderData(*this);
    }
}

bool THttpCli::ParseStatusLine(const std::string& line) {
    if (!line.starts_with("HTTP/1.0") && !line.starts_with("HTTP/1.1")) {
        if (OnDataPush2) {
            OnDataPush2(*this);
        }
        return true;
    }
    fResponseVer = line.substr(5, 3);
    fCloseReq = fRequestVer == "1.0" || fResponseVer == "1.0";
    const auto digit = line.find_first_of("0123456789", 9);
    const std::string code = digit == std::string::npos ? std::string() : line.substr(digit, 3);
    int status = 0;
    const auto [end, ec] = std::from_chars(code.data(), code.data() + code.size(), status);
    if (code.empty() || ec != std::errc() || end != code.data() + code.size()) {
        // A status that is not a number: the response cannot be understood.
        DropConnection(kWsaEConnAborted);
        return false;
    }
    fStatusCode = status;
    fReasonPhrase = digit + 4 <= line.size() ? line.substr(digit + 4) : std::string();
    return true;
}

void THttpCli::ParseHeaderField(const std::string& line) {
    const auto colon = line.find(':');
    const std::string name = ascii::Lower(std::string_view(line).substr(0, colon));
    std::string_view value;
    if (colon != std::string::npos) {
        value = std::string_view(line).substr(colon + 1);
        while (!value.empty() && value.front() == ' ') {
            value.remove_prefix(1);
        }
    }
    if (name == "location") {
        NoteLocation(std::string(value));
    } else if (name == "content-length") {
        fContentLength = DecimalOrMinusOne(ascii::Trim(value));
    } else if (name == "transfer-encoding") {
        fTransferEncoding = ascii::Lower(value);
    } else if (name == "content-type") {
        fContentType = ascii::Lower(value);
    } else if (name == "connection" || name == "proxy-connection") {
        const std::string token = ascii::Lower(ascii::Trim(value));
        if (token == "close") {
            fCloseReq = true;
        } else if (token == "keep-alive") {
            fCloseReq = false;
        }
    } else if (name == "content-range") {
        // "bytes 10-19/200": the first number from the seventh character, the second after "-".
        const std::string_view range = value.size() > 6 ? value.substr(6) : std::string_view();
        const auto dash = range.find('-');
        ContentRangeBegin = std::string(range.substr(0, dash));
        ContentRangeEnd.clear();
        if (dash != std::string_view::npos) {
            const std::string_view rest = range.substr(dash + 1);
            ContentRangeEnd = std::string(rest.substr(0, rest.find('/')));
        }
    } else if (name == "accept-ranges") {
        fAcceptRanges = std::string(value);
    } else if (name == "set-cookie") {
        bool accept = true;
        if (OnCookie) {
            OnCookie(*this, std::string(value), accept);
        }
    } else if (name == "content-encoding") {
        fContentEncoding = std::string(value);
    }
}

void THttpCli::NoteLocation(const std::string& value) {
    if (fRequestType == httpPUT) {
        fLocation = value;
        return;
    }
    if (!FollowRelocation) {
        return;
    }
    fLocationChangePending = true;
    if (value.starts_with('/')) {
        fPath = value;
        fLocation = "http://" + fTargetHost + value;
    } else if (ascii::StartsWithNoCase(value, "http://") ||
               ascii::StartsWithNoCase(value, "https://")) {
        const UrlParts parts = SplitUrl(value, fPath);
        fTargetHost = parts.host;
        fTargetPort = parts.port.empty() ? "80" : parts.port;
        fTargetScheme = parts.scheme;
        fPath = parts.path.empty() ? "/" : parts.path;
        if (!parts.user.empty() && !parts.password.empty()) {
            Username = parts.user;
            Password = parts.password;
        }
        fLocation = fTargetScheme + "://" + fTargetHost + fPath;
    } else {
        std::string folder = fPath.substr(0, fPath.find('?'));
        const auto cut = folder.find_last_of("/:");
        folder = cut == std::string::npos ? std::string() : folder.substr(0, cut + 1);
        fPath = folder + value;
        fLocation = "http://" + fTargetHost + fPath;
    }
}

bool THttpCli::BodyExpected() const {
    if (fContentLength == 0 || fRequestType == httpHEAD) {
        return false;
    }
    if (fContentLength != -1) {
        return true;
    }
    switch (fStatusCode) {
        case 204:
        case 301:
        case 302:
        case 304:
        case 401:
        case 407:
            return false;
        default:
            return fStatusCode >= 200;
    }
}

void THttpCli::HeaderComplete() {
    if (fResponseVer == "1.1" && fStatusCode == 100) {
        // An interim answer: the real status line follows.
        fRcvdHeader.clear();
        fHeaderLineCount = 0;
        fStatusCode = 0;
        fReasonPhrase.clear();
        return;
    }
    fInHeader = false;
    if (OnHeaderEnd) {
        OnHeaderEnd(*this);
    }
    if (fState == httpReady) {
        return;
    }
    if (BodyExpected()) {
        SetState(httpWaitingBody);
    } else {
        ResponseRead();
    }
}

void THttpCli::ReceiveBodyBytes(const char* data, std::size_t length) {
    if (length == 0) {
        return;
    }
    if (fContentLength != -1 && fTransferEncoding != "chunked") {
        length = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(length), fContentLength - fRcvdCount));
        if (length == 0) {
            return;
        }
    }
    GetBodyLineNext(data, length);
}

void THttpCli::GetBodyLineNext(const char* data, std::size_t length) {
    if (fBodyLineCount++ == 0 && OnDocBegin) {
        OnDocBegin(*this);
    }
    if (fTransferEncoding == "chunked") {
        DecodeChunked(data, length);
        return;
    }
    const std::uint64_t response = fResponseSeq;
    WriteBody(data, length);
    if (StillReading(response) && fContentLength != -1 && fRcvdCount >= fContentLength) {
        BodyComplete();
    }
}

// The client's own chunk decoder, not the proxy's body scanner: the client is lenient where the
// scanner refuses (anything after the size up to the line's end is skipped, the trailer is never
// read, a body ends at the line after the last chunk), and the update and report servers rely on
// that leniency. The scanner would refuse answers that the client takes today.
void THttpCli::DecodeChunked(const char* data, std::size_t length) {
    const std::uint64_t response = fResponseSeq;
    std::size_t next = 0;
    while (StillReading(response)) {
        if (fChunkState == 0) {
            while (next < length && HexValue(data[next]) >= 0 &&
                   fChunkLength < (std::int64_t{1} << 56)) {
                fChunkLength = fChunkLength * 16 + HexValue(data[next++]);
            }
            if (next == length) {
                return;
            }
            fChunkState = 1;
        } else if (fChunkState == 1 || fChunkState == 3) {
            const void* found = std::memchr(data + next, '\n', length - next);
            if (!found) {
                return;
            }
            next = static_cast<std::size_t>(static_cast<const char*>(found) - data) + 1;
            if (fChunkState == 1) {
                fChunkState = 2;
                fChunkRcvd = 0;
            } else if (fChunkLength == 0) {
                fChunkState = 4;
                BodyComplete();
                return;
            } else {
                fChunkState = 0;
                fChunkLength = 0;
            }
        } else if (fChunkState == 2) {
            const auto piece = static_cast<std::size_t>(std::min<std::int64_t>(
                static_cast<std::int64_t>(length - next), fChunkLength - fChunkRcvd));
            if (piece > 0) {
                WriteBody(data + next, piece);
                next += piece;
                fChunkRcvd += static_cast<std::int64_t>(piece);
            }
            if (fChunkRcvd < fChunkLength) {
                return;
            }
            fChunkState = 3;
        } else {
            return;
        }
    }
}

void THttpCli::WriteBody(const char* data, std::size_t length) {
    if (ReceiveStream && !ReceiveStream->Write(data, length)) {
        // A body that cannot be stored must not pass for a successful download.
        fSocket.Abort();
        fConnected = false;
        FailRequest(404, "Can't write the received data", kErrorWriteFailed);
        return;
    }
    fRcvdCount += static_cast<std::int64_t>(length);
    if (OnDocData) {
        OnDocData(*this, data, static_cast<int>(length));
    }
}

void THttpCli::BodyComplete() {
    if (!SetState(httpBodyReceived) || !Fire(OnDocEnd)) {
        return;
    }
    if (fCloseReq) {
        CloseConnection();  // the close ends the request or starts the relocation
    } else if (fLocationChangePending) {
        StartRelocation();
    } else {
        SetReady();
    }
}

void THttpCli::ResponseRead() {
    if (fLocationChangePending) {
        StartRelocation();
    } else if (fCloseReq) {
        CloseConnection();
    } else {
        SetReady();
    }
}

void THttpCli::CloseConnection() {
    fConnected = false;
    fSocket.Close();
}

void THttpCli::DropConnection(std::uint16_t error) {
    fSocket.Abort();
    fConnected = false;
    PostForRequest([this, error] { SocketSessionClosed(error); });
}

void THttpCli::SocketSessionClosed(std::uint16_t error) {
    fConnected = false;
    if (fState == httpReady) {
        if (OnSessionClosed) {
            OnSessionClosed(*this);
        }
        return;
    }
    if (fEnding) {
        return;
    }
    if (error != 0) {
        fRequestDoneError = error;
    }
    if (fInHeader) {
        fInHeader = false;
        if (OnHeaderEnd) {
            OnHeaderEnd(*this);
        }
        if (fLocationChangePending) {
            StartRelocation();
        } else {
            SetReady();
        }
        return;
    }
    if (fBodyLineCount > 0 && fState != httpBodyReceived) {
        if (OnDocEnd) {
            OnDocEnd(*this);
        }
    }
    if (fLocationChangePending) {
        StartRelocation();
        return;
    }
    if (OnSessionClosed) {
        OnSessionClosed(*this);
    }
    if (fState != httpReady) {
        SetReady();
    }
}

void THttpCli::StartRelocation() {
    fLocationChangePending = false;
    ++fLocationChangeCurCount;
    if (fLocationChangeCurCount > LocationChangeMaxCount) {
        bool allowMore = false;
        if (OnLocationChangeExceeded) {
            OnLocationChangeExceeded(*this, fLocationChangeCurCount, allowMore);
        }
        if (!allowMore) {
            // The redirect response itself is the result.
            if (fConnected && fCloseReq) {
                fSocket.Abort();
                fConnected = false;
            }
            SetReady();
            return;
        }
    }
    const bool reuse = fConnected && !fCloseReq && fConnHost == fTargetHost &&
                       fConnPort == fTargetPort && fConnScheme == fTargetScheme;
    if (OnLocationChange) {
        OnLocationChange(*this);
    }
    ResetResponse();
    fCloseReq = fRequestVer == "1.0";
    if (ReceiveStream) {
        // Only the final body stays in the stream.
        ReceiveStream->SetSize(fStreamStartSize);
        ReceiveStream->Seek(fStreamStartSize);
        fStreamStartSize = ReceiveStream->Size();
    }
    if (reuse) {
        if (SetState(httpConnected) && SetState(httpWaitingHeader)) {
            SendRequest();
        }
        return;
    }
    if (fConnected) {
        fSocket.Abort();
        fConnected = false;
    }
    if (SetState(httpNotConnected)) {
        PostForRequest([this] { Connect(); });
    }
}

void THttpCli::FailRequest(int statusCode, const std::string& reason, std::uint16_t error) {
    fStatusCode = statusCode;
    fReasonPhrase = reason;
    fRequestDoneError = error;
    SetReady();
}

void THttpCli::TimedOut() {
    if (fState == httpReady || fEnding) {
        return;
    }
    fSocket.Abort();
    fConnected = false;
    FailRequest(404, SocketErrorMessage(kWsaETimedOut), kWsaETimedOut);
}

void THttpCli::SetReady() {
    if (fEnding) {
        return;
    }
    fEnding = true;
    fTimeout.stop();
    PostForRequest([this] {
        SetState(httpReady);
        if (fWaitLoop) {
            fWaitLoop->quit();
        }
        Post([this, request = fRequestType, error = fRequestDoneError] {
            if (OnRequestDone) {
                OnRequestDone(*this, request, error);
            }
        });
    });
}

void THttpCli::Abort() {
    if (fState == httpReady) {
        if (fConnected) {
            fSocket.Abort();
            fConnected = false;
        }
        fStatusCode = 200;
        fReasonPhrase = "OK";
        fRequestDoneError = 0;
        if (OnRequestDone) {
            OnRequestDone(*this, httpABORT, 0);
        }
        return;
    }
    ++fRequestSeq;  // steps posted for this request vanish
    SetState(httpAborting);
    fSocket.Abort();
    fConnected = false;
    fTimeout.stop();
    fEnding = false;
    fStatusCode = 404;
    fReasonPhrase = "Connection aborted on request";
    fRequestDoneError = kErrorAborted;
    SetState(httpReady);
    if (fWaitLoop) {
        fWaitLoop->quit();
    }
    Post([this, request = fRequestType] {
        if (OnRequestDone) {
            OnRequestDone(*this, request, kErrorAborted);
        }
    });
}

}  // namespace gx
