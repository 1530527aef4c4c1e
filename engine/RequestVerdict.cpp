#include "engine/RequestVerdict.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "engine/AccountPolicy.h"
#include "engine/BlockHandOff.h"
#include "engine/BlockPage.h"
#include "engine/RequestSpellings.h"
#include "engine/TPFHeader.h"
#include "lists/ProductSite.h"
#include "platform/codepage/Cp1252.h"

namespace gx {
namespace {

void Block(std::string_view url, std::string_view reason, ENDPOINT_ID id) {
    SendBlockPage(url, reason, id);
    // The system names files in UTF-8; the engine's texts are Windows-1252. A path that the code
    // page cannot hold is kept byte for byte.
    ConnectionProgram program = ProgramOfConnection(id);
    if (auto cp1252 = Utf8ToCp1252(program.path))
        program.path = std::move(*cp1252);
    RecordBlock(url, reason, program);
}

// The request target: after the first space, up to the next space or the end of the line. The
// line's own CR LF is not part of it (a request line with a single space would otherwise carry
// it into the address).
std::string_view RequestTarget(std::string_view line) {
    if (size_t end = line.find_first_of("\r\n"); end != std::string_view::npos) {
        line = line.substr(0, end);
    }
    size_t firstSpace = line.find(' ');
    if (firstSpace == std::string_view::npos)
        return {};
    std::string_view rest = line.substr(firstSpace + 1);
    return rest.substr(0, rest.find(' '));
}

}  // namespace

std::string ReadFirstLine(const TPFObject& object) {
    TPFStream stream = object.GetStream(HS_STATUS);
    if (!stream)
        return {};
    auto size = static_cast<uint32_t>(stream.Size());  // the low 32 bits
    std::string line(size, '\0');
    stream.Seek(0);
    line.resize(stream.Read(line.data(), size));
    line.resize(std::strlen(line.c_str()));  // up to the first zero byte
    return line;
}

std::string GetRequestUrl(const TPFObject& object) {
    if (object.GetType() != OT_HTTP_REQUEST)
        return {};
    std::string host;
    {
        TPFHeader header;
        if (header.ReadFromStream(object.GetStream(HS_HEADER)))
            host = header.GetFieldValue("host");
    }
    std::string line = ReadFirstLine(object);
    std::string_view target = RequestTarget(line);
    if (target.starts_with("http"))
        return std::string(target);
    host.append(target);
    return host;
}

std::string GetServerUrl(const TPFObject& object) {
    if (object.GetType() != OT_HTTP_REQUEST)
        return {};
    TPFStream stream = object.GetStream(kServerStream);
    if (!stream)
        return {};
    std::string server(static_cast<uint32_t>(stream.Size()), '\0');
    stream.Seek(0);
    server.resize(stream.Read(server.data(), static_cast<uint32_t>(server.size())));
    if (server.empty())
        return {};
    std::string line = ReadFirstLine(object);
    std::string_view target = RequestTarget(line);
    if (target.starts_with("http")) {
        // An absolute target names a host of its own; the server's address keeps only its path.
        size_t authority = target.find("://");
        target = authority == std::string_view::npos
                     ? std::string_view{}
                     : target.substr(std::min(target.find('/', authority + 3), target.size()));
    }
    server.append(target);
    return server;
}

bool CheckRequest(const TPFObject& object, ENDPOINT_ID id) {
    const std::string url = GetRequestUrl(object);
    const std::string serverUrl = GetServerUrl(object);  // the spellings look into both
    // One whole policy for the whole request, read once.
    const AccountPolicy policy = PolicyOfConnection(id);
    if (!policy.protection) {
        return false;
    }
    const RequestSpellings spellings(url, serverUrl);
    if (spellings.IsMalware()) {
        Block(url, url == kTestPageAddress ? kReasonTestPage : kReasonMalware, id);
        return true;
    }
    if (policy.childProtection && spellings.IsAdult()) {
        Block(url, kReasonAdult, id);
        return true;
    }
    return false;
}

void dataAvailable(ENDPOINT_ID id, PFObject* object) {
    TPFObject request(object);
    if (request.IsReadOnly())
        return;
    try {
        // A blocked request stays here: posting it would hand the user's request (cookies, form
        // data) to the very site that was blocked.
        if (request.GetType() == OT_HTTP_REQUEST && CheckRequest(request, id))
            return;
    } catch (...) {
        return;  // not judged, so not sent on (out of memory is the only way here)
    }
    request.Post(id);
}

PF_DATA_PART_CHECK_RESULT dataPartAvailable(ENDPOINT_ID id, PFObject* object) {
    TPFObject request(object);
    if (request.GetType() != OT_HTTP_REQUEST)
        return DPCR_FILTER_READ_ONLY;
    try {
        return CheckRequest(request, id) ? DPCR_BLOCK : DPCR_BYPASS;
    } catch (...) {
        // Not judged, so it must not travel; and nothing answers it either, so the library ends
        // the connection at once rather than leave the client waiting for a time-out.
        return DPCR_BLOCK;
    }
}

}  // namespace gx
