#include "platform/interception/Http1ResponseReader.h"

#include <algorithm>
#include <charconv>

#include "platform/interception/HttpText.h"
#include "platform/text/AsciiText.h"

namespace gx::interception {
namespace {

constexpr size_t kMaxHead = 64 * 1024;

}  // namespace

bool ReadFieldBlock(std::string_view block, Http2Fields& fields) {
    while (!block.empty()) {
        const size_t end = block.find("\r\n");
        const std::string_view line = block.substr(0, end);
        block = end == std::string_view::npos ? std::string_view() : block.substr(end + 2);
        if (line.empty()) {
            continue;
        }
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) {
            return false;
        }
        fields.emplace_back(LowerName(line.substr(0, colon)),
                            std::string(ascii::Trim(line.substr(colon + 1))));
    }
    return true;
}

Http2Fields ForHttp2(const Http2Fields& fields) {
    std::string connectionTokens;
    for (const auto& [name, value] : fields) {
        if (name == "connection") {
            connectionTokens += value + ",";
        }
    }
    Http2Fields kept;
    for (const auto& [name, value] : fields) {
        if (name == "connection" || name == "keep-alive" || name == "proxy-connection" ||
            name == "transfer-encoding" || name == "upgrade" || name == "host" ||
            (name == "te" && value != "trailers") || HasToken(connectionTokens, name)) {
            continue;
        }
        kept.emplace_back(name, value);
    }
    return kept;
}

std::string LowerName(std::string_view name) {
    return ascii::Lower(name);
}

bool Http1ResponseReader::Feed(const char* data, size_t n, Sink& sink) {
    if (!HeadSeen()) {
        const size_t before = head_.size();
        head_.append(data, std::min(n, kMaxHead + 4 - before));
        const size_t end = FindHeadEnd(head_, before >= 3 ? before - 3 : 0);
        if (end == std::string::npos) {
            return head_.size() <= kMaxHead;
        }
        data += end - before;
        n -= end - before;
        head_.resize(end);
        if (!TakeHead(sink)) {
            return false;
        }
        if (!HeadSeen()) {
            return Feed(data, n, sink);  // an interim response: the final one follows
        }
    }
    return body_.Feed(data, n, sink);
}

bool Http1ResponseReader::TakeHead(Sink& sink) {
    ResponseHead parsed;
    if (ParseResponseHead(head_, method_, parsed) != 0) {
        return false;
    }
    const size_t lineEnd = head_.find("\r\n");
    Http2Fields fields;
    if (!ReadFieldBlock(std::string_view(head_).substr(lineEnd + 2), fields)) {
        return false;
    }
    head_.clear();
    if (parsed.status >= 100 && parsed.status < 200) {
        return true;  // interim: the final response follows
    }
    sink.Head(parsed.status, ForHttp2(fields), Http1BodyReader::HasBytes(parsed.body));
    body_.Start(parsed.body);
    headSeen_ = true;
    return true;
}

void Http1ResponseReader::Finish(Sink& sink) {
    body_.Finish(sink);
}

}  // namespace gx::interception
