#include "engine/BlockPage.h"

#include <algorithm>
#include <array>
#include <string>

#include "engine/TPFHeader.h"

namespace gx {
namespace {

// The fixed pieces of the page, Windows-1252 bytes (\xE9 = é, \xE8 = è, \xE0 = à).
constexpr std::string_view kPageHead =
    "<html><body bgcolor=\"#f0f0f0\"><center><h1>Gardalix: contenu bloqu\xE9</h1><br>"
    "Pour votre s\xE9"
    "curit\xE9 Gardalix a bloqu\xE9 l'acc\xE8s \xE0 l'adresse <font color=\"#FF0000\">";
constexpr std::string_view kPageAfterAddress = "</font><br><br>";
constexpr std::string_view kPageBeforeReason = "<b>Motif : ";
constexpr std::string_view kPageAfterReason = "</b>";
constexpr std::string_view kPageTail = "</center></body></html>";

constexpr size_t kFixedPiecesSize = kPageHead.size() + kPageAfterAddress.size() +
                                    kPageBeforeReason.size() + kPageAfterReason.size() +
                                    kPageTail.size();
constexpr std::string_view kCutMark = "...";

constexpr char kStatusLine[] = "HTTP/1.1 404 Not OK";

// The escaped text, cut to at most `budget` bytes when it is longer: whole entities only, then
// "..." (which counts in the budget).
std::string EscapeWithin(std::string_view text, size_t budget) {
    std::string escaped = EscapeHtml(text);
    if (escaped.size() <= budget)
        return escaped;
    size_t keep = budget >= kCutMark.size() ? budget - kCutMark.size() : 0;
    size_t entityStart = escaped.rfind('&', keep);
    if (entityStart != std::string::npos && escaped.find(';', entityStart) >= keep) {
        keep = entityStart;  // the cut would fall inside this entity
    }
    escaped.resize(keep);
    if (budget >= kCutMark.size())
        escaped += kCutMark;
    return escaped;
}

}  // namespace

std::string EscapeHtml(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string BlockPageText(std::string_view url, std::string_view reason) {
    static_assert(kFixedPiecesSize == 208, "the fixed pieces of the page take 208 bytes");
    constexpr size_t room = kBlockPageBodySize - kFixedPiecesSize;
    std::string escapedReason = EscapeWithin(reason, room / 2);  // the reasons are short texts
    std::string escapedUrl = EscapeWithin(url, room - escapedReason.size());
    std::string page;
    page.reserve(kFixedPiecesSize + escapedUrl.size() + escapedReason.size());
    page.append(kPageHead).append(escapedUrl).append(kPageAfterAddress);
    page.append(kPageBeforeReason).append(escapedReason).append(kPageAfterReason);
    page.append(kPageTail);
    return page;
}

bool WriteFirstLine(const TPFObject& object, std::string_view text) {
    TPFStream stream = object.GetStream(HS_STATUS);
    if (!stream)
        return false;
    stream.Reset();
    std::string line(text);
    line += "\r\n";
    stream.Write(line);
    return true;
}

bool SendBlockPage(std::string_view url, std::string_view reason, ENDPOINT_ID id) {
    TPFObject response(OT_HTTP_RESPONSE, 3);
    WriteFirstLine(response, kStatusLine);

    // The body is the page text followed by zero bytes; Content-Length counts the text alone, up
    // to its first zero byte, so the padding never reaches the client.
    std::string page = BlockPageText(url, reason);
    std::array<char, kBlockPageBodySize> body{};
    size_t pageLength = page.copy(body.data(), body.size());
    pageLength = std::find(body.begin(), body.begin() + pageLength, '\0') - body.begin();

    {
        TPFHeader header;
        header.AddField("Content-Type", "text/html");
        header.AddField("Content-Length", std::to_string(pageLength).c_str());
        header.AddField("Connection", "Close");
        header.WriteToStream(response.GetStream(HS_HEADER));
    }
    TPFStream content = response.GetStream(HS_CONTENT);
    content.Write(body.data(), static_cast<uint32_t>(body.size()));
    response.Post(id);
    return true;
}

}  // namespace gx
