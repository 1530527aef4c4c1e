// THttpCli: the program's HTTP/1.0 client. One request at a time per instance, driven by the
// socket events of the main thread; Get() starts a GET request and keeps the application's
// events flowing until the request has ended, then raises EHttpException on a failure.
// Texts are Windows-1252 bytes. Proxies, authentication, SOCKS, content decoding, throttling and
// POST/PUT/HEAD are not offered: the program never uses them.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <QObject>
#include <QTimer>

#include "http/Streams.h"
#include "http/WSocket.h"

class QEventLoop;

namespace gx {

class EHttpException : public std::runtime_error {
  public:
    EHttpException(const std::string& message, std::uint16_t errorCode)
        : std::runtime_error(message), fErrorCode(errorCode) {}
    std::uint16_t ErrorCode() const { return fErrorCode; }

  private:
    std::uint16_t fErrorCode;
};

enum THttpState {
    httpReady,
    httpNotConnected,
    httpConnected,
    httpDnsLookup,
    httpDnsLookupDone,
    httpWaitingHeader,
    httpWaitingBody,
    httpBodyReceived,
    httpWaitingProxyConnect,
    httpClosing,
    httpAborting,
};

enum THttpRequest { httpABORT, httpGET, httpPOST, httpPUT, httpHEAD, httpCLOSE };

class THttpCli {
  public:
    static constexpr int kDefaultTimeoutMs = 30000;
    static constexpr std::size_t kMaxHeaderBytes = 64 * 1024;

    explicit THttpCli(std::string name = "HTTP");
    ~THttpCli();
    THttpCli(const THttpCli&) = delete;
    THttpCli& operator=(const THttpCli&) = delete;

    // Configuration: what callers may set before a request.
    std::string Name;
    std::string URL;
    Stream* ReceiveStream = nullptr;  // the caller's; never freed here
    std::string Agent = "Mozilla/4.0 (compatible; ICS)";
    std::string Accept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
    bool NoCache = false;
    std::time_t ModifiedSince = 0;  // sent as If-Modified-Since when not 0
    bool FollowRelocation = true;
    int LocationChangeMaxCount = 5;
    std::string LocalAddr = "0.0.0.0";
    std::string Username, Password;
    std::string Proxy, ProxyUsername, ProxyPassword;
    std::string ProxyPort = "80";
    std::string Sender, Reference, Connection, ProxyConnection, AcceptLanguage, Cookie;
    std::string ContentRangeBegin, ContentRangeEnd;  // asked for, then answered
    std::string ContentTypePost = "application/x-www-form-urlencoded";
    // The longest wait for a connection (name resolution included) and the longest silence
    // while a response is awaited; past it the request fails as "Connection timed out".
    int TimeoutMs = kDefaultTimeoutMs;

    const std::string& RequestVer() const { return fRequestVer; }
    // "1.0" or "1.1"; any other value raises "Insupported HTTP version" (code 5).
    void SetRequestVer(const std::string& version);

    // Results of the last request.
    int StatusCode() const { return fStatusCode; }
    const std::string& ReasonPhrase() const { return fReasonPhrase; }
    std::int64_t ContentLength() const { return fContentLength; }
    const std::string& ContentType() const { return fContentType; }
    const std::string& Location() const { return fLocation; }
    const std::vector<std::string>& RcvdHeader() const { return fRcvdHeader; }
    const std::string& AcceptRanges() const { return fAcceptRanges; }
    int LocationChangeCurCount() const { return fLocationChangeCurCount; }
    THttpState State() const { return fState; }

    void Get();
    void Abort();

    // Events; each receives the client.
    std::function<void(THttpCli&)> OnStateChange;
    std::function<void(THttpCli&)> OnSessionConnected;
    std::function<void(THttpCli&)> OnRequestHeaderBegin;
    std::function<void(THttpCli&, const std::string& method, std::vector<std::string>& headers)>
        OnBeforeHeaderSend;
    std::function<void(THttpCli&, std::string& line)> OnCommand;
    std::function<void(THttpCli&)> OnRequestHeaderEnd;
    std::function<void(THttpCli&)> OnHeaderBegin;
    std::function<void(THttpCli&)> OnHeaderData;
    std::function<void(THttpCli&)> OnHeaderEnd;
    std::function<void(THttpCli&, const std::string& data, bool& accept)> OnCookie;
    std::function<void(THttpCli&)> OnDocBegin;
    std::function<void(THttpCli&, const char* buffer, int length)> OnDocData;
    std::function<void(THttpCli&)> OnDocEnd;
    std::function<void(THttpCli&)> OnLocationChange;
    std::function<void(THttpCli&, int relocationCount, bool& allowMoreRelocations)>
        OnLocationChangeExceeded;
    std::function<void(THttpCli&)> OnSessionClosed;
    std::function<void(THttpCli&, THttpRequest requestType, std::uint16_t errCode)> OnRequestDone;
    std::function<void(THttpCli&)> OnDataPush2;
    std::function<void(THttpCli&)> OnSocketError;

  private:
    void StartRequest(THttpRequest request);
    void ResetResponse();
    void Connect();
    void SendRequest();
    std::vector<std::string> BuildRequestLines() const;

    void SocketDnsLookupDone(std::uint16_t error);
    void SocketSessionConnected(std::uint16_t error);
    void SocketDataAvailable(std::uint16_t error);
    void SocketSessionClosed(std::uint16_t error);

    void ReceiveHeaderBytes(const char* data, std::size_t length);
    void GetHeaderLineNext(const std::string& line);
    bool ParseStatusLine(const std::string& line);  // false when the connection was dropped
    void ParseHeaderField(const std::string& line);
    void NoteLocation(const std::string& value);
    void HeaderComplete();
    void ReceiveBodyBytes(const char* data, std::size_t length);
    void GetBodyLineNext(const char* data, std::size_t length);
    void DecodeChunked(const char* data, std::size_t length);
    void WriteBody(const char* data, std::size_t length);
    void BodyComplete();
    void ResponseRead();
    void StartRelocation();
    void CloseConnection();
    void DropConnection(std::uint16_t error);
    void FailRequest(int statusCode, const std::string& reason, std::uint16_t error);
    void TimedOut();
    void SetReady();
    // Both return false when a handler of the event aborted the request: stop there.
    bool SetState(THttpState state);
    bool Fire(const std::function<void(THttpCli&)>& event);
    bool BodyExpected() const;
    bool StillReading(std::uint64_t responseSeq) const;
    template <typename F>
    void Post(F step);
    template <typename F>
    void PostForRequest(F step);

    std::string fRequestVer = "1.0";
    THttpState fState = httpReady;
    THttpRequest fRequestType = httpGET;

    // The request's target, from URL and relocations.
    std::string fTargetScheme, fTargetHost, fTargetPort, fPath;
    // The open connection.
    std::string fConnScheme, fConnHost, fConnPort;
    bool fConnected = false;

    int fStatusCode = 0;
    std::string fReasonPhrase;
    std::int64_t fContentLength = -1;
    std::string fContentType;
    std::string fLocation;
    std::vector<std::string> fRcvdHeader;
    std::string fAcceptRanges;
    int fLocationChangeCurCount = 0;
    std::string fResponseVer;
    std::string fTransferEncoding, fContentEncoding;

    std::string fLine;  // header line being received, at most 8190 bytes kept
    bool fLineTruncated = false;
    std::size_t fHeaderBytes = 0;
    int fHeaderLineCount = 0;
    int fBodyLineCount = 0;
    std::int64_t fRcvdCount = 0;
    std::int64_t fStreamStartSize = 0;
    bool fCloseReq = true;
    bool fLocationChangePending = false;
    bool fInHeader = false;
    bool fEnding = false;  // the request's end is decided; bytes still arriving are ignored
    std::uint16_t fRequestDoneError = 0;

    std::int64_t fChunkLength = 0;
    std::int64_t fChunkRcvd = 0;
    int fChunkState = 0;

    std::uint64_t fRequestSeq = 0;
    std::uint64_t fResponseSeq = 0;  // a new response begins: bytes of the old one are dropped
    QEventLoop* fWaitLoop = nullptr;
    TWSocket fSocket;
    QTimer fTimeout;
    QObject fContext;  // owner of posted steps: they vanish with the client
};

}  // namespace gx
