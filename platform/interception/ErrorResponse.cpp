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

}  // namespace gx::interception
