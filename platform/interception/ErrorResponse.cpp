// The short answers of the proxy itself, for requests it refuses or cannot carry.
#include <string>

#include "platform/interception/HttpHead.h"

namespace gx::interception {

std::string ErrorResponse(int status) {
    const char* reason = "Bad Request";
    // French texts in Windows-1252, as every text the program shows.
    const char* text =
        "Gardalix : requ\xEAte refus\xE9"
        "e (mal form\xE9"
        "e).";
    switch (status) {
        case 408:
            reason = "Request Timeout";
            text =
                "Gardalix : la requ\xEAte n'est pas arriv\xE9"
                "e \xE0 temps.";
            break;
        case 413:
            reason = "Content Too Large";
            text = "Gardalix : requ\xEAte trop volumineuse.";
            break;
        case 421:
            reason = "Misdirected Request";
            text =
                "Gardalix : requ\xEAte refus\xE9"
                "e, elle vise un autre site que celui de la connexion.";
            break;
        case 431:
            reason = "Request Header Fields Too Large";
            text = "Gardalix : en-t\xEAte de requ\xEAte trop long.";
            break;
        case 502:
            reason = "Bad Gateway";
            text = "Gardalix : le serveur est injoignable ou a mal r\xE9pondu.";
            break;
        case 504:
            reason = "Gateway Timeout";
            text = "Gardalix : le serveur ne r\xE9pond pas.";
            break;
        case 505:
            reason = "HTTP Version Not Supported";
            text = "Gardalix : version HTTP non prise en charge.";
            break;
        case 508:
            reason = "Loop Detected";
            text =
                "Gardalix : requ\xEAte adress\xE9"
                "e au filtre lui-m\xEAme.";
            break;
        default:
            status = 400;
            break;
    }
    std::string body = text;
    body += "\r\n";
    return "HTTP/1.1 " + std::to_string(status) + " " + reason +
           "\r\nContent-Type: text/plain; charset=windows-1252\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// The site's certificate did not verify: nothing is relayed, and the page says which site and
// why, as a browser would before it lets anyone go on.
std::string CertificateErrorResponse(const std::string& host, const std::string& reason) {
    std::string escapedHost;
    for (char c : host) {
        switch (c) {
            case '<':
                escapedHost += "&lt;";
                break;
            case '>':
                escapedHost += "&gt;";
                break;
            case '&':
                escapedHost += "&amp;";
                break;
            case '"':
                escapedHost += "&quot;";
                break;
            default:
                escapedHost += c;
        }
    }
    std::string body =
        "<html><head><meta charset=\"windows-1252\"><title>Gardalix : site non v\xE9rifi\xE9"
        "</title></head><body><h1>Connexion s\xE9"
        "curis\xE9"
        "e impossible</h1><p>Gardalix n'a pas ouvert le site <b>" +
        escapedHost + "</b> : " + reason +
        ".</p><p>Quelqu'un pourrait se faire passer pour ce site ; rien ne lui a \xE9t\xE9 "
        "envoy\xE9.</p></body></html>\r\n";
    return "HTTP/1.1 502 Bad Gateway\r\nContent-Type: text/html; charset=windows-1252\r\n"
           "Content-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

}  // namespace gx::interception
