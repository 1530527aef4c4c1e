#include "platform/interception/Http1ResponseReader.h"

#include <charconv>

#include "platform/interception/HttpText.h"
#include "platform/text/AsciiText.h"
#include "platform/text/Hex.h"

namespace gx::interception {
namespace {

constexpr size_t kMaxHead = 64 * 1024;
constexpr size_t kMaxLine = 64 * 1024;

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
    std::string_view rest(data, n);
    while (!rest.empty()) {
        switch (state_) {
            case State::Head: {
                const size_t before = head_.size();
                head_.append(rest.substr(0, std::min(rest.size(), kMaxHead + 4 - before)));
                const size_t end = FindHeadEnd(head_, before >= 3 ? before - 3 : 0);
                if (end == std::string::npos) {
                    if (head_.size() > kMaxHead) {
                        return false;
                    }
                    return true;
                }
                rest.remove_prefix(end - before);
                head_.resize(end);
                if (!TakeHead(sink)) {
                    return false;
                }
                break;
            }
            case State::Length: {
                const size_t take = static_cast<size_t>(std::min<uint64_t>(left_, rest.size()));
                sink.Body(rest.data(), take);
                rest.remove_prefix(take);
                left_ -= take;
                if (left_ == 0) {
                    End(sink);
                }
                break;
            }
            case State::UntilClose:
                sink.Body(rest.data(), rest.size());
                rest = {};
                break;
            case State::Ended:
                return true;  // nothing may follow: what does is dropped
            default:
                if (!TakeChunked(rest, sink)) {
                    return false;
                }
                break;
        }
    }
    return true;
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
    const bool withBody = parsed.body.kind != BodyKind::None &&
                          !(parsed.body.kind == BodyKind::Length && parsed.body.length == 0);
    sink.Head(parsed.status, ForHttp2(fields), withBody);
    switch (parsed.body.kind) {
        case BodyKind::None:
            state_ = State::Ended;
            break;
        case BodyKind::Length:
            left_ = parsed.body.length;
            state_ = State::Length;
            if (left_ == 0) {
                state_ = State::Ended;
            }
            break;
        case BodyKind::Chunked:
            state_ = State::Size;
            line_.clear();
            break;
        case BodyKind::UntilClose:
            state_ = State::UntilClose;
            break;
    }
    if (withBody && state_ == State::Ended) {
        sink.End({});
    }
    return true;
}

// Lines up to LF (CR dropped), chunk data by count.
bool Http1ResponseReader::TakeChunked(std::string_view& rest, Sink& sink) {
    if (state_ == State::Data) {
        const size_t take = static_cast<size_t>(std::min<uint64_t>(left_, rest.size()));
        sink.Body(rest.data(), take);
        rest.remove_prefix(take);
        left_ -= take;
        if (left_ == 0) {
            state_ = State::DataEnd;
        }
        return true;
    }
    const size_t lf = rest.find('\n');
    line_.append(rest.substr(0, lf));
    if (line_.size() > kMaxLine) {
        return false;
    }
    if (lf == std::string_view::npos) {
        rest = {};
        return true;
    }
    rest.remove_prefix(lf + 1);
    std::string line = std::move(line_);
    line_.clear();
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    switch (state_) {
        case State::Size:
        case State::SizeLine: {
            uint64_t size = 0;
            size_t digits = 0;
            while (digits < line.size() && HexValue(line[digits]) >= 0 && digits < 15) {
                size = size * 16 + static_cast<uint64_t>(HexValue(line[digits]));
                ++digits;
            }
            if (digits == 0) {
                return false;
            }
            left_ = size;
            state_ = size == 0 ? State::Trailers : State::Data;
            return true;
        }
        case State::DataEnd:
            if (!line.empty()) {
                return false;
            }
            state_ = State::Size;
            return true;
        case State::Trailers:
            if (line.empty()) {
                state_ = State::Ended;
                sink.End(ForHttp2(trailers_));
                return true;
            }
            return ReadFieldBlock(line, trailers_);
        default:
            return false;
    }
}

void Http1ResponseReader::End(Sink& sink) {
    state_ = State::Ended;
    sink.End({});
}

void Http1ResponseReader::Finish(Sink& sink) {
    if (state_ == State::UntilClose) {
        End(sink);
    }
}

}  // namespace gx::interception
